#!/usr/bin/env bash
# A pushed headline opened while a sheet is up over the article: the headline's article opens with
# nothing left over it, so `back` goes back and the share sheet cannot share the earlier article.
# One pushed while the offline download's cover is up waits for it, and a tap on it says so.
#   pushed_over_sheet.sh NEWSD NEWSREADER PUSHD
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"
start_push "$3"

start_server
start_reader --hosts "$work/hosts" --push-control "$control"
say 'wait 0.1'
# The headline names the list's first article, by the id its pictures carry.
first=$(grep -o 'image=/img/t[0-9]*_' "$out" | head -n1 | sed 's/[^0-9]//g')
[ -n "$first" ] || fail "the list showed no article picture to take the first article's id from"
say 'tap row 2'
quiet 'tap row 2'
say rows
earlier=$(sed -n 's/^row 1 header: //p' "$work/said" | head -n1)
say 'tap 分享'
quiet 'tap 分享'
said '微信好友' 'tap 分享'

notify "{\"aps\":{\"alert\":\"要闻\"},\"id\":$first,\"category\":1,\"type\":\"\"}"
seen_after 0 '要闻推送' 'pushed headline offered'
say 'alert "点击查看"'
quiet 'alert "点击查看"'
say rows
pushed=$(sed -n 's/^row 1 header: //p' "$work/said" | head -n1)
[ -n "$pushed" ] && [ "$pushed" != "$earlier" ] || fail "the pushed article did not open (rows: $(head -n 3 "$work/said"))"
say dump
grep -qF '微信好友' "$work/said" && fail "the share sheet of \"$earlier\" stayed over the pushed article"
say back
quiet 'back (from the pushed article)'
say rows
said "row 1 header: $earlier" 'back (from the pushed article)'
stop_reader
stop_server

# A headline pushed while the offline download's cover is up waits for it to close: a tap on its
# button meanwhile says so, and once the download is cancelled the headline is offered.
start_server --delay 1020=2
start_reader --hosts "$work/hosts" --push-control "$control"
say 'wait 0.1'
say menu
say 'tap 离线'
say 'tap 下载'
said 'label="取消下载"' 'tap 下载'
say 'tap 点击查看'
grep -qF 'headline waits' "$work/said" && fail "with no headline pushed, \"tap 点击查看\" said one waits"
notify "{\"aps\":{\"alert\":\"要闻\"},\"id\":$first,\"category\":1,\"type\":\"\"}"
# The home screen offers a headline a second after it came.
say 'wait 2'
say 'tap 点击查看'
said 'a pushed headline waits until the full-screen view closes' 'tap 点击查看 (under the download cover)'
say 'alert "点击查看"'
said 'a pushed headline waits until the full-screen view closes' 'alert "点击查看" (under the download cover)'
say 'tap 取消下载'
quiet 'tap 取消下载'
said '要闻推送' 'tap 取消下载 (the held headline offered)'
say 'tap 点击查看'
quiet 'tap 点击查看 (the headline offered)'
exec 3>&-
wait "$pid"
pid=
echo "pushed over a sheet: the pushed article opens with the share sheet gone, back returns to the earlier one; a headline held by the download cover says it waits"
