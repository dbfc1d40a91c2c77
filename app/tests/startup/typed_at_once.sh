#!/usr/bin/env bash
# Commands typed at a terminal faster than the screen moves: the menu opened, 设置 tapped and
# 清理缓存 tapped in one burst. Each touch waits for the screen it lands on to stand still (the
# menu's cover sliding away with it), as a person's finger would, so none is refused as covered.
#   typed_at_once.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"

start_server
start_terminal_reader

seen_after 0 '_Style_Cell"' 'news rows at the start'
printf 'menu\ntap 设置\ntap 清理缓存\n' >&3
seen_after 0 '清理结束' 'the end of 清理缓存'
grep -q '^error:' "$out" && fail "a command typed at once was refused: $(grep '^error:' "$out")"
printf 'quit\n' >&3
ends_with 0 'after quit'
echo "typed at once: each touch waits for the screen to stand still"
