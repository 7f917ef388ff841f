#!/usr/bin/env bash
# Whole-program figures for tessaly on 127.0.0.1: the test picture at 15 pictures per second, a tone as the
# sound input, and 10 receivers.
#   1. greedy: 10 `streamtool probe` receivers asking as fast as they can: frames served per second in total,
#      and the server's CPU share and resident memory meanwhile;
#   2. paced: 10 receivers that ask once per captured picture (15 per second) and take the sound, as a real
#      receiver does: the server's CPU share and resident memory;
#   3. idle: no receiver, capture and sound input running.
# Usage: bench/server_load.sh [SECONDS] [RUNS]   (defaults 10 and 3; medians of the runs are printed)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/bin"
seconds=${1:-10}
runs=${2:-3}
receivers=10
hz=$(getconf CLK_TCK)
server_pid=""
declare -a helpers=()

cleanup() {
  for p in "${helpers[@]}"; do kill "$p" 2>/dev/null || true; done
  if [[ -n "$server_pid" ]]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT INT TERM

port_busy() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
  local p
  for _ in $(seq 1 200); do
    p=$((20000 + RANDOM % 20000))
    port_busy "$p" || { echo "$p"; return; }
  done
  echo "server_load: no free port found" >&2
  exit 1
}

cpu_ticks() { awk '{print $14 + $15}' "/proc/$server_pid/stat"; }
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$server_pid/status"; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

start_server() {
  video_port=$(free_port)
  sound_port=$(free_port)
  while [[ "$sound_port" == "$video_port" ]]; do sound_port=$(free_port); done
  "$bin/tessaly" --headless --serve --capture testpattern --audio-in tone --audio-out null --bind 127.0.0.1 \
    --video-port "$video_port" --sound-port "$sound_port" </dev/null >/dev/null &
  server_pid=$!
  for _ in $(seq 1 100); do port_busy "$video_port" && return; sleep 0.1; done
  echo "server_load: tessaly did not start listening" >&2
  exit 1
}

stop_server() {
  kill -TERM "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
}

# Runs a command for the measuring window; prints "cpu_percent rss_kib" of the server over it.
measure() {
  local t0 t1 c0 c1
  sleep 1  # let the receivers connect
  c0=$(cpu_ticks); t0=$(date +%s.%N)
  sleep "$seconds"
  c1=$(cpu_ticks); t1=$(date +%s.%N)
  echo "$(awk -v c="$((c1 - c0))" -v hz="$hz" -v t0="$t0" -v t1="$t1" 'BEGIN {printf "%.2f", 100 * c / hz / (t1 - t0)}') $(rss_kib)"
}

paced_receiver() {
  python3 - "$video_port" "$sound_port" "$seconds" <<'PY'
import socket, sys, threading, time
vport, sport, seconds = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]) + 2
request = "VideoNext|END".encode("utf-16-le")
video = socket.create_connection(("127.0.0.1", vport))
video.sendall(request)
buf = b""
while not buf.endswith(b"\xff\xff"):
    buf += video.recv(65536)
sound = socket.create_connection(("127.0.0.1", sport))
def drain():
    try:
        while sound.recv(65536):
            pass
    except OSError:
        pass
threading.Thread(target=drain, daemon=True).start()
end = time.monotonic() + seconds
next_at = time.monotonic()
while time.monotonic() < end:
    video.sendall(request)
    buf = b""
    while not buf.endswith(b"\xff\xff"):
        chunk = video.recv(65536)
        if not chunk:
            sys.exit(0)
        buf += chunk
    next_at += 1 / 15
    time.sleep(max(0, next_at - time.monotonic()))
PY
}

declare -a greedy_fps=() greedy_cpu=() greedy_rss=() paced_cpu=() paced_rss=() idle_cpu=() idle_rss=()
for run in $(seq 1 "$runs"); do
  start_server
  # 1. greedy
  tmp=$(mktemp -d)
  helpers=()
  for i in $(seq 1 "$receivers"); do
    "$bin/streamtool" probe --video-port "$video_port" --sound-port "$sound_port" --seconds "$((seconds + 2))" \
      127.0.0.1 >"$tmp/probe$i.txt" 2>/dev/null &
    helpers+=($!)
    sleep 0.05  # one receiver at a time, so that each sound connection pairs with its own video connection
  done
  read -r cpu rss < <(measure)
  for p in "${helpers[@]}"; do wait "$p" || true; done
  helpers=()
  fps=$(cat "$tmp"/probe*.txt | awk -F'fps=' '/^frames=/ {s += $2} END {printf "%.0f", s}')
  rm -rf "$tmp"
  greedy_fps+=("$fps"); greedy_cpu+=("$cpu"); greedy_rss+=("$rss")
  sleep 4  # the watchdog frees the slots
  # 2. paced
  for i in $(seq 1 "$receivers"); do
    paced_receiver &
    helpers+=($!)
    sleep 0.05
  done
  read -r cpu rss < <(measure)
  for p in "${helpers[@]}"; do wait "$p" || true; done
  helpers=()
  paced_cpu+=("$cpu"); paced_rss+=("$rss")
  sleep 4
  # 3. idle
  read -r cpu rss < <(measure)
  idle_cpu+=("$cpu"); idle_rss+=("$rss")
  stop_server
  echo "run $run: greedy ${fps} frames/s, cpu ${greedy_cpu[-1]} %, rss ${greedy_rss[-1]} KiB; paced cpu ${paced_cpu[-1]} %, rss ${paced_rss[-1]} KiB; idle cpu ${idle_cpu[-1]} %"
done

echo "median of $runs runs, $seconds s each, $receivers receivers, 15 captured pictures per second:"
echo "  greedy receivers: $(printf '%s\n' "${greedy_fps[@]}" | median) frames/s served in total, server CPU $(printf '%s\n' "${greedy_cpu[@]}" | median) % of one core, RSS $(printf '%s\n' "${greedy_rss[@]}" | median) KiB"
echo "  paced receivers (15 requests/s each): server CPU $(printf '%s\n' "${paced_cpu[@]}" | median) % of one core, RSS $(printf '%s\n' "${paced_rss[@]}" | median) KiB"
echo "  no receiver: server CPU $(printf '%s\n' "${idle_cpu[@]}" | median) % of one core, RSS $(printf '%s\n' "${idle_rss[@]}" | median) KiB"
