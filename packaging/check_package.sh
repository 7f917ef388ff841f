#!/usr/bin/env bash
# Builds the Debian package and checks it as a user would meet it:
#   1. its file list (packaging/package_files.txt), owners, modes, conffiles and maintainer scripts;
#   2. lintian: errors fail the check, everything it says is printed (and kept in BUILD/lintian.txt);
#   3. the menu entries (desktop-file-validate) and the service unit (systemd-analyze verify);
#   4. the programs unpacked from it (dpkg-deb -x): each answers --version with the package's version;
#      tessaly serves its test picture on 127.0.0.1 with standard input at its end, as under systemd, plays its
#      alarm from the unpacked share folder and ends on SIGTERM; quillon paints the picture and keeps its
#      snapshot in the user's folder; brondel makes its user folder on first use.
# Usage: packaging/check_package.sh [BUILD_DIR]   (default: build/, configured already)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)

fail() {
  echo "check_package: $*" >&2
  exit 1
}
section() { echo "check_package: $*"; }

for tool in dpkg-deb lintian systemd-analyze desktop-file-validate; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done

package=$(sed -n '1s/ .*//p' "$here/changelog")
version=$(sed -n '1s/.*(\(.*\)).*/\1/p' "$here/changelog")
deb="$build/${package}_${version}_$(dpkg --print-architecture).deb"
rm -f "$deb"
cmake --build "$build" --target package >"$build/package.log" 2>&1 || {
  cat "$build/package.log" >&2
  fail "building the package failed"
}
[[ -f "$deb" ]] || fail "the package build wrote no $deb"
section "built $deb"

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# 1. Contents: exactly the listed files, all owned by root, programs executable and nothing else.
dpkg-deb -c "$deb" >"$work/contents"
awk '$1 !~ /^d/ {sub(/^\./, "", $6); print $6}' "$work/contents" | sort >"$work/files"
grep -v '^#' "$here/package_files.txt" | sort >"$work/expected"
diff -u "$work/expected" "$work/files" ||
  fail "the package's files differ from packaging/package_files.txt (- missing, + extra)"
awk '$2 != "root/root" {print "not owned by root: " $6; bad = 1} END {exit bad}' "$work/contents" ||
  fail "files must belong to root"
awk '$1 !~ /^d/ && (($6 ~ /^\.\/usr\/bin\//) != ($1 == "-rwxr-xr-x")) {print $1 " " $6; bad = 1} END {exit bad}' \
  "$work/contents" || fail "only the programs in /usr/bin are executable, with mode 755"
dpkg-deb --ctrl-tarfile "$deb" | tar -t | sort | tr '\n' ' ' >"$work/control_files"
for f in ./conffiles ./control ./md5sums ./postinst ./postrm; do
  grep -q -- "$f " "$work/control_files" || fail "the control archive lacks $f"
done
[[ $(dpkg-deb -I "$deb" conffiles) == "/etc/default/tessaly" ]] || fail "/etc/default/tessaly must be a conffile"
dpkg-deb -f "$deb" Depends | grep -q adduser || fail "postinst runs adduser, so the package must depend on it"
section "file list, owners, modes and control files as expected"

# 2. lintian.
lintian_status=0
lintian --fail-on error --display-info "$deb" >"$build/lintian.txt" 2>&1 || lintian_status=$?
grep -v '^running with root privileges' "$build/lintian.txt" || true
((lintian_status == 0)) || fail "lintian reports errors"
section "lintian: no errors ($(grep -c '^W:' "$build/lintian.txt" || true) warnings)"

# 3. The menu entries, and the service unit with its program and manual page taken from the unpacked tree.
# systemd-analyze verify reports doubtful settings but still succeeds, so any output fails the check.
root="$work/root"
dpkg-deb -x "$deb" "$root"
mkdir "$work/unit"
sed "s|/usr/bin/tessaly|$root/usr/bin/tessaly|" "$root/lib/systemd/system/tessaly.service" \
  >"$work/unit/tessaly.service"
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "the menu entries are not valid"
verify_output=$(MANPATH="$root/usr/share/man" systemd-analyze verify "$work/unit/tessaly.service" 2>&1) ||
  fail "systemd-analyze verify failed: $verify_output"
[[ -z "$verify_output" ]] || fail "systemd-analyze verify: $verify_output"
section "the menu entries are valid; systemd-analyze verify accepts tessaly.service"

# 4. The unpacked programs, run the installed way: no display, the user's folders in the work folder.
bin="$root/usr/bin"
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

"${installed_env[@]}" "$bin/tessaly" --headless --serve --capture testpattern --audio-in tone \
  --audio-out "null:$work/played.wav" --bind 127.0.0.1 --video-port "$video_port" --sound-port "$sound_port" \
  </dev/null >"$work/tessaly.out" 2>"$work/tessaly.err" &
server=$!
pids+=("$server")
wait_for_line "$work/tessaly.out" "(127.0.0.1)" ||
  fail "tessaly is not serving: $(cat "$work/tessaly.out" "$work/tessaly.err")"

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
alarm="$root/usr/share/$package/danger.wav"
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
section "tessaly served with standard input at its end, played its alarm from the share folder, ended on SIGTERM"

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
section "the package is sound"
