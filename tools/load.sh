#!/usr/bin/env bash
# Runs the server on loopback with a picture of each given size and measures
# it with panel-load: idle with the clients, then clicks, then the clicks of
# five clients behind a relay limiting the link to 2 MB/s, compressed and
# plain (LOAD_RELAY=0 leaves that out). The server runs in
# its own folder under the build directory and is stopped (by its process id)
# when the measurement ends, however it ends.
#   tools/load.sh BUILD_DIR [CLIENTS] [CLICKS] [IDLE_SECONDS] [WIDTHxHEIGHT...]
# Pictures must be at least 640 x 480, to hold the whole panel.
set -euo pipefail
# --help: the comment above, the script's usage.
case "${1:-}" in --help | -h) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac

build=$(cd "$1" && pwd)
clients=${2:-5}
clicks=${3:-20}
idle=${4:-10}
shift $(($# < 4 ? $# : 4))
if [ $# -gt 0 ]; then sizes=("$@"); else sizes=(640x480 1024x600); fi
status=0

server=
stop_server() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    server=
  fi
}
trap stop_server EXIT

for size in "${sizes[@]}"; do
  folder="$build/load/$size"
  mkdir -p "$folder"
  "$build/make-picture" "$folder/work.bmp" "${size%x*}" "${size#*x}"
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  # setpriv: the server dies with this script, even when the script is killed.
  (cd "$folder" && exec setpriv --pdeathsig KILL -- "$build/panel-server" -p "$port" >server.log) &
  server=$!
  sleep 2  # the server prints its start-up and pauses a second before the panel is drawn
  echo "== $size picture, server pid $server, port $port"
  if ! timeout 300 "$build/panel-load" clicks "$server" "$port" "$clients" "$clicks" "$idle"; then
    echo "panel-load failed on the $size picture; the server said:" >&2
    tail -5 "$folder/server.log" >&2
    status=1
  fi
  if [ "${LOAD_RELAY:-1}" != 0 ] && ! timeout 600 "$build/panel-load" relay "$server" "$port" "$clicks"; then
    echo "panel-load relay failed on the $size picture; the server said:" >&2
    tail -5 "$folder/server.log" >&2
    status=1
  fi
  stop_server
done
exit $status
