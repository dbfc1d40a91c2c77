#!/usr/bin/env bash
# What a command waits for and what its answer prints, with every picture stalled: a tap answers
# once its screen is there, not when the pictures it asked for give up; a field with no words shows
# what it is for and is tapped by that; a long text typed prints by its start and its length; a
# tap on the vote row off screen says how to reach it.
#   console_answers.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"

start_server --fault img=stall
start_reader

# The article opens with its pictures still loading: the tap is answered with the article, and
# nothing is left "under way" for a stalled picture.
say 'tap row 0'
quiet 'tap row 0'
said 'label="字体"' 'tap row 0'
grep -q 'still under way' "$work/said" && fail "a stalled picture held the tap: $(grep 'still under way' "$work/said")"
say rows
said 'votes: detail_digg' rows
grep -q 'still under way' "$work/said" && fail "a stalled picture held rows: $(grep 'still under way' "$work/said")"
say back
quiet back
grep -q 'still under way' "$work/said" && fail "a stalled picture held back"

# The feedback screen's fields say what they are for, and are tapped by it.
say menu
say 'tap 设置'
quiet 'tap 设置'
say 'tap 意见反馈'
quiet 'tap 意见反馈'
said 'placeholder="QQ、邮箱或手机等联系方式"' 'tap 意见反馈'
said 'placeholder="期待您的意见反馈"' 'tap 意见反馈'
say 'tap 邮箱'
quiet 'tap 邮箱'
said 'editing' 'tap 邮箱'

# A long text is typed whole but printed short: its echo and the field show its start and length.
long=$(head -c 300000 /dev/zero | tr '\0' 'a')
say "type $long"
quiet 'type (300000 characters)'
said '> type aaaa' 'type (echo)'
said '… (300005 characters)' 'type (echo)'
said 'text="aaaa' 'type (the field)'
said '…" (300000 characters) editing' 'type (the field)'
[ "$(wc -c <"$work/said")" -lt 30000 ] || fail "a long text printed whole: $(wc -c <"$work/said") bytes for one command"
# A later change of that screen does not print it again either.
say 'tap 期待您的意见反馈'
quiet 'tap 期待您的意见反馈'
[ "$(wc -c <"$work/said")" -lt 30000 ] || fail "a later change printed the long text again"
awk 'length > 5000 { exit 1 }' "$out" || fail "a line of more than 5000 characters was printed"

ends_with 0 'after commands that went well'
# The vote row is the article's last and starts off screen: a tap on it by name says where it is
# and how to reach it (the run then ends with 1), and once scrolled down it takes the tap (what the
# server answers to the vote is not this test's).
start_reader
say 'tap row 0'
quiet 'tap row 0'
say 'tap 顶'
said 'error: "顶" is on the vote row, off screen at the end of the article: end scrolls down to it' 'tap 顶'
say end
quiet end
say 'tap 顶'
quiet 'tap 顶 (at the end)'
ends_with 1 'after a tap that failed'
echo "console answers: taps not held by stalled pictures; fields named by their hints; long texts printed short; the vote row off screen named"
