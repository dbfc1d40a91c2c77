#!/usr/bin/env bash
# An album marked as a favourite shows it when it opens again from its kept copy, driven through
# a pipe as a person would: the favourite button shows selected and a tap removes the favourite;
# in a later run, opened from 我的收藏, the same holds and the album leaves the list.
#   album_favourite_again.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"

# favourite_button: the dump line of the album's favourite button on the last screen printed.
favourite_button() { grep -F 'label="收藏"' "$work/said" | grep -F 'tag=1' | tail -n1; }
# marked WHAT: the favourite button shows the album is a favourite.
marked() {
  say dump
  local line
  line=$(favourite_button)
  [ -n "$line" ] || fail "$1: no favourite button on screen"
  [[ "$line" == *'image=detail_toolbar_favorite_selected'* && "$line" == *' selected'* ]] ||
    fail "$1: the favourite button does not show the favourite: $line"
}
unmarked() {
  say dump
  local line
  line=$(favourite_button)
  [ -n "$line" ] || fail "$1: no favourite button on screen"
  [[ "$line" == *selected* ]] && fail "$1: the favourite button shows a favourite: $line"
  return 0
}

start_server
start_reader
say 'tap 图片'
quiet 'tap 图片'
say 'tap row 0'
quiet 'tap row 0 (the album)'
unmarked 'the album opened first'
# The album's title: the label just above its page counter ("1/7").
title=$(awk '/ Label \(/ { t = $0; sub(/^[^"]*text="/, "", t); sub(/"[^"]*$/, "", t)
               if (t ~ /^[0-9]+\/[0-9]+$/) { print prev; exit } prev = t }' "$work/said")
[ -n "$title" ] || fail "the album showed no title"
say 'tap 收藏'
said '收藏成功' 'tap 收藏 (adding)'
marked 'after 收藏成功'
say back
quiet 'back (to 图片)'

# Opened again, from the copy kept on the first opening.
say 'tap row 0'
quiet 'tap row 0 (the album again)'
marked 'the album opened again'
say 'tap 收藏'
said '取消收藏成功' 'tap 收藏 (removing)'
unmarked 'after 取消收藏成功'
say 'tap 收藏'
said '收藏成功' 'tap 收藏 (adding again)'
stop_reader

# A later run on the same home: from 我的收藏 the album shows the mark, and a tap removes it.
start_reader
say menu
say 'tap 收藏'
quiet 'tap 收藏 (the menu)'
said "text=\"$title\"" 'tap 收藏 (the menu)'
say 'tap row 0'
quiet 'tap row 0 (in 我的收藏)'
marked 'the album opened from 我的收藏'
say 'tap 收藏'
said '取消收藏成功' 'tap 收藏 (removing, from 我的收藏)'
say back
quiet 'back (to 我的收藏)'
say dump
said '我的收藏' 'back (to 我的收藏)'
grep -qF -- "text=\"$title\"" "$work/said" && fail "back in 我的收藏 the removed album \"$title\" is still listed"
stop_reader
echo "album favourite again: a kept album shows its favourite mark, and a tap removes it"
