#!/usr/bin/env bash
# Whole-program figures for tessaly on 127.0.0.1: the test picture at 15 pictures per second, a tone as the
# sound input, and 10 receivers (`streamtool probe`) that each ask again the moment a frame arrives.
#   1. each picture once (the default): every receiver is served at the capture rate;
#   2. --resend-frames: every request is answered at once with the current frame, repeats included;
#   3. idle: no receiver, capture and sound input running.
# For 1 and 2: the server's CPU share and resident memory, frames per second per receiver and the frame bytes
# per second that the server sends (all receivers; 8000 bytes/s of sound per receiver come on top).
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

# shellcheck source=scripts/ports.sh
source "$root/scripts/ports.sh"

cpu_ticks() { awk '{print $14 + $15}' "/proc/$server_pid/stat"; }
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$server_pid/status"; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

# start_server [EXTRA TESSALY OPTIONS...]
start_server() {
  video_port=$(free_port)
  sound_port=$(free_port)
  while [[ "$sound_port" == "$video_port" ]]; do sound_port=$(free_port); done
  "$bin/tessaly" --headless --serve --capture testpattern --audio-in tone --audio-out null --bind 127.0.0.1 \
    --video-port "$video_port" --sound-port "$sound_port" --http-port 0 "$@" </dev/null >/dev/null &
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

# Starts the receivers, measures, and prints "cpu_percent rss_kib fps_per_receiver frame_bytes_per_s".
greedy_receivers() {
  local tmp cpu rss
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
  # fps and mean payload of each probe: frames per second per receiver, and frame messages' bytes in total.
  cat "$tmp"/probe*.txt | awk -v cpu="$cpu" -v rss="$rss" -F'[ =]' '/^frames=/ {
      n++; fps += $8; bytes += $8 * ($6 + 2) }
    END { printf "%s %s %.1f %.0f\n", cpu, rss, n ? fps / n : 0, bytes }'
  rm -rf "$tmp"
}

declare -a once_cpu=() once_rss=() once_fps=() once_bps=() resend_cpu=() resend_rss=() resend_fps=() resend_bps=()
declare -a idle_cpu=() idle_rss=()
for run in $(seq 1 "$runs"); do
  # 1. each picture once, then 3. idle on the same server
  start_server
  read -r cpu rss fps bps < <(greedy_receivers)
  once_cpu+=("$cpu"); once_rss+=("$rss"); once_fps+=("$fps"); once_bps+=("$bps")
  sleep 4  # the watchdog frees the slots
  read -r cpu rss < <(measure)
  idle_cpu+=("$cpu"); idle_rss+=("$rss")
  stop_server
  # 2. every request answered at once
  start_server --resend-frames
  read -r cpu rss fps bps < <(greedy_receivers)
  resend_cpu+=("$cpu"); resend_rss+=("$rss"); resend_fps+=("$fps"); resend_bps+=("$bps")
  stop_server
  echo "run $run: each picture once ${once_fps[-1]} frames/s per receiver, ${once_bps[-1]} B/s, cpu ${once_cpu[-1]} %;" \
    "--resend-frames ${resend_fps[-1]} frames/s per receiver, ${resend_bps[-1]} B/s, cpu ${resend_cpu[-1]} %; idle cpu ${idle_cpu[-1]} %"
done

m() { printf '%s\n' "$@" | median; }
echo "median of $runs runs, $seconds s each, $receivers receivers asking as fast as they can, 15 captured pictures per second:"
echo "  each picture once: $(m "${once_fps[@]}") frames/s per receiver, frames $(m "${once_bps[@]}") bytes/s in total," \
  "server CPU $(m "${once_cpu[@]}") % of one core, RSS $(m "${once_rss[@]}") KiB"
echo "  --resend-frames:   $(m "${resend_fps[@]}") frames/s per receiver, frames $(m "${resend_bps[@]}") bytes/s in total," \
  "server CPU $(m "${resend_cpu[@]}") % of one core, RSS $(m "${resend_rss[@]}") KiB"
echo "  no receiver: server CPU $(m "${idle_cpu[@]}") % of one core, RSS $(m "${idle_rss[@]}") KiB"
