#!/usr/bin/env bash
# Builds the Debian packages (tessaly, tessaly-gui, tessaly-record, quillon-brondel, streamtool) and checks
# them as an administrator would meet them:
#   1. their file lists (packaging/package_files.txt), owners, modes, conffiles and maintainer scripts; their
#      dependencies: the server's package pulls in no GUI library and no video encoder;
#   2. lintian: errors fail the check, everything it says is printed (and kept in BUILD/lintian.txt);
#   3. the binaries: Debian's hardening (hardening-check) and no .comment section;
#   4. the menu entries (desktop-file-validate), the service unit (systemd-analyze verify) and its exposure
#      (systemd-analyze security, at most 2.0);
#   5. the manual pages render without warnings and hold EXAMPLES, EXIT STATUS and the default ports;
#   6. the programs unpacked from them (dpkg-deb -x): each answers --version with the packages' version;
#      tessaly from its own package alone, asked for its window, says that the window is not installed and
#      serves headless, with standard input at its end as under systemd, plays its alarm from the unpacked
#      share folder and ends on SIGTERM; asked to record, it names the package that records, with which it
#      records; quillon paints the picture and keeps its snapshot in the user's
#      folder; brondel makes its user folder on first use;
#   7. the maintainer scripts against a stand-in service manager (no systemd runs here): an upgrade restarts
#      the running server, removal stops it, purge removes its enable links, their record and its state.
# Usage: packaging/check_package.sh [BUILD_DIR]   (default: build/, configured already; section 7 needs root)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)

fail() {
  echo "check_package: $*" >&2
  exit 1
}
section() { echo "check_package: $*"; }

for tool in dpkg-deb lintian systemd-analyze desktop-file-validate hardening-check man readelf; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done

version=$(sed -n '1s/.*(\(.*\)).*/\1/p' "$here/changelog")
arch=$(dpkg --print-architecture)
packages=(tessaly tessaly-gui tessaly-record quillon-brondel streamtool)
deb_of() { echo "$build/${1}_${version}_${arch}.deb"; }
for p in "${packages[@]}"; do rm -f "$(deb_of "$p")"; done
cmake --build "$build" --target package >"$build/package.log" 2>&1 || {
  cat "$build/package.log" >&2
  fail "building the packages failed"
}
for p in "${packages[@]}"; do [[ -f $(deb_of "$p") ]] || fail "the package build wrote no $(deb_of "$p")"; done
section "built ${packages[*]} $version"

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# 1. Contents: exactly the listed files, all owned by root, programs executable and nothing else.
for p in "${packages[@]}"; do
  deb=$(deb_of "$p")
  dpkg-deb -c "$deb" >"$work/contents"
  awk -v p="$p" '$1 !~ /^d/ {sub(/^\./, "", $6); print p " " $6}' "$work/contents"
  awk '$2 != "root/root" {print "not owned by root: " $6; bad = 1} END {exit bad}' "$work/contents" ||
    fail "files of $p must belong to root"
  awk '$1 !~ /^d/ && (($6 ~ /^\.\/usr\/bin\//) != ($1 == "-rwxr-xr-x")) {print $1 " " $6; bad = 1}
       END {exit bad}' "$work/contents" || fail "only the programs in /usr/bin of $p are executable, mode 755"
done | sort >"$work/files"
grep -v '^#' "$here/package_files.txt" | sed "s|MULTIARCH|$(dpkg-architecture -qDEB_HOST_MULTIARCH)|" |
  sort >"$work/expected"
diff -u "$work/expected" "$work/files" ||
  fail "the packages' files differ from packaging/package_files.txt (- missing, + extra)"
tessaly_deb=$(deb_of tessaly)
dpkg-deb --ctrl-tarfile "$tessaly_deb" | tar -t | sort | tr '\n' ' ' >"$work/control_files"
for f in ./conffiles ./control ./md5sums ./postinst ./prerm ./postrm; do
  grep -q -- "$f " "$work/control_files" || fail "tessaly's control archive lacks $f"
done
[[ $(dpkg-deb -I "$tessaly_deb" conffiles) == "/etc/default/tessaly" ]] || fail "/etc/default/tessaly must be a conffile"
section "file lists, owners, modes and control files as expected"

