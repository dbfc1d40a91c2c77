# Sourced by the scripts that drive the reader through a FIFO held open on descriptor 3, its
# output in $out, its process in $pid, a fail function and a $work folder.
#
# say COMMAND: sends it, then a wait of its own length as a mark, and waits until the mark is
# echoed: the command has been carried out and its screen printed. The command's part of the
# output is then in $work/said. A reader started again on an emptied $out sets last=0.
n=0
last=0
say() {
  n=$((n + 1))
  local mark
  mark=$(printf 'wait 0.%04d' "$n")
  printf '%s\n%s\n' "$1" "$mark" >&3
  for _ in $(seq 900); do
    local at
    at=$(grep -nxF -- "> $mark" "$out" | cut -d: -f1)
    if [ -n "$at" ]; then
      sed -n "$((last + 1)),${at}p" "$out" >"$work/said"
      last=$at
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || fail "the reader ended during: $1"
    sleep 0.1
  done
  fail "no answer to: $1 (with the pipe still open)"
}
# said TEXT COMMAND: the command's output holds TEXT. quiet COMMAND: it printed no error.
said() { grep -qF -- "$1" "$work/said" || fail "after \"$2\" the reader did not print: $1"; }
quiet() { grep -q '^error:' "$work/said" && fail "\"$1\" failed: $(grep '^error:' "$work/said")"; }
