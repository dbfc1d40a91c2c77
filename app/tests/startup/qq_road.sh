#!/usr/bin/env bash
# The QQ road of the runnable reader: the news, sharing and QQ Connect services on free loopback
# ports, the QQ Connect client's hosts routed to the last, and the reader sharing an article to
# QZone and to a QQ friend. Both go to the QQ application beside the reader (app to app), which
# says what it received and answers; the reader then shows its toast and records the share with
# the sharing service, while the QQ Connect service hears the session's policy fetch. Nothing of
# this road calls the OpenAPI, so the service's add_share stays unasked.
#   qq_road.sh NEWSD NEWSREADER SHARINGD QQCONNECTD
set -uo pipefail
newsd=$1
reader=$2
sharingd=$3
qqconnectd=$4
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- reader output (last 60 lines)"; tail -n 60 "$work/out.txt" 2>/dev/null
  echo "--- reader errors"; tail -n 20 "$work/err.txt" 2>/dev/null
  echo "--- qqconnectd"; cat "$work/qqconnectd.txt" 2>/dev/null
  exit 1
}
# Starts a service that writes its port to FILE; its standard error goes to LOG.
start() {
  local file=$1 log=$2
  shift 2
  "$@" --port-file "$work/$file" 2>"$work/$log" &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/$file" ] && return 0; sleep 0.1; done
  fail "$1 did not report its port"
}
start port newsd.txt "$newsd" --port 0
start sharing-port sharingd.txt "$sharingd" --port 0 --verbose
start qq-port qqconnectd.txt "$qqconnectd" --port 0 --verbose
grep -q 'test account 10001, password qq123456' "$work/qqconnectd.txt" || fail "qqconnectd did not print its test account"
# The QQ Connect client's policy, report and analytics hosts, as scripts/run routes them.
qq=$(cat "$work/qq-port")
for host in policy.qqconnect.local report.qqconnect.local analytics.qqconnect.local; do
  echo "$host:80 127.0.0.1:$qq"
done >"$work/hosts"

printf 'wait 2\ntap row 0\ntap 分享\ntap QQ空间\nwait 2\ntap 分享\ntap 手机QQ\nwait 2\nquit\n' |
  "$reader" --home "$work/home" --server "http://127.0.0.1:$(cat "$work/port")" --hosts "$work/hosts" \
    --sharing-server "http://127.0.0.1:$(cat "$work/sharing-port")" >"$work/out.txt" 2>"$work/err.txt" ||
  fail "the reader's QQ script failed"
out="$work/out.txt"
# QQ read the title and link from the URL and the preview picture from the pasteboard. The share
# text carries the article's link after its title, and the line says it once.
grep -Eq '^qq: shared to QZone \(news\): .+http://127\.0\.0\.1:[0-9]+/[^ ]+, with a preview picture of [0-9]+ bytes$' "$out" ||
  fail "QQ did not receive the QZone share"
grep -Eq '^qq: shared to a friend \(news\): .+http://127\.0\.0\.1:[0-9]+/[^ ]+, with a preview picture' "$out" ||
  fail "QQ did not receive the share to a friend"
grep -E '^qq: shared' "$out" | grep -Eq '(http://[^ ]+) \1' && fail "QQ's line says the link twice"
[ "$(grep -c 'text="分享成功"' "$out")" -ge 2 ] || fail "the reader did not show the finished toast after each answer"
grep -q 'AlertView' "$out" && fail "an alert showed on the QQ road"
# Each answer from QQ is recorded with the sharing service.
[ "$(grep -c '(action 5)' "$work/sharingd.txt")" -eq 2 ] || fail "the sharing service did not record both shares"
# Each share made a QQ Connect session, which fetched the policy; no share called the OpenAPI.
[ "$(grep -c '^qqconnectd: policy 1101284736$' "$work/qqconnectd.txt")" -ge 2 ] || fail "the sessions' policy fetches did not arrive"
grep -q 'add_share\|m_authorize' "$work/qqconnectd.txt" && fail "the share road reached the OpenAPI or the login page"
echo "qq road: QZone and QQ shares went to QQ and back, recorded by the sharing service; the QQ Connect service heard the policy fetches"
