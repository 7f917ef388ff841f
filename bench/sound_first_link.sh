#!/usr/bin/env bash
# Sound first on a slow link: one receiver (`streamtool probe`) takes tessaly's moving test picture and its
# tone through a link of RATE kbit/s, and the figures say whether the sound keeps flowing while the pictures
# take what the link has left: the longest gap between two sound blocks (a block is 0.2 s; a gap well above
# that is heard as a break), the sound blocks and frames a second, and the longest gap between two frames.
# The link is the loopback interface of a network namespace of its own (`unshare -n`, only lo up), limited by
# a token bucket (tc tbf), so that nothing leaves the machine and the host's loopback is untouched.
# Usage: bench/sound_first_link.sh [SECONDS] [RATE_KBIT...]   (root; default 20 s at 100, 200 and 400 kbit/s)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/bin"
seconds=${1:-20}
shift || true
rates=("${@:-100 200 400}")
read -ra rates <<<"${rates[*]}"

if [[ $(id -u) -ne 0 ]]; then
  echo "sound_first_link: needs root (a network namespace with a rate-limited loopback)" >&2
  exit 2
fi
for tool in unshare tc ip; do
  command -v "$tool" >/dev/null || { echo "sound_first_link: $tool is missing" >&2; exit 2; }
done

# One run inside the namespace: prints "longest_sound_gap_ms blocks_per_s frames_per_s longest_frame_gap_ms".
run_one() {
  local rate=$1 work
  work=$(mktemp -d)
  # shellcheck disable=SC2016 # the inner shell expands its own variables
  unshare -n bash -c '
    set -euo pipefail
    bin=$1 rate=$2 seconds=$3 work=$4
    # An Ethernet-sized MTU: the token bucket drops any packet larger than its burst.
    ip link set lo mtu 1500 up
    tc qdisc add dev lo root tbf rate "${rate}kbit" burst 3000 latency 500ms
    "$bin/tessaly" --headless --serve --capture testpattern --audio-in tone --audio-out null --bind 127.0.0.1 \
      --video-port 0 --sound-port 0 --http-port 0 --port-file "$work/ports" </dev/null >"$work/out" 2>&1 &
    server=$!
    trap "kill $server 2>/dev/null || true" EXIT
    for _ in $(seq 1 100); do grep -q sound= "$work/ports" 2>/dev/null && break; sleep 0.1; done
    port() { sed -n "s/^$1=//p" "$work/ports"; }
    timeout $((seconds + 20)) "$bin/streamtool" probe --video-port "$(port video)" --sound-port "$(port sound)" \
      --seconds "$seconds" 127.0.0.1 >"$work/probe" 2>&1 || true
  ' _ "$bin" "$rate" "$seconds" "$work"
  awk -v s="$seconds" '
    /^longest_frame_gap_ms=/ { split($1, a, "="); split($2, b, "="); frame_gap = a[2]; sound_gap = b[2] }
    /^frames=/ { split($1, f, "="); split($2, k, "="); frames = f[2]; blocks = k[2] }
    END { if (frames == "") exit 1; printf "%s %.1f %.1f %s\n", sound_gap, blocks / s, frames / s, frame_gap }
  ' "$work/probe" || { echo "sound_first_link: the probe gave no figures: $(cat "$work/probe" "$work/out")" >&2; rm -rf "$work"; exit 1; }
  rm -rf "$work"
}

printf '%-14s %22s %16s %10s %22s\n' link longest_sound_gap_ms sound_blocks/s frames/s longest_frame_gap_ms
for rate in "${rates[@]}"; do
  read -r sound_gap blocks frames frame_gap <<<"$(run_one "$rate")"
  printf '%-14s %22s %16s %10s %22s\n' "${rate} kbit/s" "$sound_gap" "$blocks" "$frames" "$frame_gap"
done
