#!/usr/bin/env bash
# avsplay.exe under wine64 playing rtsp:// addresses of the Linux rtspserve through
# Tallowmere.dll (registered with regsvr32): the header sample, then every picture byte for
# byte to the end of the stream; with audio, every MP3 frame; after a seek to 2 s, the
# pictures from the intra picture there, as the Linux avsplay gets them.
#   avsplay_plays_rtsp.sh DATA_DIR   (LINUX_BIN, WIN_BIN, WINE_RUN from the environment)
data=$(cd "$1" && pwd)
source "$(dirname "$0")/compare_lib.sh"
source "$(dirname "$0")/rtspserve_lib.sh"

# serve_stored NAME FILES... — serve, with url the stored-stream address (a path with .asm),
# which ends and can be sought.
serve_stored() {
  serve "$@"
  url=${url%/*}/$1.asm
}

# play CASE ARGS... — runs avsplay.exe; records a failure when it does not exit 0.
play() {
  local name=$1
  shift
  if ! timeout 120 "$WINE_RUN" "$WIN_BIN/avsplay.exe" "$@" >play.out 2>play.err; then
    failures=$((failures + 1))
    echo "FAIL $name: avsplay.exe failed: $(tr -d '\r' <play.err | head -3 | tr '\n' ' ')"
    return 1
  fi
}

# verdict CASE — runs the checker and counts its verdict.
verdict() {
  local name=$1 result
  shift
  if result=$(python3 - "$@"); then
    echo "ok   $name: $result"
  else
    failures=$((failures + 1))
    echo "FAIL $name: $result"
  fi
}

"$WINE_RUN" regsvr32 /s "$WIN_BIN/Tallowmere.dll"
export AVS_REGISTRY=$work/registry.reg
"$LINUX_BIN/regsvr" -s "$LINUX_BIN/Tallowmere.so"
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=4" -ac 2 -c:a libmp3lame \
  -b:a 128k -id3v2_version 0 -write_xing 0 a.mp3

check_video='
import re, sys
served, got, log, mode = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read(), sys.argv[3], sys.argv[4]
served = served[served.find(b"\0\0\1"):]  # the server serves from the first start code
lengths = [int(l.split()[-1]) for l in open(log) if l.startswith("video ")]
pictures = [m.start() for m in re.finditer(b"\0\0\1[\xb3\xb6]", served)]
header = got[:lengths[0]]
if not header.startswith(b"\0\0\1\xb0"):
    sys.exit(print("the first sample is not the sequence header") or 1)
body = got[lengths[0]:]
if mode == "whole":
    if body != served:
        sys.exit(print(f"{len(body)} picture bytes, expected {len(served)} (every picture)") or 1)
    print(f"{len(lengths)} samples, every picture byte for byte")
else:
    # A tail of the stream from a start code well inside it to its end, whose first
    # picture is an intra picture (a sequence end or header may come before it).
    at = len(served) - len(body)
    first = re.search(b"\0\0\1[\xb3\xb6]", body)
    if not 0 < at < pictures[-1] or served[at:] != body or body[:3] != b"\0\0\1" or not first or first.group()[3] != 0xB3:
        sys.exit(print(f"{len(body)} bytes are not the pictures from an intra picture to the end") or 1)
    print(f"{len(lengths)} samples, the stream from byte {at} of {len(served)} byte for byte")
'
check_audio='
import sys
served, got = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
if got != served:
    sys.exit(print(f"{len(got)} audio bytes are not the MP3 file ({len(served)} bytes)") or 1)
print(f"{len(got)} of {len(served)} MP3 bytes, every frame")
'

for sample in "$data"/*.avs; do
  name=$(basename "$sample" .avs)
  serve_stored "$name" "$sample"
  if play "$name: video" "$url" --video v.out --log log.txt; then
    verdict "$name: video" <<<"$check_video" "$sample" v.out log.txt whole
  fi
  stop_server
  serve_stored "$name" "$sample" a.mp3
  if play "$name: video and audio" "$url" --video v.out --audio a.out --log log.txt; then
    verdict "$name: video and audio, video" <<<"$check_video" "$sample" v.out log.txt whole
    verdict "$name: video and audio, audio" <<<"$check_audio" a.mp3 a.out
  fi
  if play "$name: seek to 2 s" "$url" --seek 2 --video v.out --log log.txt; then
    verdict "$name: seek to 2 s" <<<"$check_video" "$sample" v.out log.txt seek
    if timeout 60 "$LINUX_BIN/avsplay" "$url" --seek 2 --video linux.out >/dev/null 2>&1 &&
      cmp -s v.out linux.out; then
      echo "ok   $name: seek to 2 s lands where the Linux avsplay's does"
    else
      failures=$((failures + 1))
      echo "FAIL $name: seek to 2 s: the Linux avsplay got other pictures"
    fi
  fi
  stop_server
done
# Nobody listens any more: one line and exit 1, as on Linux.
if timeout 60 "$WINE_RUN" "$WIN_BIN/avsplay.exe" "$url" >play.out 2>play.err; then
  failures=$((failures + 1))
  echo "FAIL no server: avsplay.exe succeeded"
elif tr -d '\r' <play.err | grep -q "^avsplay: cannot play $url"; then
  echo "ok   no server: $(tr -d '\r' <play.err | head -1)"
else
  failures=$((failures + 1))
  echo "FAIL no server: $(tr -d '\r' <play.err | head -2 | tr '\n' ' ')"
fi
finish
