#!/usr/bin/env bash
# The Windows build's RTSP session code (rtsp_fetch.exe under wine64) against the Linux
# rtspserve over loopback: every picture and audio frame of the samples arrives whole and
# in order (the frames written one after another give back the served files from their
# first start code on), with the
# time stamps of 25 pictures a second; a refused connection is reported as one.
#   rtsp_client_receives_stream.sh DATA_DIR  (LINUX_BIN, WIN_BIN, WIN_TESTS, WINE_RUN)
data=$(cd "$1" && pwd)
: "${WIN_TESTS:?}"
source "$(dirname "$0")/compare_lib.sh"
source "$(dirname "$0")/rtspserve_lib.sh"

# check NAME WHAT... — one case: records a failure with the reasons given.
check() {
  local name=$1
  shift
  if (($#)); then
    failures=$((failures + 1))
    echo "FAIL $name"
    printf '  %s\n' "$@"
  else
    echo "ok   $name"
  fi
}

ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=4" -ac 2 -c:a libmp3lame \
  -b:a 128k -id3v2_version 0 -write_xing 0 a.mp3
for sample in "$data"/*.avs; do
  name=$(basename "$sample" .avs)
  # The server serves from the first start code; one sample has a stray byte before it.
  skip=$(python3 -c "import sys; print(open(sys.argv[1], 'rb').read().find(b'\0\0\1'))" "$sample")
  tail -c +$((skip + 1)) "$sample" >expected.avs
  for with in video audio; do
    files=("$sample")
    outs=(v.out)
    [ "$with" = audio ] && files+=(a.mp3) && outs+=(a.out)
    serve "$name" "${files[@]}"
    rm -f v.out a.out
    code=0
    timeout 120 "$WINE_RUN" "$WIN_TESTS/rtsp_fetch.exe" "$url" "${outs[@]}" >win.out 2>win.err ||
      code=$?
    stop_server
    tr -d '\r' <win.out >got.txt
    bad=()
    [ "$code" = 0 ] || bad+=("exit code $code: $(head -2 win.err | tr '\n' ' ')")
    [ -n "$pictures" ] || bad+=("rtspserve did not say how many pictures it serves")
    last=$(((${pictures:-1} - 1) * 400000))
    grep -qx "video: $pictures frames, $(wc -c <expected.avs) bytes, times 0 to $last" got.txt ||
      bad+=("video: $(grep '^video' got.txt || echo "nothing; $(head -2 win.err | tr '\n' ' ')")")
    cmp -s v.out expected.avs ||
      bad+=("video frames differ from the sample: $(cmp v.out expected.avs 2>&1 | head -1 || true)")
    if [ "$with" = audio ]; then
      grep -q "^audio: [1-9][0-9]* frames, $(wc -c <a.mp3) bytes" got.txt ||
        bad+=("audio: $(grep '^audio' got.txt || echo nothing)")
      cmp -s a.out a.mp3 || bad+=("audio frames differ from the MP3 file")
    fi
    check "$name with $with ($(grep '^video' got.txt | cut -d, -f1-2 || true))" "${bad[@]}"
  done
done

# Nobody listens: the connection is refused and the session says so.
probe=$(python3 -c "import socket; s = socket.socket(); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])")
code=0
timeout 120 "$WINE_RUN" "$WIN_TESTS/rtsp_fetch.exe" "rtsp://127.0.0.1:$probe/x" v.out \
  >win.out 2>win.err || code=$?
bad=()
[ "$code" = 1 ] || bad+=("exit code $code, not 1")
tr -d '\r' <win.err | grep -qx "rtsp_fetch: connect failed, status 1" ||
  bad+=("message: $(head -1 win.err || true)")
check "refused connection" "${bad[@]}"
finish
