#!/bin/sh
# Runs one fuzz target for a bounded time on a scratch copy of its seed
# corpus (the checked-in seeds, regression cases among them, are never
# changed). Any finding fails the run and is kept in FINDINGS.
# Usage: run_fuzzer.sh FUZZER SEEDS SECONDS FINDINGS
set -eu
fuzzer=$1 seeds=$2 seconds=$3 findings=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$findings"
cd "$work"
status=0
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 "$work/corpus" "$seeds" || status=$?
for artifact in crash-* leak-* timeout-* oom-* slow-unit-*; do
  [ -e "$artifact" ] && cp "$artifact" "$findings/" && echo "finding kept: $findings/$artifact"
done
exit $status
