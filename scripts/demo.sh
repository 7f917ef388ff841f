#!/usr/bin/env bash
# Sets up and runs the suite's main job: the server Tessaly serving its moving, time-stamped test picture and a
# tone on 127.0.0.1 (with its web page), and the receiver Quillon connected to it. With a display both show their windows and the
# demo runs until Quillon's window is ended (or for SECONDS when given); without one both run --headless,
# print their status lines, and the demo ends by itself after SECONDS. Ctrl-C stops everything it started.
# Usage: scripts/demo.sh [SECONDS]   (default 10 without a display)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
bin="$root/build/bin"
seconds_given=${1:-}
seconds=${1:-10}
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

# shellcheck source=scripts/ports.sh
source "$root/scripts/ports.sh"
# The usual ports 8001 and 8002, or the next free pair when something already listens there.
video_port=8001
while port_busy "$video_port" || port_busy "$((video_port + 1))"; do
  video_port=$((video_port + 2))
  if ((video_port > 8101)); then echo "demo: no free pair of ports from 8001 to 8102" >&2; exit 1; fi
done
sound_port=$((video_port + 1))
# The web page on 8080, or the next free port.
http_port=8080
while port_busy "$http_port"; do
  http_port=$((http_port + 1))
  if ((http_port > 8180)); then echo "demo: no free port for the web page from 8080 to 8180" >&2; exit 1; fi
done

mode=(--headless)
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then mode=(); fi
echo "demo: starting tessaly ${mode[*]:-with its window} on 127.0.0.1:$video_port (video) and :$sound_port (sound)"
"$bin/tessaly" "${mode[@]}" --serve --capture testpattern --audio-in tone --bind 127.0.0.1 \
  --video-port "$video_port" --sound-port "$sound_port" --http-port "$http_port" </dev/null &
server_pid=$!
for _ in $(seq 1 100); do
  port_busy "$video_port" && break
  kill -0 "$server_pid" 2>/dev/null || { echo "demo: tessaly ended before serving" >&2; exit 1; }
  sleep 0.1
done
port_busy "$video_port" || { echo "demo: tessaly does not listen on port $video_port" >&2; exit 1; }
echo "demo: the web page: http://127.0.0.1:$http_port/ (any browser on this machine)"

# The receiver reads the server's address from init.txt in its own folder.
receiver_dir=$(mktemp -d)
trap 'stop_server; rm -rf "$receiver_dir"' EXIT
printf '127.0.0.1\n' >"$receiver_dir/init.txt"
receiver=("$bin/quillon" "${mode[@]}" --connect --dir "$receiver_dir" --video-port "$video_port"
  --sound-port "$sound_port")
if ((${#mode[@]})) || [[ -n "$seconds_given" ]]; then
  echo "demo: quillon shows the server's picture for $seconds s (its console lines follow)"
  { sleep "$seconds"; echo quit; } | "${receiver[@]}"
else
  echo "demo: quillon shows the server's picture; choose 切断 and then 終了 in its window to end the demo"
  "${receiver[@]}" </dev/null
fi
echo "demo: stopping tessaly"
stop_server
echo "demo: done"
