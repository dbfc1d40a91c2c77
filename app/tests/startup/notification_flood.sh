#!/usr/bin/env bash
# A push channel peer that sends 30,000 short notifications and then ends its side: once the reader
# has closed the channel it has handled every one of them, and its memory is what it was, not a
# share of every notification it heard.
#   notification_flood.sh NEWSD NEWSREADER
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"

peer=
trap 'kill $peer 2>/dev/null; wait $peer 2>/dev/null; cleanup' EXIT

count=30000
# The reader's resident memory in MB.
resident() { awk '/^VmRSS:/ { print int($2 / 1024) }' "/proc/$pid/status"; }
# What the notifications may add to it: kept whole, 30,000 of them took hundreds of MB.
growth=64

# The channel: the device's first line names its token; once told to go (a line on $work/go), the
# notifications, each a badge and a message id; then the peer ends its side and waits for the
# reader to close the channel, which it does once it has read and handled every line.
mkfifo "$work/channel-port" "$work/go" "$work/closed"
perl -e '
  use strict;
  use IO::Socket::INET;
  my ($work, $count) = @ARGV;
  $SIG{PIPE} = "IGNORE";
  my $listener = IO::Socket::INET->new(Listen => 1, LocalAddr => "127.0.0.1", LocalPort => 0, Proto => "tcp")
    or die "cannot listen: $!";
  open(my $port, ">", "$work/channel-port") or die; print $port $listener->sockport . "\n"; close $port;
  sub send_all {
    my ($socket, $data) = @_;
    for (my $at = 0; $at < length $data;) {
      my $n = syswrite($socket, $data, length($data) - $at, $at);
      die "the device went: $!" unless $n;
      $at += $n;
    }
  }
  my $device = $listener->accept or die "cannot accept: $!";
  my $first = <$device>;
  die "the device did not name itself first" unless defined $first && $first =~ /^device /;
  open(my $go, "<", "$work/go") or die; <$go>; close $go;
  my $lines = "";
  for my $i (1 .. $count) {
    $lines .= "remote {\"aps\":{\"badge\":1},\"_j_msgid\":$i}\n";
    if (length $lines >= 65536) { send_all($device, $lines); $lines = ""; }
  }
  send_all($device, $lines);
  shutdown($device, 1) or die "cannot end the channel: $!";
  my $rest = "";
  while (sysread($device, my $more, 4096)) { $rest .= $more; }
  open(my $closed, ">", "$work/closed") or die; print $closed "closed\n"; close $closed;
' "$work" "$count" 2>"$work/peer.txt" &
peer=$!
read -r port <"$work/channel-port" || fail "the channel peer did not report its port: $(cat "$work/peer.txt")"

start_server
# The address sanitizer keeps freed blocks resident (256 MB of them by default): kept few here, so
# that what is resident is what the reader holds.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=16"
start_reader --push-control "$port"
say 'wait 0.1'
quiet 'wait 0.1 (the home screen)'
before=$(resident)

echo go >"$work/go"
# Opened both ways so that the open does not wait for the peer; the read does.
exec 6<>"$work/closed"
read -t 180 -r _ <&6 || fail "the reader did not close the channel after $count notifications: $(cat "$work/peer.txt")"
exec 6<&-
# Past the home screen's own second's wait for each of them.
say 'wait 1.5'
quiet 'wait 1.5'
after=$(resident)
[ "$after" -le $((before + growth)) ] ||
  fail "the reader grew from $before MB to $after MB over $count notifications"

stop_reader
echo "notification flood: $count notifications; the reader held $before MB before and $after MB after"
