#!/usr/bin/env bash
# Sets up, builds and runs every test: the suite as built for use and its Debian package, then again under
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), the tests of the programs whose threads meet
# (server, web face, receivers) under ThreadSanitizer (build-tsan/), and the whole tree built with clang and
# its fuzz targets run for 10 s each (build-fuzz/). Every build treats warnings as errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" -DSTREAM_WERROR=ON
jobs=$(nproc)
(cd "$root/build" && ctest --output-on-failure -j "$jobs")
"$root/packaging/check_package.sh" "$root/build"

cmake -S "$root" -B "$root/build-asan" -G Ninja -DSTREAM_SANITIZE=ON -DSTREAM_BENCH=OFF -DSTREAM_GUI=OFF \
  -DSTREAM_WERROR=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$root/build-asan"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$root/build-asan" && ctest --output-on-failure -j "$jobs")

# ThreadSanitizer: the capture, sound and HTTP threads meet the window thread in the server, the web face
# and the receivers.
cmake -S "$root" -B "$root/build-tsan" -G Ninja -DSTREAM_SANITIZE=thread -DSTREAM_BENCH=OFF -DSTREAM_GUI=OFF \
  -DSTREAM_WERROR=ON >/dev/null
cmake --build "$root/build-tsan" --target suite_tests
# One test at a time: the race checker slows every program several times over. The two tests that hold a
# server to its full pace beside many stalled or hostile connections run in the other builds only: under the
# checker their figures say how fast this machine is. The children that QProcess starts exec at once
# (die_after_fork=0).
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$root/tests/tsan_suppressions.txt"
(cd "$root/build-tsan" && ctest --output-on-failure \
  -R '^(Server|ResendFrames|FramePacing|AllowList|RefusalLog|Web|Quillon|Brondel|Receiver|RawOutput|InitItems|Probe)' \
  -E '^ServerNetworkTest\.(Stalled|Hostile)')

# clang builds the whole tree (a break shows at once), and every fuzz target runs for 10 s.
cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DSTREAM_FUZZ=ON -DSTREAM_BENCH=OFF \
  -DSTREAM_GUI=OFF -DSTREAM_WERROR=ON >/dev/null
cmake --build "$root/build-fuzz"
"$root/tests/fuzz/run_all.sh" 10 "$root/build-fuzz"
