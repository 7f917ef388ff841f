# shellcheck shell=bash
# Ports on 127.0.0.1 for the scripts that start the programs; sourced, not run.
port_busy() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
# A port from 20000 to 39999 that nothing listens on; fails after 200 tries.
free_port() {
  local p
  for _ in $(seq 1 200); do
    p=$((20000 + RANDOM % 20000))
    port_busy "$p" || { echo "$p"; return; }
  done
  echo "no free port found on 127.0.0.1" >&2
  return 1
}
