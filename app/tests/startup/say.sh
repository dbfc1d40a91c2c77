# Sourced by the scripts that drive the reader through a FIFO held open on descriptor 3, with
# the news server and the reader as their first two arguments: a $work folder removed at the end
# with both processes, the reader's output in $out, its process in $pid, and fail.
#
# start_server [NEWSD OPTION...] and stop_server: the news server, its port in $work/port.
# start_reader [READER OPTION...] and stop_reader: the reader on the FIFO, against that server.
# start_terminal_reader: the reader on a terminal fed from the FIFO, as a person types at it (each
# command runs as it is typed); seen_after LINE TEXT WHAT waits for TEXT past output line LINE.
# say COMMAND: sends it, then a wait of its own length as a mark, and waits until the mark is
# echoed: the command has been carried out and its screen printed. The command's part of the
# output is then in $work/said. A reader started again on an emptied $out sets last=0.
# written FILE PID FAILURE [LOG] waits for a program's port file; ends_with STATUS WHEN closes the
# pipe and checks the reader's exit status; next_change sleeps until the output changes.
newsd=$1
reader=$2
work=$(mktemp -d)
server=
pid=
watcher=
cleanup() {
  exec 3>&- 2>/dev/null
  for p in $pid $server $watcher ${push:-}; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
out="$work/out.txt"
: >"$out"
# The waits for the reader's output sleep until it changes: each change of $out is a line on
# descriptor $changes (inotifywait, installed by scripts/setup; without it they look every 0.1 s).
changes=
if command -v inotifywait >/dev/null; then
  exec {changes}< <(exec inotifywait -qm -e modify "$out" 2>/dev/null)
  watcher=$!
fi
# next_change: returns once $out has changed since the last call, or after 1 s at most.
next_change() {
  if [ -z "$changes" ]; then
    sleep 0.1
  elif read -r -t 1 -u "$changes" _ || [ $? -gt 128 ]; then
    while read -r -t 0 -u "$changes" && read -r -u "$changes" _; do :; done
  else
    changes= # the watch is gone
  fi
}
fail() {
  echo "FAIL: $*"
  echo "--- reader output (last 60 lines)"; tail -n 60 "$out" 2>/dev/null
  echo "--- reader errors"; tail -n 20 "$work/err.txt" 2>/dev/null
  echo "--- reader log"; tail -n 20 "$work/home/console.log" 2>/dev/null
  echo "--- newsd"; tail -n 20 "$work/newsd.txt" 2>/dev/null
  exit 1
}

# written FILE PID FAILURE [LOG]: FILE is there and not empty within 60 s (a program puts its port
# file in place whole), else fail with FAILURE and the end of LOG; process PID ending first fails at
# once. Sleeps on the folder's changes (inotifywait, installed by scripts/setup), each sleep bounded
# so that an end of PID is seen.
written() {
  # The bound only stops a hang: an instrumented service on a loaded machine may take seconds to start.
  local file=$1 end=$((SECONDS + 60)) status
  until [ -s "$file" ]; do
    if ! kill -0 "$2" 2>/dev/null; then
      wait "$2" 2>/dev/null
      status=$?
      fail "$3 (it ended with $status)${4:+: $(tail -n 20 "$4" 2>/dev/null)}"
    fi
    [ "$SECONDS" -lt "$end" ] || fail "$3 in 60 s${4:+: $(tail -n 20 "$4" 2>/dev/null)}"
    inotifywait -qq -t 1 -e moved_to -e close_write "$(dirname "$file")" 2>/dev/null
    case $? in 0 | 2) ;; *) sleep 0.1 ;; esac # no inotifywait here, or no watch: look again shortly
  done
}
start_server() {
  rm -f "$work/port"
  "$newsd" --port 0 --port-file "$work/port" --pass 1 "$@" 2>>"$work/newsd.txt" &
  server=$!
  written "$work/port" "$server" "newsd did not report its port" "$work/newsd.txt"
}
stop_server() {
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
  server=
}
start_reader() {
  rm -f "$work/in"
  mkfifo "$work/in"
  : >"$out"
  : >"$work/err.txt"
  "$reader" --home "$work/home" --server "http://127.0.0.1:$(cat "$work/port")" "$@" <"$work/in" >"$out" 2>"$work/err.txt" &
  pid=$!
  exec 3>"$work/in"
  last=0
}
start_terminal_reader() {
  rm -f "$work/in"
  mkfifo "$work/in"
  : >"$out"
  # The reader ends with the terminal's keeper, its parent.
  script -qfec "exec '$reader' --home '$work/home' --server 'http://127.0.0.1:$(cat "$work/port")' --parent \$PPID" /dev/null \
    <"$work/in" >"$out" 2>"$work/err.txt" &
  pid=$!
  exec 3>"$work/in"
  last=0
}
# seen_after LINE TEXT WHAT: TEXT shows in the reader's output past line LINE within 40 s.
seen_after() {
  local end=$((SECONDS + 40))
  while [ "$SECONDS" -lt "$end" ]; do
    tail -n +"$(($1 + 1))" "$out" | grep -qF -- "$2" && return 0
    kill -0 "$pid" 2>/dev/null || fail "the reader ended while waiting for $3"
    next_change
  done
  fail "no $3 in the reader's output"
}
# ends_with STATUS WHEN: the pipe closed, the reader ends with STATUS, as it should WHEN.
ends_with() {
  exec 3>&-
  wait "$pid"
  local status=$?
  pid=
  [ "$status" -eq "$1" ] || fail "the reader exited with $status $2 ($1 expected)"
}
stop_reader() {
  printf 'quit\n' >&3
  exec 3>&-
  wait "$pid"
  pid=
}

