#!/usr/bin/env bash
# Ports files scripts/run takes as a list of services' ports, and what a service makes of a port
# it cannot have. Two services named on one port (a copied home, a hand edit), a port the user may
# not take, a folder where the file belongs: each run starts every service, says which moved, and
# keeps distinct ports, none of them 0, that the next run takes as they are. pushd told a port it
# cannot have stops, or with --free-if-taken listens on a free one, and tells only ports it has.
#   kept_ports_file.sh SOURCE_ROOT NEWSD NEWSREADER SHARINGD PUSHD QQCONNECTD
set -uo pipefail
source "$(dirname "$0")/run_copy.sh" "$@"
pushd_program=${services[1]}
names=(news sharing push-lookup push-core push-control push-report qq)
push=
trap '[ -z "$push" ] || kill "$push" 2>/dev/null; cleanup' EXIT

# run_once WHAT: scripts/run on the home with a quit; it starts every service and shows a screen.
run_once() {
  printf 'quit\n' | "$run" "$home" >"$out" 2>"$work/err.txt" || fail "$1: the run failed: $(tail -n 5 "$work/err.txt")"
  grep -q '=== screen ===' "$out" || fail "$1: the run showed no screen: $(tail -n 5 "$work/err.txt")"
  grep -q 'did not start\|not a list' "$work/err.txt" && fail "$1: $(cat "$work/err.txt")"
}
# sound WHAT: the home keeps a port for each service, each a port and each another.
sound() {
  [ -f "$home/ports" ] || fail "$1: the home's ports are not a file: $(ls -ld "$home/ports")"
  local name port
  declare -A seen=()
  for name in "${names[@]}"; do
    port=$(kept "$name")
    [[ $port =~ ^[1-9][0-9]*$ ]] && [ "$port" -le 65535 ] || fail "$1: the home keeps \"$port\" for $name: $(cat "$home/ports")"
    [ -z "${seen[$port]:-}" ] || fail "$1: the home keeps port $port for both ${seen[$port]} and $name"
    seen[$port]=$name
  done
}
# moved WHAT PORT: the run said a service's port PORT of the last run gave way.
moved() {
  grep -qE "^scripts/run: port $2, .* in the last run, cannot be taken; it listens on [0-9]+ now" "$work/err.txt" ||
    fail "$1: the run did not say port $2 moved: $(cat "$work/err.txt")"
}
# again WHAT: the next run takes the ports as they are kept.
again() {
  settle_ports
  cp "$home/ports" "$work/ports-before"
  run_once "$1, the next run"
  grep -q 'cannot be taken' "$work/err.txt" && fail "$1: the next run moved a port: $(cat "$work/err.txt")"
  diff -u "$work/ports-before" "$home/ports" >/dev/null || fail "$1: the next run kept other ports: $(cat "$home/ports")"
}

run_once 'a fresh home'
sound 'a fresh home'

# One port for the core and control ports of the push service.
settle_ports
core=$(kept push-core)
set_kept push-control "$core"
run_once 'push-control on the core port'
moved 'push-control on the core port' "$core"
grep -q "^scripts/run: the push service's control port is [1-9]" "$work/err.txt" ||
  fail "push-control on the core port: no control port said: $(cat "$work/err.txt")"
sound 'push-control on the core port'
[ "$(kept push-core)" = "$core" ] || fail "the core port moved from $core, not the control port"
again 'push-control on the core port'

# One port for the core and report ports.
settle_ports
core=$(kept push-core)
set_kept push-report "$core"
run_once 'push-report on the core port'
moved 'push-report on the core port' "$core"
sound 'push-report on the core port'
again 'push-report on the core port'

# One port for the news server, the sharing service and the push lookup (a datagram port).
settle_ports
news=$(kept news)
set_kept sharing "$news"
set_kept push-lookup "$news"
run_once 'three on the news port'
moved 'three on the news port' "$news"
[ "$(kept news)" = "$news" ] || fail "the news server moved from $news, not the others"
sound 'three on the news port'
again 'three on the news port'

