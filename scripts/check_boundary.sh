#!/usr/bin/env bash
# check_boundary.sh [SOURCE_DIR] — fails when the format and protocol code
# (avs/, mux/, mp4/, rtsp/ and the session part of rtspstream/) includes a
# platform-layer header or a POSIX system header. The system calls still left
# in that code are listed below as known exceptions; a listed exception that
# no longer includes its header fails too, so the list only shrinks. The RTSP
# client reaches the network only through the platform's socket interface.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# The session library of rtspstream/: what the filter builds on without
# platform types.
session=(trace media_table control_urls stream_formats time_line frame_assembler
  rtsp_client_session)

# file:header pairs allowed until these calls move behind the platform layer.
known=(
  rtsp/client.cpp:net/socket.h rtsp/client.h:net/socket.h
)

files=()
for dir in avs mux mp4 rtsp; do
  while IFS= read -r f; do files+=("$f"); done < <(find "$dir" -name '*.cpp' -o -name '*.h' | sort)
done
for name in "${session[@]}"; do
  for f in rtspstream/"$name".cpp rtspstream/"$name".h; do [ -f "$f" ] && files+=("$f"); done
done

# Platform headers by their include roots; POSIX headers by name.
pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]((com|dshow|sync|process|lame_enc|platform)/[^">]*|(unistd|fcntl|pthread|poll|dirent|signal|termios|netdb|dlfcn|syslog|windows|winsock2|ws2tcpip)\.h|(sys|arpa|netinet|net)/[^">]*)[">]'
declare -A found=()
while IFS= read -r hit; do
  header=$(sed -E 's/.*[<"]([^">]*)[">].*/\1/' <<<"${hit#*:}")
  found["${hit%%:*}:$header"]=1
done < <(grep -HE "$pattern" "${files[@]}")
declare -A allowed=()
for k in "${known[@]}"; do allowed[$k]=1; done

status=0
for pair in "${!found[@]}"; do
  if [ -z "${allowed[$pair]:-}" ]; then
    echo "boundary: ${pair%%:*} includes <${pair#*:}>; platform calls belong in platform/" >&2
    status=1
  fi
done
for k in "${known[@]}"; do
  if [ -z "${found[$k]:-}" ]; then
    echo "boundary: ${k%%:*} no longer includes <${k#*:}>; drop it from the known exceptions" >&2
    status=1
  fi
done
((status == 0)) && echo "boundary: ${#files[@]} files checked, ${#known[@]} known exceptions"
exit $status
