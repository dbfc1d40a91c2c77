#!/usr/bin/env bash
# scripts/run's work folder: a run killed outright (no trap runs) leaves it behind, and the next run
# removes it; the folder of a run still going stays, and goes with its run when that ends.
#   run_work_folder.sh SOURCE_ROOT NEWSD NEWSREADER SHARINGD PUSHD QQCONNECTD
set -uo pipefail
source "$(dirname "$0")/run_copy.sh" "$@"
# The runs' temporary folders go here, where nothing else makes any.
export TMPDIR="$work/tmp"
mkdir "$TMPDIR"
folders() { find "$TMPDIR" -mindepth 1 -maxdepth 1 -type d | sort; }

# A run killed outright keeps its folder.
start_run "$work/home-a"
say menu
killed=$(folders)
[ "$(echo "$killed" | wc -l)" = 1 ] && [ -n "$killed" ] || fail "one run made folders: $killed"
kill -9 "$pid"
wait "$pid" 2>/dev/null
exec 3>&-
pid=
[ -d "$killed" ] || fail "the folder of the killed run went without its run's trap: $killed"

# The next run removes it, while it runs.
start_run "$work/home-b"
say menu
[ -d "$killed" ] && fail "the next run left the folder of the killed run: $killed"
going=$(folders)
[ "$(echo "$going" | wc -l)" = 1 ] && [ -n "$going" ] || fail "the running run has folders: $going"

# A run beside it leaves that one in place.
printf 'quit\n' | "$run" "$work/home-c" >/dev/null 2>"$work/beside.txt" || fail "a run beside another failed: $(tail -n 5 "$work/beside.txt")"
[ -d "$going" ] || fail "a run beside a running one removed its folder $going"
stop_reader
[ -z "$(folders)" ] || fail "runs that ended left folders: $(folders)"
echo "run work folder: a run killed outright leaves its folder to the next run, which keeps those of runs going"
