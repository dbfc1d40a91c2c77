#!/usr/bin/env bash
# The one reading the reader's screens goes after the first (`newsreader | head`, a script that
# read it and was killed): the reader's next print fails, and it ends as at `quit`, leaving the
# application so that what its parts keep is saved, instead of being ended by the system in the
# middle. Commands from a pipe that stays open, the tour, and commands typed at a terminal; and a
# --verbose reader whose standard error has no one reading it goes on as usual.
#   output_closed.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"

home="$work/home"
screens="$work/screens"
# What the push client saves when the application is left (the end of its run), and where its
# crash capture and the crash reporter would have left a record of a death by signal.
push_store="$home/Library/Caches/Zurar/ZURAR"
crash_records=("$home/Library/Caches/CrashRecords/zurar.crashrecords" "$home/Library/Caches/com.brekka.data/brekka.crashrecords")

# take_first_screen: reads the reader's output up to its first screen into $out, then closes its
# end, as `head` does; its process in $taker.
take_first_screen() {
  rm -f "$screens" "$work/in"
  mkfifo "$screens" "$work/in"
  rm -rf "$home"
  : >"$out"
  sed '/^=== screen ===$/q' <"$screens" >"$out" &
  taker=$!
}

# send LINE: typed or piped to the reader, which may have ended already: a write to its gone input
# fails here, in a shell of its own, and not the test.
send() { (trap '' PIPE; printf '%s\n' "$1" >&3) 2>/dev/null; }

# ended_well HOW STATUS: the reader ended by itself after its output closed, through its usual end.
ended_well() {
  local how=$1 status=$2
  [ "$status" -ne $((128 + 13)) ] || fail "$how: the reader was ended by SIGPIPE"
  [ "$status" -eq 1 ] || fail "$how: the reader exited with $status (1 expected: its output was cut off)"
  grep -qF 'newsreader: standard output is closed, ending' "$home/console.log" ||
    fail "$how: the reader's log does not say its output closed"
  grep -aqF '__DUVLeft_time' "$push_store" 2>/dev/null || fail "$how: the push client did not save the end of its run"
  local records
  for records in "${crash_records[@]}"; do
    [ ! -s "$records" ] || fail "$how: a crash record was left in $records"
  done
}

start_server
url="http://127.0.0.1:$(cat "$work/port")"

# Commands from a pipe held open: the reader's output fails, not its input, and it ends all the same.
take_first_screen
"$reader" --home "$home" --server "$url" <"$work/in" >"$screens" 2>"$work/err.txt" &
pid=$!
exec 3>"$work/in"
wait "$taker"
send 'tap 中国军情'
wait "$pid"
status=$?
pid=
ended_well "commands from a pipe" "$status"
exec 3>&-

# No commands: the tour plays, and ends when its output has gone.
take_first_screen
"$reader" --home "$home" --server "$url" </dev/null >"$screens" 2>"$work/err.txt" &
pid=$!
wait "$taker"
wait "$pid"
status=$?
pid=
ended_well "the tour" "$status"

# Typed at a terminal (`newsreader | head` at a prompt): the answer to a command is the next print.
take_first_screen
script -qfec "exec '$reader' --home '$home' --server '$url' --parent \$PPID >'$screens'" /dev/null \
  <"$work/in" >"$work/terminal.txt" 2>"$work/err.txt" &
pid=$!
exec 3>"$work/in"
wait "$taker"
send 'tap 无此按钮'
wait "$pid"
status=$?
pid=
ended_well "typed at a terminal" "$status"
exec 3>&-

# Log lines on a standard error no one reads: the reader goes on, and `quit` ends it as usual.
rm -f "$work/in" "$work/errors"
mkfifo "$work/in" "$work/errors"
rm -rf "$home"
: >"$out"
true <"$work/errors" &
"$reader" --home "$home" --server "$url" --verbose <"$work/in" >"$out" 2>"$work/errors" &
pid=$!
exec 3>"$work/in"
last=0
say 'tap 中国军情'
quiet 'tap 中国军情'
send quit
ends_with 0 "after quit, with its standard error gone"
grep -aqF '__DUVLeft_time' "$push_store" 2>/dev/null || fail "with its standard error gone, the push client did not save the end of its run"

echo "output closed: the reader ends as at quit and saves what it keeps"