# A port below 1024, which a user without the right to bind such ports may not take: the news server
# takes another. Played as root by giving up that right.
low=
for candidate in $(seq 1023 -1 900); do
  grep -qi ":$(printf '%04X' "$candidate") " /proc/net/tcp /proc/net/tcp6 2>/dev/null || { low=$candidate && break; }
done
as_user=()
[ "$(id -u)" != 0 ] || as_user=(setpriv --bounding-set=-net_bind_service)
if [ -n "$low" ] && [ "$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024)" -gt "$low" ] &&
  "${as_user[@]}" true 2>/dev/null; then
  set_kept news "$low"
  printf 'quit\n' | "${as_user[@]}" "$run" "$home" >"$out" 2>"$work/err.txt" ||
    fail "news on port $low: the run failed: $(tail -n 5 "$work/err.txt")"
  grep -q 'did not start' "$work/err.txt" && fail "news on port $low: $(cat "$work/err.txt")"
  moved "news on port $low" "$low"
  sound "news on port $low"
else
  echo "kept ports file: no way here to lose the right to bind ports below 1024; that case skipped"
fi

# A folder where the ports file belongs: said, moved aside, and the run's ports kept in its place.
rm -f "$home/ports"
mkdir "$home/ports"
: >"$home/ports/inside"
printf 'quit\n' | "$run" "$home" >"$out" 2>"$work/err.txt" || fail "a ports folder: the run failed: $(tail -n 5 "$work/err.txt")"
grep -qF "ports is not a list of services' ports" "$work/err.txt" || fail "a ports folder was taken without a word"
sound 'a ports folder'
[ -f "$home/ports.refused/inside" ] || fail "the ports folder was not moved aside: $(ls -la "$home")"
again 'a ports folder'

# pushd itself, told one port for its core and control ports: it stops, or with --free-if-taken
# listens for control on a free port, and its port file names only ports it listens on.
taken=$(kept push-core)
# It is waited for as it stops; one that listens all the same is stopped after 20 s (its parent,
# the timeout, ends then), its ports told.
timeout 20 bash -c 'exec "$@" --parent $PPID' _ "$pushd_program" --lookup-port 0 --core-port "$taken" \
  --control-port "$taken" --port-file "$work/push-ports" 2>"$work/pushd.txt"
status=$?
[ -e "$work/push-ports" ] && fail "pushd without a control port wrote its ports: $(cat "$work/push-ports")"
[ "$status" -ne 0 ] || fail "pushd without a control port ended with 0: $(cat "$work/pushd.txt")"
grep -q 'control port' "$work/pushd.txt" || fail "pushd did not say which port failed: $(cat "$work/pushd.txt")"
"$pushd_program" --lookup-port 0 --core-port "$taken" --control-port "$taken" --free-if-taken --port-file "$work/push-ports" \
  --parent $$ 2>"$work/pushd.txt" &
push=$!
written "$work/push-ports" "$push" "pushd --free-if-taken wrote no ports" "$work/pushd.txt"
read -r _ core control report <"$work/push-ports"
[ "$core" = "$taken" ] && [ "$control" != "$taken" ] && [ "$control" != 0 ] && [ "$report" != 0 ] ||
  fail "pushd --free-if-taken told core $core, control $control, report $report (asked $taken for both)"
grep -q "control port $taken cannot be taken" "$work/pushd.txt" || fail "pushd did not say the control port moved: $(cat "$work/pushd.txt")"
answer=$(timeout 20 bash -c 'exec 4<>"/dev/tcp/127.0.0.1/$1"; printf "silence off\n" >&4; head -n1 <&4' _ "$control")
[[ $answer == ok* ]] || fail "the control port $control answered \"$answer\""
echo "kept ports file: ports named twice, a port not the user's and a folder for a file each give way to free ports, said and kept"
