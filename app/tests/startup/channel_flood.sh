#!/usr/bin/env bash
# A push channel peer that sends one line with no break, on and on: the reader's memory stays
# bounded while the line comes and after it ends, and a command sent meanwhile is answered while
# the line is still coming.
#   channel_flood.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"

peer=
trap 'kill "$peer" 2>/dev/null; wait "$peer" 2>/dev/null; cleanup' EXIT

# The reader's resident memory in MB. The bound sits far above what it holds under the sanitizers
# and far below what the line would take kept whole.
resident() { awk '/^VmRSS:/ { print int($2 / 1024) }' "/proc/$pid/status"; }
bound=600
# Bytes of the line sent so far, counted by the peer.
flooded() { cat "$work/flooded" 2>/dev/null || echo 0; }
wait_flooded() {
  for _ in $(seq 1200); do
    [ "$(flooded)" -ge "$1" ] && return 0
    kill -0 "$peer" 2>/dev/null || fail "the channel peer ended: $(cat "$work/peer.txt")"
    kill -0 "$pid" 2>/dev/null || fail "the reader ended while the line came"
    sleep 0.1
  done
  fail "the reader took only $(flooded) bytes of the line in 120 s"
}

# The channel: the device's first line names its token; then one line that does not end until
# $work/stop appears (or two minutes have gone by), counted in $work/flooded every 16 MB.
perl -e '
  use strict;
  use IO::Socket::INET;
  my $work = shift;
  $SIG{PIPE} = "IGNORE";
  my $listener = IO::Socket::INET->new(Listen => 1, LocalAddr => "127.0.0.1", LocalPort => 0, Proto => "tcp")
    or die "cannot listen: $!";
  sub put { my ($name, $text) = @_; open(my $f, ">", "$work/$name.tmp") or die; print $f $text; close $f; rename "$work/$name.tmp", "$work/$name"; }
  sub send_all {
    my ($socket, $data) = @_;
    for (my $at = 0; $at < length $data;) {
      my $n = syswrite($socket, $data, length($data) - $at, $at);
      return 0 unless $n;
      $at += $n;
    }
    return 1;
  }
  put("channel-port", $listener->sockport . "\n");
  my $device = $listener->accept or die "cannot accept: $!";
  my $first = <$device>;
  die "the device did not name itself first" unless defined $first && $first =~ /^device /;
  send_all($device, "remote {\"aps\":{\"alert\":\"") or die "the device went: $!";
  # As fast as the device takes it: large writes, and a look at the time and for the stop only
  # between 16 MB.
  my $piece = "x" x (1 << 20);
  my ($sent, $until) = (0, time + 120);
  while (!-e "$work/stop" && time < $until) {
    for (1 .. 16) { send_all($device, $piece) or die "the device went: $!"; }
    $sent += 16 * length $piece;
    put("flooded", "$sent\n");
  }
  send_all($device, "\"},\"id\":1}\n") or die "the device went: $!";
  put("line-ended", "");
  sleep;
' "$work" 2>"$work/peer.txt" &
peer=$!
written "$work/channel-port" "$peer" "the channel peer did not report its port" "$work/peer.txt"

start_server
# The address sanitizer keeps freed blocks resident (256 MB of them by default): kept few here, so
# that what is resident is what the reader holds.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=16"
start_reader --push-control "$(cat "$work/channel-port")"

# Well past the bound has been sent, and the reader holds none of it.
wait_flooded $((2 * bound << 20))
[ "$(resident)" -lt "$bound" ] || fail "the reader holds $(resident) MB after $(flooded) bytes of one line"

# A command sent meanwhile is answered while the line still comes.
say help
said 'commands:' help
[ -e "$work/line-ended" ] && fail "help was answered only once the line had ended"
from=$(flooded)
wait_flooded $((from + (256 << 20)))
[ "$(resident)" -lt "$bound" ] || fail "the reader holds $(resident) MB after $(flooded) bytes of one line"

# Once the line ends, the reader reads on, holding what it held before.
touch "$work/stop"
for _ in $(seq 100); do [ -e "$work/line-ended" ] && break; sleep 0.1; done
[ -e "$work/line-ended" ] || fail "the channel peer did not end the line"
say help
said 'commands:' 'help (after the line)'
[ "$(resident)" -lt "$bound" ] || fail "the reader holds $(resident) MB after the line ended"

stop_reader
echo "channel flood: $(flooded) bytes of one line; the reader stayed under $bound MB and answered meanwhile"
