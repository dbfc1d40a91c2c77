#!/usr/bin/env bash
# What the reader keeps and shows across runs, driven through a pipe as a person would: a
# favourite survives a restarted news server on the same state file, the offline download prints
# its percentage while it runs, and the clients' log lines go to the home's log file, not to
# standard error.
#   kept_and_shown.sh NEWSD NEWSREADER
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
  echo "--- reader log"; tail -n 20 "$work/home/console.log" 2>/dev/null
  echo "--- newsd"; tail -n 20 "$work/newsd.txt" 2>/dev/null
  exit 1
}

# start_server [NEWSD OPTION...]: the news server on the run's state file.
start_server() {
  rm -f "$work/port"
  "$newsd" --port 0 --port-file "$work/port" --pass 1 --state "$work/newsd-state" "$@" 2>>"$work/newsd.txt" &
  server=$!
  for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
  [ -s "$work/port" ] || fail "newsd did not report its port"
}
stop_server() {
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
  server=
}
# start_reader [READER OPTION...]: the reader on a FIFO held open on descriptor 3.
start_reader() {
  rm -f "$work/in"
  mkfifo "$work/in"
  : >"$out"
  : >"$work/err.txt"
  "$reader" --home "$work/home" --server "http://127.0.0.1:$(cat "$work/port")" "$@" <"$work/in" >"$out" 2>"$work/err.txt" &
  pid=$!
  exec 3>"$work/in"
  last=0
}
stop_reader() {
  printf 'quit\n' >&3
  exec 3>&-
  wait "$pid"
  pid=
}

source "$(dirname "$0")/say.sh"

# First run: the favourites list is broken on the server, so its failure is logged.
start_server --fault 1050=500
start_reader
say 'tap 中国军情'
quiet 'tap 中国军情'
say 'tap row 0'
quiet 'tap row 0'
say rows
title=$(sed -n 's/^row 1 header: //p' "$work/said" | head -n1)
[ -n "$title" ] || fail "the article showed no title"
say 'tap 收藏'
said '收藏成功' 'tap 收藏 (the toolbar)'
say back
say menu
say 'tap 收藏'
quiet 'tap 收藏 (the menu)'
said '网络异常' 'tap 收藏 (the favourites failing)'

# The offline download: the cover's percentage prints while it moves. Back from the favourites,
# the menu is open.
say back
say 'tap 离线'
quiet 'tap 离线'
say 'tap offline_download'
quiet 'tap offline_download'
said 'text="正在下载' 'tap offline_download'
stop_reader

grep -q '加载数据失败 class is：VXFavoriteViewController' "$work/home/console.log" ||
  fail "the favourites' failure is not in the home's console.log"
grep -q '加载数据失败' "$work/err.txt" && fail "a log line reached standard error without --verbose"

# Second run: a new news server on the same state file still has the favourite.
stop_server
start_server
start_reader --verbose
say menu
say 'tap 收藏'
quiet 'tap 收藏 (after the restart)'
said "$title" 'tap 收藏 (after the restart)'
stop_reader
stop_server

# A state file cut short is refused and kept aside; the next start begins afresh.
head -c 10 "$work/newsd-state" >"$work/cut"
cp "$work/cut" "$work/newsd-state"
"$newsd" --port 0 --state "$work/newsd-state" 2>"$work/refused.txt"
[ $? -eq 1 ] || fail "newsd started on a state file cut short"
grep -q 'cut short' "$work/refused.txt" || fail "newsd did not say the state file is cut short: $(cat "$work/refused.txt")"
cmp -s "$work/cut" "$work/newsd-state.refused" || fail "the refused state file was not kept aside whole"
echo "kept and shown: a favourite across a restarted server, the offline download's percentage, logs in the home"
