#!/usr/bin/env bash
# 30,000 remote notifications through the local push service while the reader runs, with the
# common limit of 1,024 open files: each one's status report reaches the push service's report
# service, while the reader's open files and memory stay flat and its lists still load.
#   report_flood.sh NEWSD NEWSREADER PUSHD
set -uo pipefail
source "$(dirname "$0")/say.sh" "$@"
pushd=$3
push=
sampler=
trap 'cleanup; for p in $sampler $push; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done' EXIT

count=30000
# What the flood may add to the reader's open files and resident memory (MB): one upload a
# notification took thousands of files and hundreds of MB. What waits while the flood lasts is
# bounded by the report cache; the notifications alone take some 20 MB.
files_growth=48
memory_growth=160

# The push service on free ports, keeping the records its report service accepts in a file.
start_push "$pushd" --report-store "$work/reports"

# Message ids of this flood's status reports the report service holds.
statuses() { grep -c '"msg_status".*"msg_id":"9[0-9]\{5\}"\|"msg_id":"9[0-9]\{5\}".*"msg_status"' "$work/reports" 2>/dev/null || true; }
open_files() { find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
resident() { awk '/^VmRSS:/ { print int($2 / 1024) }' "/proc/$pid/status"; }

start_server
# The address sanitizer keeps freed blocks resident (256 MB of them by default): kept few here, so
# that what is resident is what the reader holds.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=16"
ulimit -n 1024
start_reader --hosts "$work/hosts" --push-control "$control"
say 'wait 0.1'
quiet 'wait 0.1 (the home screen)'

# The first notification, offered until it reaches the reader's device.
notify '{"aps":{"badge":1},"_j_msgid":900000}'
for _ in $(seq 300); do [ "$(statuses)" -ge 1 ] && break; sleep 0.1; done
[ "$(statuses)" -ge 1 ] || fail "the first notification's status report did not reach the report service"
say 'wait 0.5'
files_before=$(open_files)
memory_before=$(resident)

# The most open files and memory while the flood lasts, sampled until told to stop.
echo "$files_before $memory_before" >"$work/most"
(
  most_files=$files_before
  most_memory=$memory_before
  while [ ! -e "$work/flood-done" ] && kill -0 "$pid" 2>/dev/null; do
    f=$(open_files)
    m=$(awk '/^VmRSS:/ { print int($2 / 1024) }' "/proc/$pid/status" 2>/dev/null || echo 0)
    [ "${f:-0}" -gt "$most_files" ] && most_files=$f
    [ "${m:-0}" -gt "$most_memory" ] && most_memory=$m
    echo "$most_files $most_memory" >"$work/most.new" && mv "$work/most.new" "$work/most"
    sleep 0.05
  done
) &
sampler=$!

# The flood, over one control connection: lines in runs of 500, each run's answers read before
# the next goes.
perl -e '
  use strict;
  use IO::Socket::INET;
  my ($port, $count) = @ARGV;
  my $control = IO::Socket::INET->new(PeerAddr => "127.0.0.1", PeerPort => $port, Proto => "tcp")
    or die "cannot reach the control port: $!";
  for (my $i = 1; $i <= $count; $i += 500) {
    my $last = $i + 499 > $count ? $count : $i + 499;
    my $lines = "";
    $lines .= "notify {\"aps\":{\"badge\":1},\"_j_msgid\":" . (900000 + $_) . "}\n" for $i .. $last;
    print $control $lines;
    for ($i .. $last) {
      my $answer = <$control>;
      die "the control port went" unless defined $answer;
      die "notify answered: $answer" unless $answer =~ /^ok [1-9]/;
    }
  }
' "$control" "$count" 2>"$work/flood.txt" || fail "the flood did not go out: $(cat "$work/flood.txt")"

# Every status report arrives, each once (the service keeps a record sent again once).
for _ in $(seq 1800); do [ "$(statuses)" -ge $((count + 1)) ] && break; kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
touch "$work/flood-done"
wait "$sampler" 2>/dev/null
sampler=
got=$(statuses)
[ "$got" -eq $((count + 1)) ] || fail "the report service holds $got of the $((count + 1)) status reports"
read -r most_files most_memory <"$work/most"
[ "$most_files" -le $((files_before + files_growth)) ] ||
  fail "the reader's open files went from $files_before to $most_files over $count notifications"
[ "$most_memory" -le $((memory_before + memory_growth)) ] ||
  fail "the reader grew from $memory_before MB to $most_memory MB over $count notifications"

# The lists still load, at once.
say 'tap 中国军情'
quiet 'tap 中国军情'
say pull
quiet pull
grep -qF '网络异常' "$work/said" && fail "pull after the flood showed 网络异常"
memory_after=$(resident)
[ "$memory_after" -le $((memory_before + memory_growth)) ] ||
  fail "the reader kept $memory_after MB after the flood, from $memory_before MB"
stop_reader
echo "report flood: $count notifications, every status report received; open files $files_before -> at most $most_files, memory $memory_before MB -> at most $most_memory MB, $memory_after MB after"
