#!/usr/bin/env bash
# Words a person finds on the screens that have no button for them: `back` in the full-screen
# picture viewer closes it as a tap on the picture does, and a tab behind the open menu is said to
# be covered by the menu rather than to be out of reach of scrolling.
#   viewer_and_menu.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"

start_server
start_reader
say 'tap row 1'
quiet 'tap row 1'
say rows
said 'row 3 picture: ' rows
# The article's first picture is its third row.
say 'tap row 2'
quiet 'tap row 2 (the picture)'
say dump
said 'PageFlowView' 'tap row 2 (the picture viewer)'
say back
quiet 'back (in the picture viewer)'
say dump
grep -qF 'PageFlowView' "$work/said" && fail "back left the picture viewer open"
said 'label="字体"' 'back (the article again)'
say back
quiet 'back (to the list)'

say menu
quiet menu
say 'tap 图片'
said 'error: "图片" is covered by the open menu: menu closes it' 'tap 图片 (with the menu open)'
say menu
quiet 'menu (closing it)'
say 'tap 图片'
quiet 'tap 图片 (the menu closed)'
stop_reader
echo "viewer and menu: back closes the picture viewer, and the open menu is named as what covers the news"
