#!/usr/bin/env bash
# The longest gap between pictures (and between sound blocks) that a normal receiver sees alone, then while 1
# and 3 receivers beside it ask for pictures and read nothing, until the server drops them. Alone, the gap is
# the capture interval (67 ms at 15 pictures a second) plus the machine's own jitter. Each run is the
# end-to-end test ServerNetworkTest.StalledReceivers... at a larger size: tessaly with the test picture and a
# tone on 127.0.0.1, streamtool probe as the normal receiver.
# Usage: bench/server_stall.sh [RUNS] [SECONDS]   (defaults 5 and 8; medians of the runs are printed)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tests="$root/build/bin/suite_tests"
runs=${1:-5}
seconds=${2:-8}
filter='ServerNetworkTest.StalledReceiversAreDropped*'

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

for stalled in 0 1 3; do
  frame_gaps=()
  sound_gaps=()
  for run in $(seq 1 "$runs"); do
    line=$(STREAM_STALLED_RECEIVERS=$stalled STREAM_STALL_SECONDS=$seconds "$tests" --gtest_filter="$filter" |
      grep '^longest gap beside' || true)
    if [[ -z "$line" ]]; then
      echo "server_stall: run $run with $stalled stalled receivers gave no figures" >&2
      exit 1
    fi
    frame_gaps+=("$(sed -E 's/.*frames ([0-9.]+) ms.*/\1/' <<<"$line")")
    sound_gaps+=("$(sed -E 's/.*sound ([0-9.]+) ms.*/\1/' <<<"$line")")
    echo "run $run: $line"
  done
  echo "median of $runs runs, $seconds s each, beside $stalled stalled receivers: longest gap between pictures" \
    "$(printf '%s\n' "${frame_gaps[@]}" | median) ms, between sound blocks $(printf '%s\n' "${sound_gaps[@]}" | median) ms"
done
