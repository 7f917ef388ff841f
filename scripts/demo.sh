#!/usr/bin/env bash
# Sets up and runs the suite's main job: the server Tessaly serving its moving, time-stamped test picture and a
# tone on 127.0.0.1, and `streamtool probe` looking at it as a receiver does for a few seconds. With a display
# Tessaly shows its window; without one it runs --headless and prints its status and list. The demo ends by
# itself (or on Ctrl-C) and stops what it started.
# Usage: scripts/demo.sh [SECONDS]   (how long the probe watches; default 6)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
bin="$root/build/bin"
seconds=${1:-6}
server_pid=""

stop_server() {
  [[ -n "$server_pid" ]] || return 0
  kill -TERM "$server_pid" 2>/dev/null || true  # SIGTERM runs the server's own shutdown ("終了")
  for _ in $(seq 1 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
}
trap stop_server EXIT
trap 'exit 130' INT TERM

port_busy() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
# The usual ports 8001 and 8002, or the next free pair when something already listens there.
video_port=8001
while port_busy "$video_port" || port_busy "$((video_port + 1))"; do
  video_port=$((video_port + 2))
  if ((video_port > 8101)); then echo "demo: no free pair of ports from 8001 to 8102" >&2; exit 1; fi
done
sound_port=$((video_port + 1))

mode=(--headless)
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then mode=(); fi
echo "demo: starting tessaly ${mode[*]:-with its window} on 127.0.0.1:$video_port (video) and :$sound_port (sound)"
"$bin/tessaly" "${mode[@]}" --serve --capture testpattern --audio-in tone --bind 127.0.0.1 \
  --video-port "$video_port" --sound-port "$sound_port" </dev/null &
server_pid=$!
for _ in $(seq 1 100); do
  port_busy "$video_port" && break
  kill -0 "$server_pid" 2>/dev/null || { echo "demo: tessaly ended before serving" >&2; exit 1; }
  sleep 0.1
done
port_busy "$video_port" || { echo "demo: tessaly does not listen on port $video_port" >&2; exit 1; }

echo "demo: streamtool probe watches the server for $seconds s as a receiver would"
"$bin/streamtool" probe --video-port "$video_port" --sound-port "$sound_port" --seconds "$seconds" 127.0.0.1
sleep 2.5  # one more list refresh of the server, then it shuts down
echo "demo: stopping tessaly"
stop_server
echo "demo: done"
