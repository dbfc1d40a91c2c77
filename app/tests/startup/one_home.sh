#!/usr/bin/env bash
# scripts/run on one home, driven through a pipe: while a run holds the home, a second run and a
# reader alone on it are refused at once, naming a process of the first run, and play nothing; the
# first run's favourite is there for the next run once it ends. With -v, standard error sent to a
# file keeps every service's lines whole.
# Killed outright, a run takes its services and its reader with it, so the next run starts.
#   one_home.sh SOURCE_ROOT NEWSD NEWSREADER SHARINGD PUSHD QQCONNECTD
set -uo pipefail
source "$(dirname "$0")/run_copy.sh" "$@"

# The parent of a process, from /proc.
parent() { awk '{print $4}' "/proc/$1/stat" 2>/dev/null; }
# refused WHAT OUTPUT ERRORS STATUS PATTERN: a start on the home in use ended with a failure,
# printed no screen, and named in its errors, after PATTERN, a live process of the first run.
refused() {
  local what=$1 output=$2 errors=$3 status=$4 pattern=$5 holder
  [ "$status" -ne 0 ] || fail "$what on a home in use ended with 0"
  [ -s "$output" ] && fail "$what on a home in use printed: $(head -n 5 "$output")"
  holder=$(sed -n "s/.*$pattern (process \([0-9]*\)).*/\1/p" "$errors" | head -n1)
  [ -n "$holder" ] || fail "$what did not say which process holds the home: $(cat "$errors")"
  [ "$(parent "$holder")" = "$pid" ] || fail "$what named process $holder, not one the first run started"
}

# The first run, kept open on the pipe; a favourite marked in it.
mkfifo "$work/in"
"$run" "$home" <"$work/in" >"$out" 2>"$work/err.txt" &
pid=$!
exec 3>"$work/in"
favourite_first_article

# A second run on the same home: refused before it starts the other services or the reader.
printf 'tap 中国军情\ntap row 1\ntap 收藏\nquit\n' | "$run" "$home" >"$work/second.txt" 2>"$work/second-err.txt"
refused 'a second scripts/run' "$work/second.txt" "$work/second-err.txt" $? 'kept by another news server'
grep -q 'listening' "$work/second-err.txt" && fail "the second run started a service: $(cat "$work/second-err.txt")"
# The reader alone on it: refused by the home's own lock.
printf 'quit\n' | "$reader" --home "$home" --server http://127.0.0.1:9 >"$work/alone.txt" 2>"$work/alone-err.txt"
refused 'a reader alone' "$work/alone.txt" "$work/alone-err.txt" $? 'in use by another reader'

say back
say menu
say 'tap 收藏'
said "$title" 'tap 收藏 (the menu, first run)'
stop_reader

# The first run over, the home is free: the next run starts and has the favourite.
printf 'menu\ntap 收藏\nquit\n' | "$run" "$home" >"$work/third.txt" 2>"$work/third-err.txt" ||
  fail "a run after the first ended failed: $(tail -n 5 "$work/third-err.txt")"
grep -qF -- "$title" "$work/third.txt" || fail "the next run does not list the favourite: $(tail -n 20 "$work/third.txt")"

# Verbose, standard error to a file: every service's line is there, and nothing wrote over them.
printf 'quit\n' | "$run" -v "$home" >/dev/null 2>"$work/verbose.txt" || fail "scripts/run -v failed: $(tail -n 5 "$work/verbose.txt")"
[ "$(tr -d '\000' <"$work/verbose.txt" | wc -c)" = "$(wc -c <"$work/verbose.txt")" ] ||
  fail "scripts/run -v 2>FILE left NUL bytes in FILE"
for line in 'newsd: listening on' "scripts/run: the push service's control port is" 'qqconnectd: listening on'; do
  grep -qF -- "$line" "$work/verbose.txt" || fail "scripts/run -v 2>FILE lost the line \"$line\": $(head -c 2000 "$work/verbose.txt" | tr '\000' '@')"
done
# -v also puts the push service's own messages on standard error.
grep -qF -- 'pushd: ' "$work/verbose.txt" || fail "scripts/run -v did not put the push service's messages on standard error"

# A run killed outright (no trap of its own runs): its services and reader end with it, and the
# next run on the home is not refused for an orphan holding it.
# A process that still runs (a zombie waiting for its reaper has ended).
alive() { [ -e "/proc/$1" ] && [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" != Z ]; }
mkfifo "$work/killed-in"
"$run" "$home" <"$work/killed-in" >"$work/killed.txt" 2>"$work/killed-err.txt" &
killed=$!
exec 5>"$work/killed-in"
for _ in $(seq 600); do grep -q '=== screen ===' "$work/killed.txt" && break; sleep 0.1; done
grep -q '=== screen ===' "$work/killed.txt" || fail "the run to be killed showed no screen: $(tail -n 5 "$work/killed-err.txt")"
children=
for stat in /proc/[0-9]*/stat; do
  [ "$(awk '{print $4}' "$stat" 2>/dev/null)" = "$killed" ] && children="$children $(basename "$(dirname "$stat")")"
done
[ "$(echo $children | wc -w)" -eq 5 ] || fail "the run started$children, not four services and a reader"
kill -9 "$killed"
wait "$killed" 2>/dev/null
for _ in $(seq 300); do
  left=
  for child in $children; do alive "$child" && left="$left $child"; done
  [ -z "$left" ] && break
  sleep 0.1
done
exec 5>&-
if [ -n "$left" ]; then
  went_on=$(for c in $left; do printf ' %s' "$(tr '\0' ' ' <"/proc/$c/cmdline" | cut -c1-60)"; done)
  kill $left 2>/dev/null
  fail "after kill -9 of scripts/run these went on:$went_on"
fi
printf 'quit\n' | "$run" "$home" >/dev/null 2>"$work/after-kill.txt" ||
  fail "the run after a killed one failed: $(tail -n 5 "$work/after-kill.txt")"
echo "one home: a second run and a reader alone refused while a run holds it, its favourite kept for the next; -v lines whole; a killed run takes its services along"
