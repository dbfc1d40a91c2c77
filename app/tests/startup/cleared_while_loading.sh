#!/usr/bin/env bash
# The caches cleared while the news list's own refresh is still out, as a person does it at a
# terminal (where each command runs as it is typed, without waiting for what it started): the list
# pulled with a slow server, then 设置 and 清理缓存 before the answer, then back to the news. The
# late answer was asked for rows the clear threw away: the list fills again with the newest rather
# than stay empty.
#   cleared_while_loading.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"

# Every list answer comes 6 s late (the client waits 10 s).
start_server --delay 1010=6
start_terminal_reader

lines() { wc -l <"$out"; }
type_line() { printf '%s\n' "$1" >&3; }
# type_and_see LINE TEXT WHAT: types LINE, then TEXT shows in what the reader prints after it.
type_and_see() {
  local at
  at=$(lines)
  type_line "$1"
  seen_after "$at" "$2" "$3"
}

seen_after 0 '_Style_Cell"' 'news rows at the start'
# Pulled by a drag of the finger: `pull` would wait for the answer before the next command.
type_and_see 'drag 160 150 160 450' 'text="加载中..."' 'the pulled header loading'
type_and_see menu 'text="设置"' 'the menu'
type_and_see 'tap 设置' 'text="清理缓存"' 'the settings screen'
type_and_see 'tap 清理缓存' '清理结束' 'the end of 清理缓存'
cleared=$(lines)
type_and_see back 'VXNewsTableView' 'the news behind the menu'
type_and_see menu 'image=logo_placeholder' 'the emptied news list'
# The pull's late answer is dropped and the newest page asked for: rows again.
seen_after "$cleared" '_Style_Cell"' 'news rows after 清理缓存 (the list stayed empty)'
type_line quit
ends_with 0 'after quit'
echo "cleared while loading: the list pulled before 清理缓存 fills again once its late answer has come"
