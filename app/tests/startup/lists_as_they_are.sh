#!/usr/bin/env bash
# Lists show what is so now, driven through a pipe: `pull` counts the articles, not the loading
# row; `end` on the last page says there is no more;
# a favourite removed from the article the favourites list opened is gone from it on the way back;
# after 清理缓存 the news list fills again rather than stay blank.
#   lists_as_they_are.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"
start_server
start_reader
say 'wait 0.1'

# A pull counts the articles: the first page's 20, not its loading row as well; nothing newer on
# the server, nothing new.
say pull
said 'pulled: nothing new, 20 rows' 'pull (on the first page)'

# The sample categories hold two pages: the second is the last.
for _ in 1 2 3 4; do
  say end
  grep -qF 'end: already at the end' "$work/said" && break
done
said 'end: already at the end, nothing more to load' 'end (on the last page)'
quiet 'end (on the last page)'
# A pull at the end of the list brings nothing either, whatever the answer says of a next page.
rows=$(sed -n 's/^end: already at the end, nothing more to load (\([0-9]*\) rows)$/\1/p' "$work/said")
[ -n "$rows" ] || fail "end did not say how many rows the list holds"
say pull
said "pulled: nothing new, $rows rows" 'pull (at the end of the list)'

# A favourite, then removed from its article opened from 我的收藏: back there, it is not listed.
favourite_first_article
say back
say menu
say 'tap 收藏'
said "$title" 'tap 收藏 (the menu)'
say 'tap row 0'
quiet 'tap row 0 (in 我的收藏)'
say 'tap 收藏'
said '取消收藏成功' 'tap 收藏 (the toolbar, removing the favourite)'
say back
quiet 'back (to 我的收藏)'
say dump
said '我的收藏' 'back (to 我的收藏)'
grep -qF -- "text=\"$title\"" "$work/said" && fail "back in 我的收藏 still lists the removed favourite \"$title\""

# The caches cleared in 设置, the news list the reader goes back to has rows again.
say back
say 'tap 设置'
quiet 'tap 设置'
say 'tap 清理缓存'
said '清理结束' 'tap 清理缓存'
say back
say menu
say dump
said 'reuse="' 'dump (the news list after 清理缓存)'
stop_reader
echo "lists as they are: pull counts articles, end says the last page, a removed favourite leaves 我的收藏, a cleared list fills again"
