#!/usr/bin/env bash
# scripts/soak on a test binary whose second repeat fails: the failure names that repeat and its
# seed, and the command printed under it runs the binary again through that repeat, in the same
# orders, and fails the same way.
#   soak_rerun.sh SOURCE_ROOT
# The binary stands in for a test binary: it announces its repeats and seeds as the test framework
# does, and fails its second repeat.
set -uo pipefail
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
mkdir -p "$work/build dir"
cat >"$work/build dir/flaky_tests" <<'BINARY'
#!/usr/bin/env bash
for a; do case $a in --gtest_random_seed=*) seed=${a#*=} ;; --gtest_repeat=*) n=${a#*=} ;; esac; done
echo "$@" >>"$(dirname "$0")/runs"
for ((i = 1; i <= n; i++)); do
  [ "$n" = 1 ] || printf '\nRepeating all tests (iteration %d) . . .\n\n' "$i"
  echo "Note: Randomizing tests' orders with a seed of $((seed + i - 1)) ."
  if [ "$i" = 2 ]; then echo "[  FAILED  ] Flaky.OnItsSecondRepeat (3 ms)"; status=1; fi
done
exit ${status:-0}
BINARY
chmod +x "$work/build dir/flaky_tests"

BUILD_DIR="$work/build dir" "$root/scripts/soak" -l -n 4 >"$work/soak.txt" 2>&1 && fail "scripts/soak passed a failing binary"
line=$(grep '^flaky_tests ' "$work/soak.txt")
seed=$(sed -n 's/^Note: .* seed of \([0-9]*\) .$/\1/p' "$work/build dir/soak-flaky_tests.log" | sed -n 2p)
[ "$line" = "flaky_tests repeat 2 of 4 (seed $seed): Flaky.OnItsSecondRepeat" ] ||
  fail "the failure line is \"$line\", not repeat 2 with seed $seed: $(cat "$work/soak.txt")"
rerun=$(sed -n 's/^  rerun: //p' "$work/soak.txt")
[ -n "$rerun" ] || fail "no command to rerun the failure: $(cat "$work/soak.txt")"
: >"$work/build dir/runs"
(eval "$rerun") >"$work/rerun.txt" 2>&1 && fail "the rerun command passed: $rerun"
grep -q "seed of $seed .\$" "$work/rerun.txt" || fail "the rerun did not reach seed $seed: $rerun"
grep -qF '[  FAILED  ] Flaky.OnItsSecondRepeat' "$work/rerun.txt" || fail "the rerun did not fail the same test: $rerun"
grep -q -- '--gtest_repeat=2$' "$work/build dir/runs" || fail "the rerun ran beyond the failed repeat: $(cat "$work/build dir/runs")"
echo "soak rerun: a failure names its repeat and seed, and its command runs it again"
