#!/usr/bin/env bash
# scripts/run twice on one home: the second run's news server listens on the first one's port, so
# the links the reader kept in the first run still answer. With that port taken the run starts on
# another and says the kept links name the old one; a ports file that is not one is let go.
#   kept_ports.sh SOURCE_ROOT NEWSD NEWSREADER SHARINGD PUSHD QQCONNECTD
set -uo pipefail
source "$(dirname "$0")/run_copy.sh" "$@"
blocker=
trap '[ -z "$blocker" ] || kill "$blocker" 2>/dev/null; cleanup' EXIT

news_port() { sed -n 's|^newsd: listening on http://127.0.0.1:\([0-9]*\) .*|\1|p' "$1"; }
# The status line of a GET of URL (http://127.0.0.1:PORT/PATH), or nothing when none answers.
status_of() {
  timeout 20 bash -c 'rest=${1#http://}; address=${rest%%/*}
    exec 4<>"/dev/tcp/${address%:*}/${address#*:}" || exit 1
    printf "GET /%s HTTP/1.0\r\nHost: %s\r\n\r\n" "${rest#*/}" "$address" >&4
    head -n1 <&4 | tr -d "\r"' _ "$1" 2>/dev/null
}

# The first run reads an article and marks it; the home keeps its links, naming this news server.
# Its services start on kept ports outside the range handed to any socket, so no other program's
# connection takes one before the second run.
mkdir -p "$home"
printf '%s 1\n' news sharing push-lookup push-core push-control push-report qq >"$home/ports"
# With no room below the range, the first run takes ports of its own rather than port 1.
settle_ports || rm -f "$home/ports"
start_run "$home"
favourite_first_article
stop_reader
first=$(news_port "$work/err.txt")
[ -n "$first" ] || fail "the first run's news server said no port: $(cat "$work/err.txt")"
link=$(grep -raohE "http://127\.0\.0\.1:$first/img/[A-Za-z0-9_]+/[0-9]+x[0-9]+\.(jpg|png|gif)" "$home" | head -n1)
[ -n "$link" ] || fail "the first run kept no picture of its news server (port $first) in the home"

# The second run: the same port, so the kept link answers while it runs.
start_run "$home"
say menu
second=$(news_port "$work/err.txt")
[ "$second" = "$first" ] || fail "the second run's news server took port $second, not $first of the first run"
answer=$(status_of "$link")
[[ $answer == *" 200 "* ]] || fail "the link kept in the first run, $link, answered \"$answer\" in the second"
stop_reader

# The port taken by another program: the run starts on a new one, says so, and keeps that one.
"$newsd" --port "$first" --port-file "$work/blocker-port" 2>/dev/null &
blocker=$!
written "$work/blocker-port" "$blocker" "no stand-in took port $first"
printf 'quit\n' | "$run" "$home" >"$work/third.txt" 2>"$work/third-err.txt" ||
  fail "a run with its kept port taken failed: $(tail -n 5 "$work/third-err.txt")"
third=$(news_port "$work/third-err.txt")
[ -n "$third" ] && [ "$third" != "$first" ] || fail "with port $first taken the news server said port \"$third\""
grep -qF "articles kept by earlier runs still name port $first" "$work/third-err.txt" ||
  fail "the run did not say the kept articles name the old port: $(cat "$work/third-err.txt")"
grep -qx "news $third" "$home/ports" || fail "the home did not keep the new port $third: $(cat "$home/ports")"
kill "$blocker"
wait "$blocker" 2>/dev/null
blocker=

# Ports files that are none: each is let go with a line, and the run starts on free ports.
for text in 'news 65536' 'news 12345 6' 'rm -rf / 1'; do
  printf '%s\n' "$text" >"$home/ports"
  printf 'quit\n' | "$run" "$home" >/dev/null 2>"$work/bad-err.txt" ||
    fail "a run on the ports file \"$text\" failed: $(tail -n 5 "$work/bad-err.txt")"
  grep -qF "ports is not a list of services' ports" "$work/bad-err.txt" ||
    fail "the ports file \"$text\" was taken without a word: $(cat "$work/bad-err.txt")"
  grep -qF "articles kept by earlier runs still name the old news port" "$work/bad-err.txt" ||
    fail "the ports file \"$text\" was let go without the note on kept articles: $(cat "$work/bad-err.txt")"
done
# One bad line among good ones: the news port it still gives is named.
printf 'news %s\nqq 70000\n' "$third" >"$home/ports"
printf 'quit\n' | "$run" "$home" >/dev/null 2>"$work/bad-err.txt" || fail "a run on a ports file with one bad line failed"
grep -qF "still name the old news port $third" "$work/bad-err.txt" ||
  fail "one bad line let the kept news port go without naming it: $(cat "$work/bad-err.txt")"
echo "kept ports: a home's next run listens where its last did, so its kept links answer; a taken port is said, a bad ports file let go"
