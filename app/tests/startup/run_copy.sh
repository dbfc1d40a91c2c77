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
start_run() {
  rm -f "$work/in"
  mkfifo "$work/in"
  : >"$out"
  "$run" "$1" <"$work/in" >"$out" 2>"$work/err.txt" &
  pid=$!
  exec 3>"$work/in"
  last=0
}
