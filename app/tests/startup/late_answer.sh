#!/usr/bin/env bash
# A list request that never answers: each command answers once the request it started has ended
# (the client gives up) and the message that raised has gone, so the next command finds the list
# uncovered; a pull shows its header loading while it waits.
#   late_answer.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"

start_server --fault 1010=stall
start_reader

say 'tap 中国军情'
grep -q 'still under way' "$work/said" || said '网络异常' 'tap 中国军情 (the list stalled)'
say pull
said 'pulled: ' pull
# While it waits, the screen shows the header saying it loads, before the pull gives up.
said 'text="加载中..."' 'pull (while it waits)'
say 'tap row 0'
grep -q 'covered by KHProgressHUD' "$work/said" && fail "a message raised before the command covered the list: $(grep error: "$work/said")"

exec 3>&-
wait "$pid"
pid=
echo "late answers: the stalled list's command waited for its end"
