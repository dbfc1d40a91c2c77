#!/usr/bin/env bash
# A share on its way while another sharing screen opens and closes. Signed in to 新浪微博, the
# reader posts an article from the share editor; the sharing service holds the post while the
# reader opens 豆瓣's sign-in screen from the share sheet and closes it. Let go, the post is
# answered, and the reader still shows that the share went.
#   share_held.sh NEWSD NEWSREADER SHARINGD
set -uo pipefail
source "$(dirname "$0")/say.sh" "$1" "$2"
sharingd=$3
sharing=
stop_sharing() {
  if [ -n "$sharing" ]; then kill "$sharing" 2>/dev/null; wait "$sharing" 2>/dev/null; fi
  sharing=
}
trap 'stop_sharing; cleanup' EXIT
failed() {
  echo "--- sharingd"; tail -n 20 "$work/sharingd.txt" 2>/dev/null
  fail "$@"
}
# posts: how many times sharingd has logged a post of a share so far.
posts() { grep -c '(action 5)$' "$work/sharingd.txt"; }

start_server
"$sharingd" --port 0 --port-file "$work/sharing-port" --verbose --fault 5=hold 2>"$work/sharingd.txt" &
sharing=$!
written "$work/sharing-port" "$sharing" "sharingd did not report its port" "$work/sharingd.txt"
start_reader --sharing-server "http://127.0.0.1:$(cat "$work/sharing-port")"

say 'tap row 0'
quiet 'tap row 0'
say 'tap 分享'
said '新浪微博' 'tap 分享'
# The service's sign-in page for 新浪微博, then the share editor.
say 'tap 新浪微博'
said '测试帐号' 'tap 新浪微博'
say 'tap 帐号'
say 'type reader'
say 'tap 密码'
say 'type reader123'
say 'tap 登录并授权'
said '发布' 'tap 登录并授权'
say 'tap 发布'
quiet 'tap 发布'
# The post has reached the service, which holds it.
for _ in $(seq 600); do [ "$(posts)" -ge 1 ] && break; sleep 0.1; done
[ "$(posts)" -eq 1 ] || failed "the post did not reach the sharing service"
grep -q 'text="分享成功"' "$out" && failed "the share was confirmed before the service answered"

# Another screen opens and closes meanwhile: 豆瓣 is not signed in, so its sign-in screen.
say 'tap 分享'
said '豆瓣' 'tap 分享 (again)'
say 'tap 豆瓣'
quiet 'tap 豆瓣'
said '豆瓣 授权登录' 'tap 豆瓣'
say 'tap 关闭'
quiet 'tap 关闭'

# Let go, the post is answered and the reader says the share went.
kill -USR1 "$sharing"
end=$((SECONDS + 60))
while [ "$SECONDS" -lt "$end" ] && ! grep -q 'text="分享成功"' "$out"; do next_change; done
grep -q 'text="分享成功"' "$out" || failed "the share held while another screen closed was never confirmed"
grep -q 'text="网络错误，分享失败"' "$out" && failed "the share was reported as failed"

stop_reader
echo "share held: a post on its way while 豆瓣's sign-in screen opened and closed was answered and shown"