# Dependencies: the server's package needs no GUI library and no FFmpeg library (those bring X11 and VA-API
# with them), directly or through its libraries' packages; the window's and the recorder's packages need the
# server of their very release.
depends() { dpkg-deb -f "$(deb_of "$1")" Depends; }
gui_libraries='libqt6gui|libqt6widgets|libqt6opengl|libx11|libxcb|libgl1|libegl|libgles|libwayland|libmesa|libdrm|libfontconfig|libfreetype'
depends tessaly | grep -q adduser || fail "tessaly's postinst runs adduser, so it must depend on it"
depends tessaly | grep -qE "$gui_libraries" && fail "tessaly depends on a GUI library: $(depends tessaly)"
depends tessaly | grep -qE 'libav' && fail "tessaly depends on FFmpeg's libraries: $(depends tessaly)"
dpkg-deb --fsys-tarfile "$tessaly_deb" | tar -xO ./usr/bin/tessaly >"$work/tessaly.bin"
readelf -d "$work/tessaly.bin" | grep NEEDED | grep -iE 'Qt6(Gui|Widgets)|libX|libxcb|libGL|libEGL' &&
  fail "the server program links a GUI library"
depends tessaly-gui | grep -q "tessaly (= $version)" || fail "tessaly-gui must depend on tessaly (= $version)"
depends tessaly-gui | grep -q libqt6widgets || fail "tessaly-gui must depend on Qt Widgets: $(depends tessaly-gui)"
depends tessaly-record | grep -q "tessaly (= $version)" || fail "tessaly-record must depend on tessaly (= $version)"
depends tessaly-record | grep -q libavcodec || fail "tessaly-record must depend on libavcodec: $(depends tessaly-record)"
depends quillon-brondel | grep -q libqt6widgets || fail "quillon-brondel must depend on Qt Widgets"
depends streamtool | grep -qE "$gui_libraries" && fail "streamtool depends on a GUI library: $(depends streamtool)"
section "tessaly and streamtool depend on no GUI library, tessaly on no FFmpeg library; tessaly-gui and the"
section "receivers bring Qt Widgets, tessaly-record FFmpeg's libraries"

# 2. lintian.
lintian_status=0
debs=()
for p in "${packages[@]}"; do debs+=("$(deb_of "$p")"); done
lintian --fail-on error --display-info "${debs[@]}" >"$build/lintian.txt" 2>&1 || lintian_status=$?
grep -v '^running with root privileges' "$build/lintian.txt" || true
((lintian_status == 0)) || fail "lintian reports errors"
section "lintian: no errors ($(grep -c '^W:' "$build/lintian.txt" || true) warnings)"

