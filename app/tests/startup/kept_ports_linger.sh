#!/usr/bin/env bash
# scripts/run on a home whose kept ports other programs' connections used last: each such port
# lingers after its connection (the program ended it first, so the port waits out its last packets,
# up to a minute), and no service can listen there meanwhile. The run starts all the same: each
# service takes a free port, the run says which moved, and the home keeps the new ones.
#   kept_ports_linger.sh SOURCE_ROOT NEWSD NEWSREADER SHARINGD PUSHD QQCONNECTD
# Exits 77 (skipped) without python3, which plays the other program.
set -uo pipefail
source "$(dirname "$0")/run_copy.sh" "$@"
command -v python3 >/dev/null || { echo "kept ports linger: no python3 to play the other program; skipped"; exit 77; }

# lingering N: N ports, one a line, each left waiting (TIME_WAIT) by a connection that went out
# from it to a listener here and that our side ended first, as any program's may; the sockets did
# not ask to share their address.
lingering() {
  python3 - "$1" <<'EOF' || fail "no connection could go out"
import socket, sys
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(8)
for _ in range(int(sys.argv[1])):
    client = socket.socket()
    client.connect(listener.getsockname())
    print(client.getsockname()[1])
    accepted, _ = listener.accept()
    client.close()
    accepted.recv(1)  # our end first, then theirs: the wait stays with the client's port
    accepted.close()
listener.close()
EOF
}
# waiting PORT: a connection that ended lingers on local port PORT.
waiting() {
  awk -v port="$(printf '%04X' "$1")" 'FNR > 1 { split($2, a, ":"); if (a[2] == port && $4 == "06") found = 1 } END { exit !found }' /proc/net/tcp
}

# The home keeps ports that such connections used last (the first run wrote the rest).
printf 'quit\n' | "$run" "$home" >"$out" 2>"$work/err.txt" || fail "the first run failed: $(tail -n 5 "$work/err.txt")"
names=(news sharing push-core push-control push-report qq)
mapfile -t ports < <(lingering ${#names[@]})
[ ${#ports[@]} = ${#names[@]} ] || fail "the connections out left ${#ports[@]} ports: ${ports[*]}"
declare -A before=()
for i in "${!names[@]}"; do
  before[${names[$i]}]=${ports[$i]}
  waiting "${ports[$i]}" || fail "port ${ports[$i]} was not left waiting after its connection"
  set_kept "${names[$i]}" "${ports[$i]}"
done

printf 'quit\n' | "$run" "$home" >"$out" 2>"$work/err.txt" ||
  fail "a run with its kept ports lingering failed: $(tail -n 5 "$work/err.txt")"
grep -q '=== screen ===' "$out" || fail "the run showed no screen: $(tail -n 5 "$work/err.txt")"
grep -q 'did not start' "$work/err.txt" && fail "a service did not start: $(cat "$work/err.txt")"
grep -qF "articles kept by earlier runs still name port ${before[news]}" "$work/err.txt" ||
  fail "the run did not say the news server moved: $(cat "$work/err.txt")"
for name in news sharing push-core push-control push-report qq; do
  grep -qE "^scripts/run: port ${before[$name]}, .* in the last run, .*; it listens on [0-9]+ now" "$work/err.txt" ||
    fail "the run did not say the $name port ${before[$name]} moved: $(cat "$work/err.txt")"
done
declare -A seen=()
for name in news sharing push-core push-control push-report qq; do
  now=$(kept "$name")
  [ -n "$now" ] && [ "$now" != 0 ] && [ "$now" != "${before[$name]}" ] ||
    fail "the home kept $name port \"$now\" (it was ${before[$name]}): $(cat "$home/ports")"
  [ -z "${seen[$now]:-}" ] || fail "port $now kept for both ${seen[$now]} and $name"
  seen[$now]=$name
done
echo "kept ports linger: a run whose kept ports wait out other programs' connections starts on free ones and says so"
