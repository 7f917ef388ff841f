#!/usr/bin/env bash
# Installs what the suite needs (Debian 12, as root; does nothing when all is there), then configures and
# builds into build/. Usage: scripts/setup.sh [extra cmake options]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake ninja-build g++ pkg-config           # the build
  clang libclang-rt-14-dev                   # the decoder fuzz target (libFuzzer)
  qt6-base-dev                               # event loop (Qt Core) and windows (Qt Widgets)
  libasound2-dev                             # sound devices (ALSA)
  libv4l-dev                                 # cameras (V4L2 through libv4l2)
  libgtest-dev libgmock-dev                  # tests
  libbenchmark-dev libturbojpeg0-dev         # benchmarks (TurboJPEG only as a yardstick)
  fonts-ipafont-mincho fonts-ipafont-gothic  # the Japanese user interface
  qt6-translations-l10n                      # Qt's Japanese texts for the message boxes' buttons
  xvfb xauth                                 # screenshots and GUI checks without a display
  iproute2                                   # ss: the bytes on a receiver's connection in receiver_bench
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake -S "$root" -B "$root/build" -G Ninja "$@" >/dev/null
cmake --build "$root/build"
