# Sourced by the tests of scripts/run with their own arguments, SOURCE_ROOT NEWSD NEWSREADER SHARINGD
# PUSHD QQCONNECTD: say.sh on the news server and the reader, then scripts/run as written, copied
# beside a stand-in setup and a cmake that does nothing, on a build folder holding the programs
# given, so nothing is installed or built. The copy is $run, the home $home, and $services holds
# SHARINGD PUSHD QQCONNECTD. start_run HOME: the copy on HOME, driven through the pipe as say.sh
# drives the reader (stop_reader ends it).
source "$(dirname "${BASH_SOURCE[0]}")/say.sh" "${@:2:2}"
services=("${@:4:3}")
home="$work/home"
mkdir -p "$work/root/scripts" "$work/bin" "$work/build/app" "$work/build/tools"/{newsd,sharingd,pushd,qqconnectd}
cp "$1/scripts/run" "$work/root/scripts/run"
printf '#!/bin/sh\nexit 0\n' >"$work/root/scripts/setup"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/cmake"
chmod +x "$work/root/scripts/run" "$work/root/scripts/setup" "$work/bin/cmake"
ln -s "$reader" "$work/build/app/newsreader"
for program in "$newsd" "${services[@]}"; do
  ln -s "$program" "$work/build/tools/$(basename "$program")/$(basename "$program")"
done
export PATH="$work/bin:$PATH" BUILD_DIR="$work/build"
run="$work/root/scripts/run"

# kept NAME: the port the home's ports file keeps for service NAME. set_kept NAME PORT: it keeps PORT.
kept() { sed -n "s/^$1 \([0-9]*\)$/\1/p" "$home/ports"; }
set_kept() { sed -i "s/^$1 .*/$1 $2/" "$home/ports"; }
# settle_ports: each kept port becomes a distinct free one below the range the system hands out to
# sockets that ask for any port. Ports a run took from that range can be handed to another program's
# connection before the next run (tests run side by side), which then moves a port nobody moved.
# Fails, changing nothing, when the range leaves no room below it.
settle_ports() {
  local first name taken port
  read -r first _ </proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || first=32768
  [ "$first" -gt 12000 ] || return 1
  taken=' '
  while read -r _ address _; do
    taken+="$((16#${address##*:})) "
  done < <(tail -qn +2 /proc/net/tcp /proc/net/tcp6 /proc/net/udp /proc/net/udp6 2>/dev/null)
  for name in $(sed -n 's/^\([a-z-]*\) [0-9]*$/\1/p' "$home/ports"); do
    port=$((10000 + RANDOM % (first - 10000)))
    while [[ $taken == *" $port "* ]]; do port=$((10000 + RANDOM % (first - 10000))); done
    taken+="$port "
    set_kept "$name" "$port"
  done
}
start_run() {
  rm -f "$work/in"
  mkfifo "$work/in"
  : >"$out"
  "$run" "$1" <"$work/in" >"$out" 2>"$work/err.txt" &
  pid=$!
  exec 3>"$work/in"
  last=0
}
