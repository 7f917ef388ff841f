#!/usr/bin/env bash
# Sets up, builds and runs every test: the suite as built for use (with Debian's hardening flags, as the
# packages are) and its Debian packages, then again under AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/). Both builds treat warnings as errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" -DSTREAM_WERROR=ON -DSTREAM_HARDEN=ON
jobs=$(nproc)
(cd "$root/build" && ctest --output-on-failure -j "$jobs")
"$root/packaging/check_package.sh" "$root/build"

cmake -S "$root" -B "$root/build-asan" -G Ninja -DSTREAM_SANITIZE=ON -DSTREAM_BENCH=OFF -DSTREAM_GUI=OFF \
  -DSTREAM_WERROR=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$root/build-asan"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$root/build-asan" && ctest --output-on-failure -j "$jobs")
