#!/usr/bin/env bash
# The reader driven through a pipe as a person (or a program waiting for its answers) drives it:
# the pipe stays open, so each command must be answered as its line arrives. Against the sample
# server with the options scripts/run gives it.
#   commands.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"

# A server root that is no URL is refused before anything starts.
"$reader" --home "$work/refused" --server 127.0.0.1:8080 </dev/null >/dev/null 2>"$work/refused.txt"
[ $? -eq 2 ] || fail "a --server without a scheme was taken"
grep -q 'needs an http or https URL' "$work/refused.txt" || fail "the refused --server was not explained"
[ -e "$work/refused" ] && fail "a refused start made its home"

start_server
start_reader

say help
said 'commands:' help
say 'wait 1 2'
said 'error: wait takes SECONDS and nothing more' 'wait 1 2'
# Two tabs hold the words: neither is guessed.
say 'tap 军情'
said 'error: "军情" is part of 2 texts: "中国军情", "国际军情"; tap one of them whole' 'tap 军情'

# The menu button opens the menu, and the same command closes it.
say menu
quiet menu
# The news slid aside: its first tab still shows, beneath the strip that closes the menu.
say 'tap 要闻'
said 'error: "要闻" is covered by the open menu: menu closes it' 'tap 要闻 (menu open)'
say menu
quiet 'menu (closing)'
say 'tap 中国军情'
quiet 'tap 中国军情'

# The article's toolbar shows only pictures; their labels name them. The text size sheet's
# buttons print as tag=1 to tag=4, and `alert 1` is the first of them.
say 'tap row 0'
quiet 'tap row 0'
said 'label="字体"' 'tap row 0'
say 'tap 字体'
said 'title="小" tag=1' 'tap 字体'
say 'alert 1'
quiet 'alert 1'
say back
say menu
say 'tap 设置'
said 'text="小"' 'tap 设置 (the size chosen)'
said 'on label="消息推送"' 'tap 设置'
# With the server's switch as scripts/run sets it, push messages can be turned off.
say 'tap 消息推送'
said 'off label="消息推送"' 'tap 消息推送'
say back
say menu
say 'tap 要闻'
quiet 'tap 要闻 (menu closed again)'

# The share sheet is no alert: its icons go by their captions. It stays up to the end.
say 'tap row 0'
quiet 'tap row 0 (again)'
say 'tap 分享'
quiet 'tap 分享'
say 'alert 1'
said 'error: the share sheet is no alert: tap an icon by its name' 'alert 1 (share sheet)'

# Typed control bytes come back escaped.
say $'tap \x1b[2J'
said '> tap \x1B[2J' 'tap ESC[2J'
said 'error: nothing on screen reads "\x1B[2J"' 'tap ESC[2J'
grep -q $'\x1b' "$out" && fail "a control byte reached the output"

ends_with 1 'after commands that failed'
echo "commands: answered as they came; taps by whole text, label and covering control; menu toggles; alerts by tag, the share sheet by caption"
