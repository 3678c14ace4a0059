#!/usr/bin/env bash
# Wrong keys at full speed from 64 addresses while the owner signs in from
# another one every 5 s (panel-guess), against this build's server with a
# key: over IPv4 loopback (127.0.0.2 to .65), then, in a network namespace
# this script makes and removes, over IPv6 from 64 addresses of one /64 and
# from 64 /64s. Each run prints the keys checked and refused a minute, the
# longest sign-in and the server's CPU. Needs root for the namespace; the
# IPv6 runs are left out without it. The server runs in its own folder
# under the build directory, removed at the end, and is stopped by its
# process id however the run ends.
#   tools/guess-figures.sh BUILD_DIR [SECONDS]
set -euo pipefail
# --help: the comment above, the script's usage.
case "${1:-}" in --help | -h) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac

build=$(cd "$1" && pwd)
seconds=${2:-60}
folder="$build/guess"
namespace="panel-guess-$$"
made_namespace=
server=

finish() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    server=
  fi
  if [ -n "$made_namespace" ]; then ip netns del "$namespace" 2>/dev/null || true; fi
  rm -rf "$folder"  # the server's log of a flood runs to some 100 MB a minute
}
trap finish EXIT

rm -rf "$folder"
mkdir -p "$folder"
"$build/make-picture" "$folder/work.bmp" 640 480
key=$("$build/panel-key" "$folder/keys" | sed -n 's/^Key: //p')

# run LABEL SERVER_ADDRESS LISTEN OWNER SOURCES...: the server and
# panel-guess run behind in_ns (the namespace's `ip netns exec`, or nothing).
in_ns=()
run() {
  local label=$1 address=$2 listen=$3 owner=$4
  shift 4
  local port
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  rm -f "$folder/session-secret"
  (cd "$folder" && PANEL_KEY_FILE="$folder/keys" PANEL_LISTEN=$listen \
    exec setpriv --pdeathsig KILL -- "${in_ns[@]}" "$build/panel-server" -p "$port" >server.log) &
  server=$!
  sleep 2
  echo "== $label"
  "${in_ns[@]}" "$build/panel-guess" "$server" \
    "$address" "$port" "$key" "$seconds" "$owner" "$@"
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  server=
  # Answers lost to connections closed early hide some checks from the
  # tool; the server's log names every wrong key it hashed.
  echo "wrong keys the server checked: $(grep -c '^Wrong access key from' "$folder/server.log")"
}

sources=()
for i in $(seq 2 65); do sources+=("127.0.0.$i"); done
run "IPv4, 64 loopback addresses" 127.0.0.1 127.0.0.1 127.0.1.1 "${sources[@]}"

if ip netns add "$namespace" 2>/dev/null; then
  made_namespace=1
  in_ns=(ip netns exec "$namespace")
  "${in_ns[@]}" ip link set lo up
  one=()
  many=()
  for i in $(seq 1 64); do
    one+=("fd00:0:0:1::$i")
    many+=("fd00:0:0:$((i + 100))::1")
  done
  for address in "${one[@]}" "${many[@]}" fd00:0:0:2::1 fd00:0:0:3::1; do
    "${in_ns[@]}" ip -6 addr add "$address/128" dev lo nodad
  done
  run "IPv6, 64 addresses in one /64" fd00:0:0:2::1 :: fd00:0:0:3::1 "${one[@]}"
  run "IPv6, 64 addresses in 64 /64s" fd00:0:0:2::1 :: fd00:0:0:3::1 "${many[@]}"
else
  echo "== IPv6 runs left out: no network namespace could be made"
fi