n=0
last=0
say() {
  n=$((n + 1))
  local mark
  mark=$(printf 'wait 0.%04d' "$n")
  printf '%s\n%s\n' "$1" "$mark" >&3
  local end=$((SECONDS + 90))
  while [ "$SECONDS" -lt "$end" ]; do
    local at
    at=$(grep -nxF -- "> $mark" "$out" | cut -d: -f1)
    if [ -n "$at" ]; then
      sed -n "$((last + 1)),${at}p" "$out" >"$work/said"
      last=$at
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || fail "the reader ended during: $1"
    next_change
  done
  fail "no answer to: $1 (with the pipe still open)"
}
# said TEXT COMMAND: the command's output holds TEXT. quiet COMMAND: it printed no error.
said() { grep -qF -- "$1" "$work/said" || fail "after \"$2\" the reader did not print: $1"; }
quiet() { grep -q '^error:' "$work/said" && fail "\"$1\" failed: $(grep '^error:' "$work/said")"; }
# start_push PUSHD [OPTION...]: the push service on free ports, its process in $push (ended with the rest), its
# control port in $control; $work/hosts routes the push client's lookup (port 19000) to it.
# notify JSON: offered on the push channel until it reaches the reader's device (its push client
# reports the device's token once logged in).
push=
start_push() {
  "$1" --lookup-port 0 --port-file "$work/push-ports" "${@:2}" 2>"$work/pushd.txt" &
  push=$!
  written "$work/push-ports" "$push" "pushd did not report its ports" "$work/pushd.txt"
  read -r lookup _ control _ <"$work/push-ports"
  echo "127.0.0.1:19000 127.0.0.1:$lookup" >"$work/hosts"
}
notify() {
  local answer=
  for _ in $(seq 120); do
    exec 4<>"/dev/tcp/127.0.0.1/$control" || fail "the push service's control port did not take a connection"
    echo "notify $1" >&4
    read -r answer <&4
    exec 4>&-
    case "$answer" in "ok 0" | "") sleep 0.5 ;; ok*) return 0 ;; *) fail "notify answered: $answer" ;; esac
  done
  fail "the pushed headline reached no device: $answer"
}
# Opens the first article of 中国军情 and marks it with the toolbar's 收藏; sets $title to its title.
favourite_first_article() {
  say 'tap 中国军情'
  quiet 'tap 中国军情'
  say 'tap row 0'
  quiet 'tap row 0'
  say rows
  title=$(sed -n 's/^row 1 header: //p' "$work/said" | head -n1)
  [ -n "$title" ] || fail "the article showed no title"
  say 'tap 收藏'
  said '收藏成功' "tap 收藏 (the toolbar)"
}
