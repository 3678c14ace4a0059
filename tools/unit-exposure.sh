#!/usr/bin/env bash
# Rates each service unit with systemd's own sandbox analysis (offline, so no
# running systemd is needed) and fails when one is exposed 2.0 or more on its
# scale of 0 (locked down) to 10 (unprotected), listing what is left open.
# Exit 77 (ctest: skipped) where systemd-analyze is missing.
#   tools/unit-exposure.sh UNIT...
set -euo pipefail
# --help: the comment above, the script's usage.
case "${1:-}" in --help | -h) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
limit=2.0
if ! command -v systemd-analyze >/dev/null; then
  echo "SKIPPED: systemd-analyze is missing (Debian package systemd: tools/setup.sh base)"
  exit 77
fi
status=0
for unit in "$@"; do
  report=$(systemd-analyze security --offline=true --no-pager "$unit" 2>&1) || true
  level=$(sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p' <<<"$report")
  if [ -z "$level" ]; then
    echo "$report"
    echo "$unit: systemd-analyze gave no exposure level"
    status=1
    continue
  fi
  echo "$unit: exposure $level, must stay under $limit"
  if awk -v level="$level" -v limit="$limit" 'BEGIN { exit !(level >= limit) }'; then
    grep '✗' <<<"$report" || true
    status=1
  fi
done
exit $status