# 3. The binaries, unpacked: every program and the window library hardened, without the compiler's notes.
root="$work/root"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root"; done
binaries=("$root"/usr/bin/* "$root"/usr/lib/*/tessaly/*.so)
# Control-flow protection (CET) is not among Debian 12's build flags, so it is not asked for.
hardening-check --quiet --nocfprotection "${binaries[@]}" || fail "hardening-check finds binaries without Debian's hardening"
for binary in "${binaries[@]}"; do
  readelf -S "$binary" | grep -qE '\.comment\b' && fail "${binary#"$root"} keeps its .comment section"
done
section "hardening-check passes on ${#binaries[@]} binaries; none keeps a .comment section"

# 4. The menu entries, and the service unit with its program and manual page taken from the unpacked tree.
# systemd-analyze verify reports doubtful settings but still succeeds, so any output fails the check.
mkdir "$work/unit"
sed "s|/usr/bin/tessaly|$root/usr/bin/tessaly|" "$root/lib/systemd/system/tessaly.service" \
  >"$work/unit/tessaly.service"
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "the menu entries are not valid"
verify_output=$(MANPATH="$root/usr/share/man" systemd-analyze verify "$work/unit/tessaly.service" 2>&1) ||
  fail "systemd-analyze verify failed: $verify_output"
[[ -z "$verify_output" ]] || fail "systemd-analyze verify: $verify_output"
exposure=$(systemd-analyze security --offline=yes "$work/unit/tessaly.service" 2>&1 |
  sed -n 's/.*Overall exposure level for tessaly.service: \([0-9.]*\).*/\1/p')
[[ -n "$exposure" ]] || fail "systemd-analyze security gave no exposure level"
awk -v e="$exposure" 'BEGIN {exit !(e <= 2.0)}' ||
  fail "the unit's exposure is $exposure, above 2.0 (systemd-analyze security --offline=yes)"
section "the menu entries are valid; systemd-analyze verify accepts tessaly.service; its exposure is $exposure"

# 5. The manual pages: rendered as man shows them, with groff's warnings on; and what a reader looks for.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >"$work/page.txt") ||
    fail "man cannot render ${page##*/}: $warnings"
  [[ -z "$warnings" ]] || fail "${page##*/} renders with warnings: $warnings"
  for heading in SYNOPSIS EXAMPLES "EXIT STATUS"; do
    grep -q "^$heading" "$work/page.txt" || fail "${page##*/} has no $heading"
  done
  grep -q 8001 "$work/page.txt" || fail "${page##*/} does not name the default ports"
done
zcat "$root/usr/share/man/man1/streamtool.1.gz" | grep -c '^\\fBstreamtool [a-z]' | grep -qx 9 ||
  fail "streamtool(1)'s SYNOPSIS does not show its 9 subcommands"
section "the manual pages render without warnings and hold SYNOPSIS, EXAMPLES, EXIT STATUS and the ports"

# 6. The unpacked programs, run the installed way: no display, the user's folders in the work folder.
bin="$root/usr/bin"
server_root="$work/server-root"
dpkg-deb -x "$tessaly_deb" "$server_root"
for prog in tessaly quillon brondel streamtool; do
  answer=$("$bin/$prog" --version)
  [[ "$answer" == "$prog $version" ]] || fail "$prog --version says '$answer', not '$prog $version'"
done
section "every program reports version $version"

# The environment of the runs (env execs the program, so a background run's $! is the program itself).
installed_env=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_CONFIG_HOME HOME="$work/home")
# shellcheck source=scripts/ports.sh
source "$here/../scripts/ports.sh"
# Waits up to 10 s for a line in a file; false when it does not come.
wait_for_line() {
  for _ in $(seq 1 100); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
video_port=$(free_port)
sound_port=$(free_port)
while [[ "$sound_port" == "$video_port" ]]; do sound_port=$(free_port); done
mkdir -p "$work/home"

# The server's package alone, asked for its window (a display is named): it serves headless instead.
"${installed_env[@]}" DISPLAY=:99 "$server_root/usr/bin/tessaly" --serve --capture testpattern --audio-in tone \
  --audio-out "null:$work/played.wav" --bind 127.0.0.1 --video-port "$video_port" --sound-port "$sound_port" \
  </dev/null >"$work/tessaly.out" 2>"$work/tessaly.err" &
server=$!
pids+=("$server")
wait_for_line "$work/tessaly.out" "(127.0.0.1)" ||
  fail "tessaly is not serving: $(cat "$work/tessaly.out" "$work/tessaly.err")"
grep -q "window.so is not installed; the package tessaly-gui adds it); running --headless" "$work/tessaly.err" ||
  fail "tessaly without tessaly-gui did not say that its window is not installed: $(cat "$work/tessaly.err")"

# Quillon names its server on the command line and has no init.txt: it needs no message box, and it keeps its
# snapshot in the user's folder, which it makes on first use.
quillon_folder="$work/home/.config/quillon"
server_option=(--server 127.0.0.1)
{
  sleep 3
  echo snap
  sleep 2
  echo quit
} | "${installed_env[@]}" timeout 30 "$bin/quillon" --headless --connect "${server_option[@]}" \
  --video-port "$video_port" --sound-port "$sound_port" --audio-out null >"$work/quillon.out" 2>"$work/quillon.err" ||
  fail "quillon failed: $(cat "$work/quillon.out" "$work/quillon.err")"
grep -Eq 'frames/s [1-9]' "$work/quillon.out" || fail "quillon painted no frames: $(cat "$work/quillon.out")"
[[ -s "$quillon_folder/PICTUTE.BMP" ]] || fail "quillon's snapshot is not in $quillon_folder"
section "quillon painted tessaly's picture and kept its snapshot in ~/.config/quillon"
# The alarm request, which tessaly answers (in its default security mode) by playing danger.wav.
"${installed_env[@]}" timeout 30 "$bin/streamtool" probe --alarm --seconds 1 --video-port "$video_port" \
  --sound-port "$sound_port" 127.0.0.1 >"$work/probe.out" || fail "streamtool probe failed: $(cat "$work/probe.out")"
alarm="$server_root/usr/share/streamsuite/danger.wav"
for _ in $(seq 1 100); do # the null output plays at the real pace
  (($(stat -c %s "$work/played.wav" 2>/dev/null || echo 0) >= $(stat -c %s "$alarm"))) && break
  sleep 0.1
done

kill -TERM "$server"
for _ in $(seq 1 100); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
kill -0 "$server" 2>/dev/null && fail "tessaly did not end within 10 s of SIGTERM"
server_status=0
wait "$server" || server_status=$?
((server_status == 0)) || fail "tessaly ended with status $server_status on SIGTERM: $(cat "$work/tessaly.err")"
grep -q "stays silent" "$work/tessaly.err" && fail "tessaly did not find its sounds: $(cat "$work/tessaly.err")"
# What tessaly played is the alarm of the share folder, header and all.
cmp -s "$work/played.wav" "$alarm" || fail "tessaly did not play the share folder's alarm"
section "tessaly without its window's package served headless with standard input at its end, played its alarm"
section "from the share folder and ended on SIGTERM"

# Recording comes with its own package: the server's package alone refuses --record with a line that names
# it, before it serves; with tessaly-record the server loads its recorder, records and ends on SIGTERM.
record_status=0
"${installed_env[@]}" "$server_root/usr/bin/tessaly" --headless --serve --record "$work/recordings" \
  --capture testpattern --audio-in tone --audio-out null --bind 127.0.0.1 </dev/null >"$work/alone.out" 2>&1 ||
  record_status=$?
if ((record_status != 2)) || ! grep -q "record.so is not installed; the package tessaly-record adds it" "$work/alone.out"; then
  fail "tessaly without tessaly-record, asked to record, ended with $record_status: $(cat "$work/alone.out")"
fi
"${installed_env[@]}" "$bin/tessaly" --headless --serve --record "$work/recordings" --capture testpattern \
  --audio-in tone --audio-out null --bind 127.0.0.1 --video-port "$video_port" --sound-port "$sound_port" \
  </dev/null >"$work/recorder.out" 2>&1 &
server=$!
pids+=("$server")
wait_for_line "$work/recorder.out" "(127.0.0.1)" || fail "tessaly with its recorder is not serving: $(cat "$work/recorder.out")"
kill -TERM "$server"
server_status=0
wait "$server" || server_status=$?
((server_status == 0)) || fail "tessaly with its recorder ended with status $server_status: $(cat "$work/recorder.out")"
[[ -f "$work/recordings/index.txt" ]] || fail "tessaly with its recorder wrote no index.txt: $(cat "$work/recorder.out")"
section "tessaly alone refuses --record naming tessaly-record; with it, it records and ends on SIGTERM"

echo quit | "${installed_env[@]}" timeout 30 "$bin/brondel" --headless --audio-out null \
  >"$work/brondel.out" 2>"$work/brondel.err" ||
  fail "brondel failed: $(cat "$work/brondel.out" "$work/brondel.err")"
[[ -d "$work/home/.config/brondel" ]] || fail "brondel did not make ~/.config/brondel"
for file in "$bin"/*; do
  case ${file##*/} in
    tessaly | quillon | brondel | streamtool) ;;
    *) fail "a program wrote $file" ;;
  esac
