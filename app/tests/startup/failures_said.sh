#!/usr/bin/env bash
# What the reader says when things fail, driven through a pipe as a person would: an empty
# favourites list is no network failure; with the news server gone, a failed next page leaves
# the load-more row at rest under the network HUD, a failed retry of an article says so, and
# the offline download's cover goes saying how the download ended.
#   failures_said.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"

# shows TEXT WHAT: the last command's output holds TEXT, or the reader prints it after (an
# answer that comes after the command's own is printed as it arrives).
shows() {
  grep -qF -- "$1" "$work/said" && return 0
  local end=$((SECONDS + 90))
  while [ "$SECONDS" -lt "$end" ]; do
    tail -n "+$((last + 1))" "$out" | grep -qF -- "$1" && return 0
    kill -0 "$pid" 2>/dev/null || fail "the reader ended waiting for: $1"
    next_change
  done
  fail "after \"$2\" the reader did not print: $1"
}
# The load-more row of the last screen printed: its words and whether its spinner turns.
load_more_row() {
  awk '/^=== screen ===/ { row = "" } /reuse="Load_More_Cell"/ { on = 1; next }
       on && /ActivityIndicatorView/ { row = row " spinner:" ($0 ~ /animating/ ? "turning" : "still") }
       on && /Label/ { match($0, /text="[^"]*"/); row = row " " substr($0, RSTART, RLENGTH); on = 0 }
       END { print row }' "$work/said"
}

# A fresh server: nobody has favourites yet.
start_server
start_reader
say menu
at=$(wc -l <"$out")
say 'tap 收藏'
quiet 'tap 收藏'
said '我的收藏' 'tap 收藏'
# The pull waits for its own answer: the list stays empty, and nothing says the network failed.
say pull
said 'pulled: nothing new, 0 rows' 'pull (favourites)'
say back
say menu
say 'tap 中国军情'
quiet 'tap 中国军情'
tail -n "+$at" "$out" | grep -qF '网络异常' && fail "an empty favourites list said the network failed"

# The server goes away.
stop_server

# The next page fails: the HUD says so, and the load-more row no longer claims a load.
say end
shows '网络异常' end
say dump
row=$(load_more_row)
case "$row" in
  *'text="加载更多"'*) ;;
  *) fail "after a failed next page the load-more row shows:$row" ;;
esac
[[ "$row" == *turning* ]] && fail "after a failed next page the load-more row still turns:$row"

# An article that cannot be fetched shows its error view; a retry that fails again says so.
say 'tap row 0'
said '网络错误，点击重试' 'tap row 0'
say 'tap 网络错误，点击重试'
quiet 'tap 网络错误，点击重试'
shows '网络异常' 'tap 网络错误，点击重试'
say back

# The offline download fetches nothing, and its cover goes saying so.
say menu
say 'tap 离线'
quiet 'tap 离线'
say 'tap offline_download'
quiet 'tap offline_download'
said 'text="正在下载' 'tap offline_download'
shows '离线下载失败' 'tap offline_download'

stop_reader
echo "failures said: an empty favourites list, a failed next page, a failed retry, a failed download"
