#!/usr/bin/env bash
# What the reader keeps and shows across runs, driven through a pipe as a person would: a
# favourite survives a restarted news server on the same state file, the offline download prints
# its percentage while it runs, and the clients' log lines go to the home's log file, not to
# standard error.
#   kept_and_shown.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"

# First run: the favourites list is broken on the server, so its failure is logged.
start_server --state "$work/newsd-state" --fault 1050=500
start_reader
favourite_first_article
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
start_server --state "$work/newsd-state"
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
