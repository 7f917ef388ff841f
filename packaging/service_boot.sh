#!/usr/bin/env bash
# Starts the packaged tessaly.service under a real systemd: a clean Debian 12 container (from piuparts's base
# tarball, or debootstrap) with the tessaly, tessaly-record and streamtool packages installed is booted with
# systemd-nspawn,
# and a one-shot unit inside it checks, with the unit's whole confinement in force:
#   - the service runs (active, no restart), serves its test picture and tone to `streamtool probe` on
#     127.0.0.1 with the web face off, and again with the web face on (a password file) answering a snapshot;
#   - it runs as the user tessaly without capabilities, with no_new_privs and a seccomp filter, and its
#     state folder /var/lib/tessaly is its own;
#   - asked to record, it records the test picture's motion into that folder, the recorder and its encoder
#     confined the same;
#   - `dpkg -r` stops it; `dpkg --purge` leaves no enable link, no deb-systemd-helper record, no state folder
#     and no /etc/default/tessaly.
# Usage: packaging/service_boot.sh [BUILD_DIR]   (root; needs systemd-nspawn and network access to the mirror)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
name=service_boot

fail() {
  echo "service_boot: $*" >&2
  exit 1
}
# shellcheck source=packaging/booted_container.sh
source "$here/booted_container.sh"
debs=("$build/tessaly_${version}_${arch}.deb" "$build/tessaly-record_${version}_${arch}.deb"
  "$build/streamtool_${version}_${arch}.deb")
for deb in "${debs[@]}"; do [[ -f $deb ]] || fail "$deb is missing (packaging/check_package.sh builds it)"; done

container_make "${debs[@]}"
container_install '/debs/*.deb'
container_boot <<'CHECK'
serve() {
  systemctl restart tessaly
  sleep 2
  streamtool probe --seconds 2 127.0.0.1 >/root/probe.txt 2>&1
}
echo 'TESSALY_OPTS="--capture testpattern --audio-in tone --audio-out null --bind 127.0.0.1"' >>/etc/default/tessaly
systemctl enable tessaly
serve
check "the service serves with its confinement" "grep -q 'frames=[1-9]' /root/probe.txt"
check "the web face is off by default" "! curl -s -o /dev/null http://127.0.0.1:8080/"
pid=$(systemctl show -p MainPID --value tessaly)
check "it runs as tessaly" "[ \"\$(ps -o user= -p $pid)\" = tessaly ]"
check "it has no capabilities" "grep -q '^CapBnd:.0000000000000000' /proc/$pid/status"
check "it has no_new_privs and a seccomp filter" \
  "grep -q '^NoNewPrivs:.1' /proc/$pid/status && grep -q '^Seccomp:.2' /proc/$pid/status"
check "its state folder is its own" "[ \"\$(stat -c %U:%a /var/lib/tessaly)\" = tessaly:700 ]"
printf 'viewer:secret\n' >/etc/tessaly-web-password
chown root:tessaly /etc/tessaly-web-password
chmod 640 /etc/tessaly-web-password
echo 'TESSALY_WEB="--http-password-file /etc/tessaly-web-password"' >>/etc/default/tessaly
serve
check "with a password file the web face serves a snapshot" \
  "curl -sf -u viewer:secret -o /root/snap.jpg http://127.0.0.1:8080/snapshot.jpg && [ -s /root/snap.jpg ]"
check "and asks for the password" \
  "[ \"\$(curl -s -o /dev/null -w '%{http_code}' http://127.0.0.1:8080/snapshot.jpg)\" = 401 ]"
echo 'TESSALY_OPTS="--capture testpattern --audio-in tone --audio-out null --bind 127.0.0.1 --record /var/lib/tessaly/recordings --event-gap 1 --pre-capture 1 --post-capture 1"' >>/etc/default/tessaly
serve
sleep 4
check "it did not restart" \
  "systemctl is-active -q tessaly && [ \"\$(systemctl show -p NRestarts --value tessaly)\" = 0 ]"
systemctl stop tessaly
check "it records the test picture's motion into its state folder" "ls /var/lib/tessaly/recordings/*.mp4 >/dev/null"
systemctl start tessaly
sleep 1
dpkg -r tessaly-record tessaly
systemctl status tessaly --no-pager | sed 's/^/status: /'
check "removal stops it" "! systemctl is-active -q tessaly && ! pgrep -x tessaly >/dev/null"
dpkg --purge tessaly-record tessaly >/dev/null
check "purge removes the enable link" "! ls /etc/systemd/system/*.wants/tessaly.service 2>/dev/null"
check "purge removes the enable record" "! ls /var/lib/systemd/deb-systemd-helper-enabled/ -R | grep -q tessaly"
check "purge removes the state folder and the defaults file" "[ ! -e /var/lib/tessaly ] && [ ! -e /etc/default/tessaly ]"
CHECK
echo "service_boot: tessaly.service ran confined under systemd, stopped on removal and left nothing on purge"
