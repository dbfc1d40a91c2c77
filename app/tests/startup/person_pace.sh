#!/usr/bin/env bash
# Commands through a pipe at a person's pace, while the work they started is still out: the echo
# comes when the command starts and the screen prints as it changes, before a stalled article
# gives up; the offline download's cover, which offers its cancel button, takes commands at once,
# and a cancel keeps the articles already downloaded for reading without the server.
#   person_pace.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"

# waits_for TEXT WHAT: TEXT shows in the reader's output within a minute.
waits_for() {
  local end=$((SECONDS + 60))
  while [ "$SECONDS" -lt "$end" ]; do
    grep -qF -- "$1" "$out" && return 0
    kill -0 "$pid" 2>/dev/null || fail "the reader ended while waiting for $2"
    next_change
  done
  fail "no $2 in the reader's output"
}

# An article that never answers: the command's echo and the article screen print while its load
# is still out, before the screen says it failed.
start_server --fault 1020=stall
start_reader
say 'wait 0.1'
printf 'tap row 0\n' >&3
waits_for '> tap row 0' 'echo of "tap row 0"'
waits_for 'label="收藏"' 'article screen after "tap row 0"'
grep -qF '网络错误' "$out" && fail "the echo of \"tap row 0\" and the article screen waited for the stalled load to fail"
# The error view comes when the load gives up; the command's answer ends there.
say 'wait 0.1'
grep -qF '网络错误，点击重试' "$out" || fail "the stalled article did not end in its error view"
stop_reader
stop_server

# Articles that answer slowly: the download runs long enough to be cancelled while it goes.
start_server --delay 1020=2
start_reader
say 'wait 0.1'
say menu
say 'tap 离线'
quiet 'tap 离线'
say 'tap 下载'
quiet 'tap 下载'
said 'text="正在下载' 'tap 下载'
said 'label="取消下载"' 'tap 下载'
grep -q '^still under way' "$work/said" && fail "\"tap 下载\" waited on the download under its cover: $(grep '^still under way' "$work/said")"
offline="$work/home/Library/Caches/offline"
for _ in $(seq 600); do
  [ -n "$(ls -A "$offline" 2>/dev/null)" ] && break
  sleep 0.1
done
[ -n "$(ls -A "$offline" 2>/dev/null)" ] || fail "the download kept no article in a minute"
say 'tap 取消下载'
quiet 'tap 取消下载'
said '离线下载已取消' 'tap 取消下载'
grep -q '^still under way' "$work/said" && fail "\"tap 取消下载\" waited: $(grep '^still under way' "$work/said")"
kept=$(ls "$offline")
# The article under way when the cancel came may still end and be kept; nothing is taken away.
say 'wait 3'
for file in $kept; do
  [ -s "$offline/$file" ] || fail "the cancel took away the downloaded article $file"
done

# Kept for reading: with the server gone, the first article the download kept opens.
stop_server
say back
# Back from the menu's screens, the menu is open: it closes over the news.
say menu
say 'tap row 0'
say rows
said 'row 1 header:' 'rows (an article kept by the cancelled download, the server gone)'
stop_reader
echo "person's pace: echo and screen before a stalled answer; the download's cover takes its cancel at once, kept articles read offline"
