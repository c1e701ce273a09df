# shellcheck shell=bash disable=SC2034,SC2154  # sets url and pictures for the caller; work is compare_lib.sh's
# Shared by the Windows tests that play from the Linux rtspserve (source after
# compare_lib.sh): serve NAME FILES... starts it on a free port, as fast as the client
# reads, and sets url (the address it prints) and pictures (the count it reports);
# stop_server ends it, as the exit trap does.
server_pid=
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
  fi
}
trap 'stop_server; rm -rf "$work"' EXIT

serve() {
  local name=$1
  shift
  "$LINUX_BIN/rtspserve" -p 0 -f -q "$@" >"$name.url" 2>"$name.serve" &
  server_pid=$!
  for _ in $(seq 50); do
    [ -s "$name.url" ] && break
    sleep 0.1
  done
  url=$(head -1 "$name.url")
  pictures=$(sed -n 's/.*: \([0-9]*\) pictures at.*/\1/p' "$name.serve")
}
