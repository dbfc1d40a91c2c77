#!/usr/bin/env bash
# The whole road: the sample server on a free loopback port, the reader against it with nothing on
# standard input (so it plays its tour), then a look at what it printed. With a FAULT (sharingd's
# --fault text for every action, such as 500, garbage or stall) the sharing service fails: the tour
# says so, closes the sign-in page and goes on.
#   end_to_end.sh NEWSD NEWSREADER [SHARINGD [FAULT]]
set -uo pipefail
newsd=$1
reader=$2
sharingd=${3:-}
fault=${4:-}
work=$(mktemp -d)
server=
sharing=
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; fi
  if [ -n "$sharing" ]; then kill "$sharing" 2>/dev/null; wait "$sharing" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- reader output (last 80 lines)"; tail -n 80 "$work/out.txt" 2>/dev/null
  echo "--- reader errors"; tail -n 40 "$work/err.txt" 2>/dev/null
  exit 1
}

"$newsd" --port 0 --port-file "$work/port" 2>"$work/newsd.txt" &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "newsd did not report its port"

sharing_args=()
if [ -n "$sharingd" ]; then
  fault_args=()
  [ -n "$fault" ] && fault_args=(--fault "all=$fault")
  "$sharingd" --port 0 --port-file "$work/sharing-port" --verbose "${fault_args[@]}" 2>"$work/sharingd.txt" &
  sharing=$!
  for _ in $(seq 100); do [ -s "$work/sharing-port" ] && break; sleep 0.1; done
  [ -s "$work/sharing-port" ] || fail "sharingd did not report its port"
  sharing_args=(--sharing-server "http://127.0.0.1:$(cat "$work/sharing-port")")
fi

"$reader" --home "$work/home" --server "http://127.0.0.1:$(cat "$work/port")" "${sharing_args[@]}" </dev/null >"$work/out.txt" 2>"$work/err.txt"
status=$?
[ "$status" -eq 0 ] || fail "newsreader exited with $status"

out="$work/out.txt"
grep -q '^=== screen ===' "$out" || fail "no screen was printed"
grep -q 'VXSplashView' "$out" || fail "the splash was never on screen"
grep -q '^tabs: 要闻 | 中国军情 | 国际军情' "$out" || fail "the category tabs are missing"
grep -q 'title="要闻"' "$out" || fail "the tab strip is not in the screen dump"
titles='我国新型驱逐舰|空军某航空兵旅|海军舰艇编队|陆军某合成旅|火箭军某部|新一代隐身战机|国产大型运输机|某型主战坦克|海军陆战队|战区联合指挥部|无人机部队|边防某团|预警机编队|两栖攻击舰|远程轰炸机|多国海军|维和步兵营|舰载直升机分队|防空导弹营|电子对抗部队'
grep -Eq "text=\"($titles)" "$out" || fail "no article title in the list"
grep -q '^row 1 ' "$out" || fail "the article's rows were not printed"
grep -Eq '^row [0-9]+ votes: detail_digg [0-9]+, detail_bury [0-9]+' "$out" || fail "the vote row has no counts"
grep -q '^pulled: ' "$out" || fail "pull did not say what happened"
# What a person sees: the pages beside the screen are named, not printed, and no picture goes unnamed.
grep -q 'off screen: 11 VXNewsTableView' "$out" || fail "the pages off screen are not named in one line"
grep -q 'VXNewsTableView (320, 0' "$out" && fail "a page off screen was printed"
grep -q 'image=-' "$out" && fail "a picture printed without a name"
grep -Eq '^row [0-9]+ text: .+' "$out" || fail "the article has no text row"
if [ -n "$sharingd" ]; then
  grep -q 'OBSocialIconActionSheet' "$out" || fail "the share sheet was never on screen"
  if [ -n "$fault" ]; then
    grep -q '^sharing: posted to' "$out" && fail "a share was confirmed by a failing service"
    grep -Eq '^sharing: the sign-in page (is still loading|shows ".+"); closing it$' "$out" ||
      fail "the failing sign-in page was not shown and closed"
    sed -n '/^--- back to the list/,$p' "$out" | grep -q 'WebView (' && fail "the sign-in page stayed after it was closed"
    grep -q '^error: no back button' "$out" && fail "the tour could not go back to the list"
    echo "end to end: tabs, list, refresh, next page, an article shown (sharing service failing: $fault)"
    exit 0
  fi
  # The news client's seven platforms in its order, read off the captions' places (row, then
  # column) as the sheet first printed them.
  captions=$(grep -E '^ *Label \([0-9]+, [0-9]+, 70, 20\) text="[^"]*" tag=2[0-9][0-9]$' "$out" | head -n 7 |
    sed -E 's/^ *Label \(([0-9]+), ([0-9]+), .*text="([^"]*)".*/\2 \1 \3/' | sort -n -k1,1 -k2,2 | awk '{printf "%s ", $3}')
  [ "$captions" = '微信好友 微信朋友圈 手机QQ QQ空间 新浪微博 人人网 豆瓣 ' ] ||
    fail "the share sheet does not show the seven platforms in order: $captions"
  grep -q '^sharing: signed in to 新浪微博 as reader' "$out" || fail "the authorisation page's sign-in form was not used"
  grep -q '^sharing: posted to 新浪微博' "$out" || fail "the article was not shared"

  # The messenger road: the sheet's session icon, the messenger application on the same device,
  # and its answer back, which the reader records with the sharing service.
  before=$(grep -c '(action 5)' "$work/sharingd.txt")
  printf 'wait 2\ntap row 0\ntap detail_toolbar_share\ntap 微信好友\nwait 2\nquit\n' |
    "$reader" --home "$work/home" --server "http://127.0.0.1:$(cat "$work/port")" "${sharing_args[@]}" >"$work/out.txt" 2>"$work/err.txt" ||
    fail "the messenger share script failed"
  grep -q '^messenger: shared to chat: ' "$out" || fail "the messenger did not receive the share"
  # The article's title, then its link set apart.
  grep -Eq '^messenger: shared to chat: .*[^ ] http://127\.0\.0\.1:[0-9]+/[^ ]+$' "$out" ||
    fail "the messenger's line does not say the title and then the link: $(grep '^messenger:' "$out")"
  after=$(grep -c '(action 5)' "$work/sharingd.txt")
  [ "$after" -gt "$before" ] || fail "the messenger's answer did not come back to the reader"
fi
echo "end to end: tabs, list, refresh, next page, an article shown${sharingd:+ and shared, by the sharing service and by the messenger}"
