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
  libmicrohttpd-dev libturbojpeg0-dev        # Tessaly's web face: HTTP server and JPEG
  libavcodec-dev libavformat-dev libavutil-dev  # recordings: H.264 (libx264) and AAC in MP4
  libbenchmark-dev                           # benchmarks
  fonts-ipafont-mincho fonts-ipafont-gothic  # the Japanese user interface
  qt6-translations-l10n                      # Qt's Japanese texts for the message boxes' buttons
  xvfb xauth                                 # screenshots and GUI checks without a display
  python3                                    # paced receivers of the server load benchmark
  chromium ffmpeg curl                       # the web page's browser tests, media checks and web benchmark
  iproute2                                   # ss: the bytes on a receiver's connection in receiver_bench
  dpkg-dev help2man lintian                  # the Debian package: dependencies, manual pages, its check
  desktop-file-utils systemd                 # the package check: menu entries, the service unit
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# node and npm run the browser tests; a machine may have them from elsewhere than Debian.
command -v npm >/dev/null || missing+=(nodejs npm)
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

# The browser tests' driver: puppeteer-core from npm, pointed at Debian's chromium (never a browser download).
browser_tests="$root/tests/browser"
if [[ ! -d "$browser_tests/node_modules/puppeteer-core" ]]; then
  echo "setup: installing the browser tests' node packages"
  (cd "$browser_tests" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error) ||
    echo "setup: npm ci failed in tests/browser; the browser tests will say so and be skipped" >&2
fi

cmake -S "$root" -B "$root/build" -G Ninja "$@" >/dev/null
cmake --build "$root/build"
