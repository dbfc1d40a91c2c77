#!/usr/bin/env bash
# A list request that never answers: each command answers once the request it started has ended
# (the client gives up) and the message that raised has gone, so the next command finds the list
# uncovered.
#   late_answer.sh NEWSD NEWSREADER
set -uo pipefail
newsd=$1
reader=$2
work=$(mktemp -d)
server=
pid=
cleanup() {
  exec 3>&- 2>/dev/null
  for p in $pid $server; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
out="$work/out.txt"
fail() {
  echo "FAIL: $*"
  echo "--- reader output (last 60 lines)"; tail -n 60 "$out" 2>/dev/null
  echo "--- reader errors"; tail -n 20 "$work/err.txt" 2>/dev/null
  exit 1
}

"$newsd" --port 0 --port-file "$work/port" --pass 1 --fault 1010=stall 2>"$work/newsd.txt" &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "newsd did not report its port"

mkfifo "$work/in"
"$reader" --home "$work/home" --server "http://127.0.0.1:$(cat "$work/port")" <"$work/in" >"$out" 2>"$work/err.txt" &
pid=$!
exec 3>"$work/in"

source "$(dirname "$0")/say.sh"


say 'tap 中国军情'
grep -q 'still under way' "$work/said" || said '网络异常' 'tap 中国军情 (the list stalled)'
say pull
said 'pulled: ' pull
say 'tap row 0'
grep -q 'covered by KHProgressHUD' "$work/said" && fail "a message raised before the command covered the list: $(grep error: "$work/said")"

exec 3>&-
wait "$pid"
pid=
echo "late answers: the stalled list's command waited for its end"
