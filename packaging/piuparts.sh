#!/usr/bin/env bash
# Installs and purges the built packages in a clean Debian 12 chroot with piuparts, as Debian tests its own:
# the server's package alone (it must install and purge cleanly without the others), then all five together.
# piuparts fails on a maintainer script error, on files left behind after the purge and on processes left
# running. Each run prints what the installation brought (packages and disk space, dependencies included). The clean chroot is made once with debootstrap and kept as a tarball (STREAM_PIUPARTS_BASE).
# Usage: packaging/piuparts.sh [BUILD_DIR]   (root; needs network access to the Debian mirror)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
mirror=${STREAM_DEBIAN_MIRROR:-http://deb.debian.org/debian}
base=${STREAM_PIUPARTS_BASE:-/var/cache/streamsuite-piuparts/bookworm.tgz}

fail() {
  echo "piuparts: $*" >&2
  exit 1
}
[[ $(id -u) -eq 0 ]] || fail "needs root (piuparts works in a chroot)"
command -v piuparts >/dev/null || fail "piuparts is missing (scripts/setup.sh installs it)"
version=$(sed -n '1s/.*(\(.*\)).*/\1/p' "$here/changelog")
arch=$(dpkg --print-architecture)
deb_of() { echo "$build/${1}_${version}_${arch}.deb"; }
for p in tessaly tessaly-gui tessaly-record quillon-brondel streamtool; do
  [[ -f $(deb_of "$p") ]] || fail "$(deb_of "$p") is missing (packaging/check_package.sh builds it)"
done

mkdir -p "$(dirname "$base")"
if [[ -f $base ]]; then
  chroot_option=(--basetgz="$base")
else
  chroot_option=(--save="$base")
fi
# run_piuparts NAME DEB...: one install and purge test, its log in BUILD_DIR/piuparts-NAME.log.
run_piuparts() {
  local name=$1 log="$build/piuparts-$1.log"
  shift
  local started=$SECONDS
  if ! timeout 1200 piuparts --distribution=bookworm --mirror="$mirror" "${chroot_option[@]}" \
    "$@" >"$log" 2>&1; then
    grep -E 'ERROR|FAIL' "$log" | tail -20 >&2
    fail "$name: the install and purge test failed (whole log: $log)"
  fi
  chroot_option=(--basetgz="$base")
  # What the installation brought into the clean chroot, as apt said it there.
  local count size
  count=$(grep -o '[0-9]* newly installed' "$log" | sort -n | tail -1)
  size=$(grep -o 'After this operation, [0-9.]* [kMG]B of additional' "$log" | tail -1 | awk '{print $4 " " $5}')
  echo "piuparts: $name: installed and purged cleanly ($count packages, $size; $((SECONDS - started)) s)"
}
run_piuparts tessaly "$(deb_of tessaly)"
run_piuparts all "$(deb_of tessaly)" "$(deb_of tessaly-gui)" "$(deb_of tessaly-record)" "$(deb_of quillon-brondel)" \
  "$(deb_of streamtool)"
