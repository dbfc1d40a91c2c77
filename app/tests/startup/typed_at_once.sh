#!/usr/bin/env bash
# Commands typed at a terminal faster than the screen moves: the menu opened, 设置 tapped and
# 清理缓存 tapped in one burst. Each touch waits for the screen it lands on to stand still (the
# menu's cover sliding away with it), as a person's finger would, so none is refused as covered.
#   typed_at_once.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"

start_server
rm -f "$work/in"
mkfifo "$work/in"
: >"$out"
# A terminal for the reader; it ends with the terminal's keeper, its parent.
script -qfec "exec '$reader' --home '$work/home' --server 'http://127.0.0.1:$(cat "$work/port")' --parent \$PPID" /dev/null \
  <"$work/in" >"$out" 2>"$work/err.txt" &
pid=$!
exec 3>"$work/in"

# seen TEXT WHAT: TEXT shows in the reader's output within 40 s.
seen() {
  for _ in $(seq 400); do
    grep -qF -- "$1" "$out" && return 0
    kill -0 "$pid" 2>/dev/null || fail "the reader ended while waiting for $2"
    sleep 0.1
  done
  fail "no $2 in the reader's output"
}

seen '_Style_Cell"' 'news rows at the start'
printf 'menu\ntap 设置\ntap 清理缓存\n' >&3
seen '清理结束' 'the end of 清理缓存'
grep -q '^error:' "$out" && fail "a command typed at once was refused: $(grep '^error:' "$out")"
printf 'quit\n' >&3
exec 3>&-
wait "$pid"
status=$?
pid=
[ "$status" -eq 0 ] || fail "the reader exited with $status"
echo "typed at once: each touch waits for the screen to stand still"
