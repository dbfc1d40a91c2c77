#!/usr/bin/env bash
# Status reports still waiting when the reader ends (the push service refusing them for now) are
# kept in the home and counted by the push service in the next run on it: the reader ended by
# `quit`, by the end of its input, by SIGTERM to scripts/run and by SIGINT to the reader itself.
# More wait than one report carries, so the next run must send them all, not only the newest that
# fit one.
#   reports_kept.sh SOURCE_ROOT NEWSD NEWSREADER SHARINGD PUSHD QQCONNECTD
set -uo pipefail
source "$(dirname "$0")/run_copy.sh" "$@"

count=400

control_port() { sed -n "s/^scripts\/run: the push service's control port is \([0-9]*\)$/\1/p" "$work/err.txt"; }
# control LINE: the push service's answer to one line on its control port.
control() {
  local answer=
  exec 4<>"/dev/tcp/127.0.0.1/$push_control" || fail "the push service's control port took no connection"
  echo "$1" >&4
  read -r answer <&4
  exec 4>&-
  echo "$answer"
}
# statuses STORE PREFIX: the status reports in the report store whose message ids start with PREFIX.
statuses() { grep -c "\"msg_status\".*\"msg_id\":\"$2[0-9]\{4\}\"\|\"msg_id\":\"$2[0-9]\{4\}\".*\"msg_status\"" "$1" 2>/dev/null || true; }

# run_with_reports_refused STORE PREFIX [MODE]: scripts/run on the home with the push service
# keeping what it accepts in STORE; the service refuses reports (`report 500`, or MODE: `stall`
# holds every upload unanswered), and $count notifications with ids PREFIX0001... reach the
# reader, whose status reports then wait.
run_with_reports_refused() {
  export PUSHD_ARGS="--report-store $1"
  start_run "$home"
  say 'wait 0.1'
  push_control=$(control_port)
  [ -n "$push_control" ] || fail "scripts/run named no control port of the push service: $(cat "$work/err.txt")"
  [ "$(control "report ${3:-500}")" = ok ] || fail "the push service did not take \"report ${3:-500}\""
  # The first notification is offered until the reader's device is linked to the push channel.
  local answer= tries
  for tries in $(seq 60); do
    answer=$(control "notify {\"aps\":{\"badge\":1},\"_j_msgid\":${2}0001}")
    case "$answer" in ok\ [1-9]*) break ;; "ok 0" | "") say 'wait 0.5' ;; *) fail "notify answered: $answer" ;; esac
  done
  case "$answer" in ok\ [1-9]*) ;; *) fail "the first notification reached no device after $tries tries: $answer" ;; esac
  perl -e '
    use strict;
    use IO::Socket::INET;
    my ($port, $prefix, $count) = @ARGV;
    my $control = IO::Socket::INET->new(PeerAddr => "127.0.0.1", PeerPort => $port, Proto => "tcp")
      or die "cannot reach the control port: $!";
    for my $i (2 .. $count) {
      printf $control "notify {\"aps\":{\"badge\":1},\"_j_msgid\":%s%04d}\n", $prefix, $i;
      my $answer = <$control>;
      die "the control port went" unless defined $answer;
      die "notify answered: $answer" unless $answer =~ /^ok [1-9]/;
    }
  ' "$push_control" "$2" "$count" 2>"$work/flood.txt" || fail "the notifications did not go out: $(cat "$work/flood.txt")"
  # The reader takes them in, and the end comes soon after, before things have been quiet long.
  say 'wait 0.1'
  [ "$(statuses "$1" "$2")" -eq 0 ] || fail "the push service stored status reports it was refusing"
}

# expect_statuses STORE PREFIX WHEN: the next run on the home, with the service accepting, stores
# every one of the statuses (each once) within 60 s.
expect_statuses() {
  export PUSHD_ARGS="--report-store $1"
  start_run "$home"
  say 'wait 0.1'
  local end=$((SECONDS + 60)) got=0
  : >>"$1"
  while got=$(statuses "$1" "$2") && [ "$got" -lt "$count" ] && [ "$SECONDS" -lt "$end" ]; do
    kill -0 "$pid" 2>/dev/null || fail "scripts/run ended while the statuses of $3 were awaited"
    inotifywait -qq -t 1 -e modify "$1" 2>/dev/null
    case $? in 0 | 2) ;; *) sleep 0.1 ;; esac # no inotifywait here: look again shortly
  done
  [ "$got" -eq "$count" ] || fail "the next run's push service holds $got of the $count statuses waiting at $3"
  stop_reader
}

# Ended by `quit`.
run_with_reports_refused "$work/reports-1" 81
stop_reader
expect_statuses "$work/reports-2" 81 "quit"

# Ended by SIGTERM to scripts/run, its input still open: the reader ends as at `quit`.
run_with_reports_refused "$work/reports-3" 82
kill -TERM "$pid"
wait "$pid"
status=$?
pid=
exec 3>&-
[ "$status" -eq 143 ] || fail "scripts/run ended with $status after SIGTERM (143, the reader's end on SIGTERM, expected)"
expect_statuses "$work/reports-4" 82 "SIGTERM to scripts/run"
# the_reader: the process id of the reader scripts/run started.
the_reader() {
  local stat child comm parent
  for stat in /proc/[0-9]*/stat; do
    read -r child comm _ parent _ <"$stat" 2>/dev/null || continue
    [ "$parent" = "$pid" ] && [ "$comm" = "(newsreader)" ] && echo "$child" && return
  done
}

# Ended by the end of its input, no `quit` typed.
run_with_reports_refused "$work/reports-7" 84
exec 3>&-
wait "$pid"
pid=
expect_statuses "$work/reports-8" 84 "the end of the reader's input"

# Ended by SIGINT to the reader itself (an interrupt key at its terminal), its input still open.
run_with_reports_refused "$work/reports-9" 85
reader_pid=$(the_reader)
[ -n "$reader_pid" ] || fail "scripts/run started no reader"
kill -INT "$reader_pid"
wait "$pid"
pid=
exec 3>&-
expect_statuses "$work/reports-10" 85 "SIGINT to the reader"

# The reader killed outright, its uploads held unanswered and the other statuses waiting behind
# them: what waited through a quiet moment was in the home already.
run_with_reports_refused "$work/reports-5" 83 stall
say 'wait 3'
reader_pid=$(the_reader)
[ -n "$reader_pid" ] || fail "scripts/run started no reader"
kill -9 "$reader_pid"
wait "$pid"
pid=
exec 3>&-
expect_statuses "$work/reports-6" 83 "kill -9 of the reader"
echo "reports kept: $count statuses waiting at quit, at the end of input, at SIGTERM to scripts/run, at SIGINT" \
  "to the reader and through a quiet moment before kill -9, each counted at the next run"
