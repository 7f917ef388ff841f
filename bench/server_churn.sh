#!/usr/bin/env bash
# Receivers that come and go: CYCLES visits of connect, a few frames and leave (gracefully, with a reset,
# with a request unread), then the server's open descriptors and resident memory against where they
# started, and a fresh receiver served. The end-to-end test ServerNetworkTest.Churn... at a larger size.
# Usage: bench/server_churn.sh [CYCLES]   (default 1000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cycles=${1:-1000}
STREAM_CHURN_CYCLES=$cycles "$root/build/bin/suite_tests" --gtest_filter='ServerNetworkTest.Churn*' |
  grep -E '^[0-9]+ cycles in|^\[ +(OK|FAILED) +\]'
