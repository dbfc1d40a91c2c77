#!/usr/bin/env bash
# scripts/run as the first process of its own process space (as in a container, where its id is
# 1): the services and the reader take it as their parent and the run plays. And each program
# asks for a process id when --parent comes without one.
#   first_process.sh SOURCE_ROOT NEWSD NEWSREADER SHARINGD PUSHD QQCONNECTD
# Exits 77 (skipped) after the programs' checks when this system gives no process space of one's own.
set -uo pipefail
source "$(dirname "$0")/run_copy.sh" "$@"

for program in "$newsd" "$reader" "${services[@]}"; do
  "$program" --parent >/dev/null 2>"$work/parent-err.txt" && fail "$(basename "$program") --parent ended with 0"
  grep -qF -- '--parent takes a process id' "$work/parent-err.txt" ||
    fail "$(basename "$program") --parent said: $(cat "$work/parent-err.txt")"
done

if ! unshare --pid --fork --mount-proc --map-root-user true 2>/dev/null; then
  echo "first process: no process space of our own here (unshare --pid --map-root-user); skipped"
  exit 77
fi
# Its work folder stays while a run of this process space starts beside it: there, its process
# number names another process, which says nothing of whether the run has ended.
export TMPDIR="$work/tmp"
mkdir "$TMPDIR"
mkfifo "$work/in"
unshare --pid --fork --mount-proc --map-root-user "$run" "$work/home-space" <"$work/in" >"$out" 2>"$work/err.txt" &
pid=$!
exec 3>"$work/in"
say menu
kept=$(find "$TMPDIR" -mindepth 1 -maxdepth 1 -type d)
[ -n "$kept" ] || fail "scripts/run as process 1 made no work folder"
printf 'quit\n' | "$run" "$work/home-beside" >/dev/null 2>"$work/beside.txt" ||
  fail "a run beside one as process 1 failed: $(tail -n 5 "$work/beside.txt")"
[ -d "$kept" ] || fail "a run beside one as process 1 removed its work folder $kept"
stop_reader
: >"$out"

printf 'quit\n' | unshare --pid --fork --mount-proc --map-root-user "$run" "$work/home" >"$out" 2>"$work/err.txt" ||
  fail "scripts/run as process 1 failed: $(tail -n 5 "$work/err.txt")"
grep -q '=== screen ===' "$out" || fail "scripts/run as process 1 showed no screen: $(tail -n 5 "$work/err.txt")"
grep -q -- '--parent\|did not start' "$work/err.txt" && fail "scripts/run as process 1: $(cat "$work/err.txt")"
echo "first process: scripts/run runs as process 1; --parent without an id asks for one"