done
section "brondel made ~/.config/brondel on first use; nothing was written beside the programs"

# 7. The maintainer scripts against a stand-in service manager. No systemd runs here, so deb-systemd-invoke,
# deb-systemd-helper, systemctl and adduser are recorders on PATH (the stand-in's stop also ends the server it
# was given), and the scripts run in a mount namespace where /run/systemd/system exists (what they look for)
# and /var/lib is an empty tmpfs. packaging/service_boot.sh runs them under a real systemd.
if [[ $(id -u) -ne 0 ]] || ! command -v unshare >/dev/null; then
  section "maintainer scripts: skipped (they run in a mount namespace of their own, which needs root)"
else
  control="$work/control"
  dpkg-deb -e "$tessaly_deb" "$control"
  stubs="$work/stubs"
  mkdir -p "$stubs"
  for tool in deb-systemd-invoke deb-systemd-helper systemctl adduser; do
    cat >"$stubs/$tool" <<STUB
#!/bin/sh
echo "$tool \$*" >>"$work/calls"
if [ "$tool \$1" = "deb-systemd-invoke stop" ] && [ -s "$work/service.pid" ]; then kill -TERM "\$(cat "$work/service.pid")"; fi
exit 0
STUB
    chmod 755 "$stubs/$tool"
  done
  "${installed_env[@]}" "$server_root/usr/bin/tessaly" --headless --serve --capture testpattern --audio-in tone \
    --audio-out null --bind 127.0.0.1 --video-port "$video_port" --sound-port "$sound_port" </dev/null \
    >"$work/service.out" 2>&1 &
  service=$!
  pids+=("$service")
  echo "$service" >"$work/service.pid"
  wait_for_line "$work/service.out" "(127.0.0.1)" || fail "the stand-in service did not start: $(cat "$work/service.out")"
  # run_script SCRIPT ARGS...: runs a maintainer script as dpkg would, and prints the calls it made.
  run_script() {
    : >"$work/calls"
    # shellcheck disable=SC2016 # the inner shell expands its own variables
    CALLS="$work/calls" unshare --mount --propagation private sh -c 'mount -t tmpfs tmpfs /run &&
      mkdir -p /run/systemd/system && mount -t tmpfs tmpfs /var/lib && mkdir /var/lib/tessaly &&
      PATH="$0:$PATH" "$@" && if [ -e /var/lib/tessaly ]; then echo "/var/lib/tessaly stays" >>"$CALLS"; fi' \
      "$stubs" "$control/$1" "${@:2}" || fail "$1 ${*:2} failed"
    cat "$work/calls"
  }
  calls=$(run_script postinst configure)
  grep -q "deb-systemd-helper update-state tessaly.service" <<<"$calls" ||
    fail "postinst configure does not record the unit's enable links: $calls"
  grep -qE "deb-systemd-invoke (start|restart)" <<<"$calls" && fail "a new installation starts the service: $calls"
  grep -q "deb-systemd-invoke try-restart tessaly.service" <<<"$calls" ||
    fail "a new installation does not restart the service that the single package left running: $calls"
  calls=$(run_script postinst configure 1.10.0)
  grep -q "deb-systemd-invoke try-restart tessaly.service" <<<"$calls" ||
    fail "an upgrade does not restart a running service: $calls"
  calls=$(run_script prerm upgrade 1.11.0)
  grep -q "deb-systemd-invoke" <<<"$calls" && fail "prerm stops the service before an upgrade: $calls"
  kill -0 "$service" || fail "the service ended before its removal"
  calls=$(run_script prerm remove)
  grep -q "deb-systemd-invoke stop tessaly.service" <<<"$calls" || fail "removal does not stop the service: $calls"
  for _ in $(seq 1 100); do kill -0 "$service" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$service" 2>/dev/null && fail "the running server did not end on its removal"
  calls=$(run_script postrm purge)
  grep -q "deb-systemd-helper purge tessaly.service" <<<"$calls" ||
    fail "purge does not remove the unit's enable links and their record: $calls"
  grep -q "/var/lib/tessaly stays" <<<"$calls" && fail "purge leaves /var/lib/tessaly"
  section "maintainer scripts: a new installation starts nothing, an upgrade restarts the running service,"
  section "removal stops it, purge removes its enable links, their record and its state folder"
fi
section "the packages are sound"
