#!/usr/bin/env bash
# Whole-program figures of tessaly watching by itself, on 127.0.0.1 with the moving test picture at 15
# pictures per second (motion all the time, so that recording never stops) and a tone as the sound input:
#   1. with 10 receivers (`streamtool probe`) and 20 web viewers (/stream.mjpg), the server's CPU share and
#      resident memory without watching, with --motion, and with --motion --record (one long recording);
#   2. the time from an event's start at the server (its "started" line) to the motion-start message at an
#      /events client, and the time from the first moving picture written to tessaly to that message
#      (detection needs 3 motion pictures in a row: 0.2 s of that is by design).
# Usage: bench/watch_load.sh [SECONDS]   (default 10)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/bin"
seconds=${1:-10}
hz=$(getconf CLK_TCK)
work=$(mktemp -d)
server_pid=""
declare -a helpers=()

cleanup() {
  for p in "${helpers[@]}"; do kill "$p" 2>/dev/null || true; done
  if [[ -n "$server_pid" ]]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

port_of() { awk -F= -v n="$1" '$1 == n {print $2}' "$work/ports"; }

# start_server CAPTURE [EXTRA TESSALY OPTIONS...]: its output goes to $work/out.
start_server() {
  local capture=$1
  shift
  rm -f "$work/ports"
  "$bin/tessaly" --headless --serve --capture "$capture" --audio-in tone --audio-out null --bind 127.0.0.1 \
    --video-port 0 --sound-port 0 --http-port any --http-max-viewers 40 --port-file "$work/ports" "$@" \
    </dev/null >"$work/out" 2>&1 &
  server_pid=$!
  for _ in $(seq 1 100); do [[ -s "$work/ports" ]] && grep -q http= "$work/ports" && return; sleep 0.1; done
  echo "watch_load: tessaly did not start" >&2
  exit 1
}

stop_server() {
  for p in "${helpers[@]}"; do kill "$p" 2>/dev/null || true; done
  helpers=()
  kill -TERM "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
}

# "cpu_percent rss_kib" of the server over the measuring window, with 10 receivers and 20 web viewers.
loaded_figures() {
  for i in $(seq 1 10); do
    "$bin/streamtool" probe --video-port "$(port_of video)" --sound-port "$(port_of sound)" \
      --seconds "$((seconds + 3))" 127.0.0.1 >/dev/null 2>&1 &
    helpers+=($!)
    sleep 0.05
  done
  for i in $(seq 1 20); do
    curl -s --max-time "$((seconds + 3))" "http://127.0.0.1:$(port_of http)/stream.mjpg" >/dev/null &
    helpers+=($!)
  done
  sleep 2
  local c0 c1 t0 t1 rss
  c0=$(awk '{print $14 + $15}' "/proc/$server_pid/stat"); t0=$(date +%s.%N)
  sleep "$seconds"
  c1=$(awk '{print $14 + $15}' "/proc/$server_pid/stat"); t1=$(date +%s.%N)
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$server_pid/status")
  awk -v c="$((c1 - c0))" -v hz="$hz" -v t0="$t0" -v t1="$t1" -v rss="$rss" \
    'BEGIN {printf "cpu %.1f %% of a core, resident %.1f MB\n", 100 * c / hz / (t1 - t0), rss / 1024}'
}

echo "1. 15 pictures/s, 10 receivers, 20 web viewers, ${seconds} s each"
for mode in plain motion record; do
  case $mode in
    plain) start_server testpattern ;;
    motion) start_server testpattern --motion ;;
    record) start_server testpattern --record "$work/recordings" ;;
  esac
  printf '   %-7s ' "$mode:"
  loaded_figures
  stop_server
done

echo "2. motion in the picture to motion-start at an /events client"
# Python feeds a sample picture to tessaly through a FIFO at 15 pictures/s (raw:FIFO), listens on /events, and
# from picture 45 on writes a moving square: the time from writing that picture to the message.
python3 - "$bin" "$root/../shared/samples/building.ppm" "$work" <<'PY'
import os, socket, subprocess, sys, threading, time
bin_dir, ppm_path, work = sys.argv[1:4]
ppm = open(ppm_path, 'rb').read()
fields, at = [], 0
while len(fields) < 4:  # P6 header: magic, width, height, maximum
    while ppm[at:at + 1].isspace(): at += 1
    start = at
    while not ppm[at:at + 1].isspace(): at += 1
    fields.append(ppm[start:at])
rgb = ppm[at + 1:at + 1 + 320 * 240 * 3]
still = bytearray(len(rgb))
still[0::3], still[1::3], still[2::3] = rgb[2::3], rgb[1::3], rgb[0::3]

def moving(n):
    f = bytearray(still)
    x0 = 20 + (n % 15) * 15
    for y in range(80, 160):
        f[(y * 320 + x0) * 3:(y * 320 + x0 + 60) * 3] = b'\xff\xff\xff' * 60
    return bytes(f)

delays = []
for run in range(5):
    ports = os.path.join(work, 'ports-sse')
    if os.path.exists(ports): os.remove(ports)
    fifo = os.path.join(work, 'pictures-%d' % run)
    os.mkfifo(fifo)
    server = subprocess.Popen([os.path.join(bin_dir, 'tessaly'), '--headless', '--serve', '--capture', 'raw:' + fifo,
        '--audio-in', 'tone', '--audio-out', 'null', '--bind', '127.0.0.1', '--video-port', '0', '--sound-port', '0',
        '--http-port', 'any', '--port-file', ports, '--motion'], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    pictures = open(fifo, 'wb')  # once tessaly reads it
    heard = threading.Event()
    def listen():
        for _ in range(100):
            if os.path.exists(ports) and 'http=' in open(ports).read(): break
            time.sleep(0.1)
        port = int(dict(l.split('=') for l in open(ports).read().split()).get('http'))
        s = socket.create_connection(('127.0.0.1', port))
        s.sendall(b'GET /events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n' % port)
        s.settimeout(15)
        data = b''
        while b'event: motion-start' not in data:
            chunk = s.recv(4096)
            if not chunk: return
            data += chunk
        heard.at = time.monotonic()
        heard.set()
    threading.Thread(target=listen, daemon=True).start()
    first_motion = None
    next_at = time.monotonic()
    for n in range(150):
        picture = bytes(still) if n < 45 else moving(n)
        if n == 45: first_motion = time.monotonic()
        pictures.write(picture); pictures.flush()
        next_at += 1 / 15
        time.sleep(max(0, next_at - time.monotonic()))
        if heard.is_set(): break
    if heard.is_set(): delays.append(heard.at - first_motion)
    server.terminate(); server.wait(10); pictures.close()
    print('   run %d: %s' % (run + 1, '%.0f ms' % (1000 * delays[-1]) if heard.is_set() else 'no motion-start'))
if delays:
    delays.sort()
    print('   median %.0f ms over %d runs (3 motion pictures at 15/s are 133 ms after the first)' % (1000 * delays[len(delays) // 2], len(delays)))
PY
