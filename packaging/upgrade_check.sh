#!/usr/bin/env bash
# Upgrades an installation of the single package of the earlier releases (streamsuite 1.10.0) to this
# release's packages under a real systemd, as an administrator would with apt, and checks in a booted clean
# Debian 12 container (packaging/booted_container.sh) that:
#   - apt replaces streamsuite with tessaly, tessaly-gui, quillon-brondel and streamtool without a file
#     conflict, and streamsuite is gone;
#   - the administrator's edited /etc/default/tessaly is kept: tessaly takes the conffile over from
#     streamsuite, so dpkg asks about it as about any conffile that both sides changed, and an unattended
#     upgrade (--force-confdef --force-confold, as here) keeps the administrator's;
#   - the service that was enabled and running stays enabled and runs the new program (restarted), serves,
#     and its web face is off, as the new defaults have it, until the defaults file turns it on.
# The old package is not kept in the tree: build it from the commit whose packaging/changelog names 1.10.0,
#   git worktree add /tmp/old COMMIT && cmake -S /tmp/old -B /tmp/old/build -G Ninja &&
#   cmake --build /tmp/old/build --target package        # writes /tmp/old/build/streamsuite_1.10.0_amd64.deb
# Usage: packaging/upgrade_check.sh OLD_DEB [BUILD_DIR]   (root; systemd-nspawn, network access to the mirror)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
old_deb=$(realpath "${1:?usage: packaging/upgrade_check.sh OLD_DEB [BUILD_DIR]}")
build=$(cd "${2:-$here/../build}" && pwd)
name=upgrade_check

fail() {
  echo "upgrade_check: $*" >&2
  exit 1
}
# shellcheck source=packaging/booted_container.sh
source "$here/booted_container.sh"
[[ $(dpkg-deb -f "$old_deb" Package) == streamsuite ]] || fail "$old_deb is not the single package streamsuite"
new_debs=()
for p in tessaly tessaly-gui quillon-brondel streamtool; do
  new_debs+=("$build/${p}_${version}_${arch}.deb")
  [[ -f ${new_debs[-1]} ]] || fail "${new_debs[-1]} is missing (packaging/check_package.sh builds it)"
done

container_make "$old_deb" "${new_debs[@]}"
container_install "/debs/streamsuite_*.deb"
container_boot <<CHECK
probe() { streamtool probe --seconds 2 127.0.0.1 >/root/probe.txt 2>&1 && grep -q 'frames=[1-9]' /root/probe.txt; }
echo 'TESSALY_OPTS="--capture testpattern --audio-in tone --audio-out null --bind 127.0.0.1"' >>/etc/default/tessaly
systemctl enable --now tessaly
sleep 2
old_pid=\$(systemctl show -p MainPID --value tessaly)
check "the old release serves, enabled" "probe && systemctl is-enabled -q tessaly"
check "the old release's web face is on" "curl -sf -o /dev/null http://127.0.0.1:8080/"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold \
  $(for p in tessaly tessaly-gui quillon-brondel streamtool; do printf '/debs/%s_%s_%s.deb ' "$p" "$version" "$arch"; done) \
  </dev/null >/root/upgrade.txt 2>&1
status=\$?
sed 's/^/apt: /' /root/upgrade.txt | grep -iE 'remov|conffile|error|warn|replac' || true
check "apt replaces streamsuite by the new packages" \
  "[ \$status = 0 ] && ! dpkg -s streamsuite 2>/dev/null | grep -q '^Status: install ok installed'"
check "the edited defaults file is kept" "grep -q 'capture testpattern' /etc/default/tessaly"
sleep 2
new_pid=\$(systemctl show -p MainPID --value tessaly)
check "the service was restarted on the new program" \
  "systemctl is-active -q tessaly && [ \"\$new_pid\" != \"\$old_pid\" ] && [ \"\$(readlink /proc/\$new_pid/exe)\" = /usr/bin/tessaly ]"
check "it stays enabled and serves" "systemctl is-enabled -q tessaly && probe"
check "its web face is off until the defaults file turns it on" "! curl -s -o /dev/null http://127.0.0.1:8080/"
CHECK
echo "upgrade_check: streamsuite 1.10.0 upgraded to the packages of $version: defaults kept, service restarted"
