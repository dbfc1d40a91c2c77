#!/usr/bin/env bash
# An alert left up when a pushed headline opens acts on the screen that raised it only: 意见反馈
# sent (反馈成功 up), a headline pushed and opened, then 确定: the pushed article stays, and back
# from it goes to the settings, past the form already sent.
#   alert_under_pushed.sh NEWSD NEWSREADER PUSHD
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"
start_push "$3"

start_server
start_reader --hosts "$work/hosts" --push-control "$control"
say 'wait 0.1'
first=$(grep -o 'image=/img/t[0-9]*_' "$out" | head -n1 | sed 's/[^0-9]//g')
[ -n "$first" ] || fail "the list showed no article picture to take the first article's id from"

say menu
say 'tap 设置'
quiet 'tap 设置'
say 'tap 意见反馈'
quiet 'tap 意见反馈'
say 'tap 期待您的意见反馈'
quiet 'tap 期待您的意见反馈'
say 'type 地图再多些'
say 'tap 发送'
quiet 'tap 发送'
said '反馈成功' 'tap 发送'

notify "{\"aps\":{\"alert\":\"要闻\"},\"id\":$first,\"category\":1,\"type\":\"\"}"
seen_after 0 '要闻推送' 'pushed headline offered'
say 'alert "点击查看"'
quiet 'alert "点击查看"'
say rows
pushed=$(sed -n 's/^row 1 header: //p' "$work/said" | head -n1)
[ -n "$pushed" ] || fail "the pushed article did not open (rows: $(head -n 3 "$work/said"))"
say 'alert "确定"'
quiet 'alert "确定"'
say rows
said "row 1 header: $pushed" 'alert "确定" (the pushed article stays)'
say back
quiet 'back (from the pushed article)'
say dump
grep -qF 'placeholder="期待您的意见反馈"' "$work/said" && fail "back from the pushed article went to the feedback form already sent"
said '意见反馈' 'back (the settings)'
# Back from the settings goes to the menu, still open: said, so the next `menu` is known to close it.
say back
said 'back: the menu is open (menu closes it)' 'back (from the settings)'
ends_with 0 'after the alert and the pushed article'
echo "alert under a pushed article: its button closed the form that raised it, the article stayed"
