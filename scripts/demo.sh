#!/usr/bin/env bash
# Sets up and runs the suite's main job.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
bin="$root/build/bin"
echo "demo: compressing the built-in test picture and the sample pictures (no server exists yet)"
"$bin/streamtool" stats builtin "$root"/../shared/samples/*.ppm
