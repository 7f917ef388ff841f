# shellcheck shell=bash
# shellcheck disable=SC2154 # name and build come from the sourcing script
# What the checks under a real systemd share (service_boot.sh, upgrade_check.sh): a clean Debian 12
# container made from piuparts's base tarball (or debootstrap), packages installed into it, and one boot with
# systemd-nspawn in which a check script runs as a one-shot unit and powers the container off.
# Sourced. The sourcing script sets `name` (for its messages and logs) and `build` (BUILD_DIR), and defines
# fail(). The container is $container, removed when the script ends; $version and $arch name the packages.

# The packages' release and architecture, as their file names have them.
# shellcheck disable=SC2034 # used by the sourcing scripts
version=$(sed -n '1s/.*(\(.*\)).*/\1/p' "$(dirname "${BASH_SOURCE[0]}")/changelog")
arch=$(dpkg --print-architecture)
mirror=${STREAM_DEBIAN_MIRROR:-http://deb.debian.org/debian}
base=${STREAM_PIUPARTS_BASE:-/var/cache/streamsuite-piuparts/bookworm.tgz}

[[ $(id -u) -eq 0 ]] || fail "needs root (a container is booted)"
command -v systemd-nspawn >/dev/null || fail "systemd-nspawn is missing (apt-get install systemd-container)"

container=$(mktemp -d "/var/tmp/$name.XXXXXX")
container_cleanup() {
  umount "$container/proc" 2>/dev/null || true
  rm -rf --one-file-system "$container"
}
trap container_cleanup EXIT

# container_make DEB...: the clean container, with the given packages' files in its /debs/.
container_make() {
  if [[ -f $base ]]; then
    tar -C "$container" -xzf "$base"
  else
    timeout 900 debootstrap --variant=minbase bookworm "$container" "$mirror" >"$container.debootstrap.log" 2>&1 ||
      fail "debootstrap failed: $(tail -3 "$container.debootstrap.log")"
    rm -f "$container.debootstrap.log"
  fi
  echo "deb $mirror bookworm main" >"$container/etc/apt/sources.list"
  cp /etc/resolv.conf "$container/etc/resolv.conf"
  mkdir -p "$container/debs"
  cp "$@" "$container/debs/"
}

# container_install PACKAGE...: installs systemd, the tools the checks use and the given packages (names, or
# /debs/ files as patterns that the container's shell expands) without the recommended ones; the log is
# BUILD/NAME_install.log.
container_install() {
  mount --bind /proc "$container/proc"
  # shellcheck disable=SC2016 # the container's shell expands the patterns
  timeout 900 chroot "$container" sh -c 'apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
    --no-install-recommends systemd systemd-sysv dbus curl procps $*' _ "$@" >"$build/${name}_install.log" 2>&1 ||
    fail "installing into the container failed: $(tail -3 "$build/${name}_install.log")"
  umount "$container/proc"
  # A chroot made for package tests may forbid starting and stopping services; a booted system does not.
  rm -f "$container/usr/sbin/policy-rc.d"
}

# container_boot < CHECK: boots the container once; the shell lines on standard input run at boot, with
# check DESCRIPTION CONDITION printing "ok DESCRIPTION" or "FAIL DESCRIPTION". Prints those lines (the whole
# result is BUILD/NAME_result.txt) and fails when the check did not finish or a line is FAIL.
container_boot() {
  {
    printf '#!/bin/sh\nexec >/root/result.txt 2>&1\n'
    # shellcheck disable=SC2016 # the check script expands its own arguments
    printf 'check() { if eval "$2"; then echo "ok $1"; else echo "FAIL $1"; fi; }\n'
    cat
    printf 'journalctl -u tessaly --no-pager | tail -20 | sed "s/^/journal: /"\necho done\nsystemctl --force poweroff\n'
  } >"$container/root/check.sh"
  chmod 755 "$container/root/check.sh"
  cat >"$container/etc/systemd/system/streamsuite-check.service" <<'UNIT'
[Unit]
Description=Checks the installed packages
After=basic.target
[Service]
Type=oneshot
ExecStart=/root/check.sh
[Install]
WantedBy=multi-user.target
UNIT
  ln -s /etc/systemd/system/streamsuite-check.service "$container/etc/systemd/system/multi-user.target.wants/"
  # Logins and consoles are of no use here, and logind can take long to start in a container.
  for unit in systemd-logind.service console-getty.service getty.target; do
    ln -sf /dev/null "$container/etc/systemd/system/$unit"
  done
  timeout 600 systemd-nspawn -q -D "$container" --register=no --keep-unit -b >"$build/$name.log" 2>&1 ||
    fail "the container did not boot and power off: $(tail -5 "$build/$name.log")"
  [[ -f "$container/root/result.txt" ]] || fail "the check did not run in the container: $(tail -5 "$build/$name.log")"
  local result="$build/${name}_result.txt"
  cp "$container/root/result.txt" "$result"
  grep -E '^(ok|FAIL) ' "$result" | sed "s/^/$name: /"
  grep -q '^done' "$result" || fail "the check did not finish: $(tail -5 "$result")"
  if grep -q '^FAIL ' "$result"; then
    grep '^journal: ' "$result" >&2
    fail "a check under systemd failed (whole result: $result)"
  fi
}
