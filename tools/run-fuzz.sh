#!/usr/bin/env bash
# Runs every fuzz harness in BUILD for SECONDS each, from a working copy of its
# committed seed corpus, and prints the executions of each. A finding (crash,
# sanitizer report, leak, time-out) stops the run with status 1; the input
# that caused it is kept in BUILD/findings.
#   tools/run-fuzz.sh BUILD SECONDS
set -euo pipefail
# --help: the comment above, the script's usage.
case "${1:-}" in --help | -h) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/findings" "$build/work"
total=0
for harness in "$build"/fuzz/*_fuzz; do
  name=$(basename "$harness" _fuzz)
  corpus="$build/work/$name"
  mkdir -p "$corpus"
  if [ -d "$root/fuzz/corpus/$name" ]; then cp -n "$root/fuzz/corpus/$name"/* "$corpus"/ 2>/dev/null || true; fi
  log="$build/work/$name.log"
  if ! "$harness" -max_total_time="$seconds" -close_fd_mask=1 -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="$build/findings/$name-" "$corpus" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $name: FINDING (see $build/findings)"
    exit 1
  fi
  runs=$(grep -o 'Done [0-9]* runs' "$log" | grep -o '[0-9]*' || echo 0)
  total=$((total + runs))
  echo "fuzz: $name: $runs executions in ${seconds}s, no finding"
done
echo "fuzz: $total executions in all"
