#!/usr/bin/env bash
# clang-tidy over the system's code (not tests, tools or generated tables),
# with the checks in .clang-tidy; any finding fails.
#   tools/lint.sh BUILD_DIR
set -uo pipefail
# --help: the comment above, the script's usage.
case "${1:-}" in --help | -h) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
cd "$(dirname "$0")/.."
build=${1:-build/test}
mapfile -t sources < <(git ls-files 'app/*.cpp' 'server/*.cpp' 'door/*.cpp' 'graphics/*.cpp' 'widgets/*.cpp' |
  grep -v '_table.cpp$')
clang-tidy -p "$build" --quiet "${sources[@]}" 2>&1 | grep -v 'warnings generated\.$'
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] && echo "lint: clean (${#sources[@]} files)"
exit "$status"
