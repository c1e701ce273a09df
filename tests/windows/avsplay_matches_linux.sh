#!/usr/bin/env bash
# avsplay.exe under wine64 (Wine's own graph manager and file reader, BranwickSource.dll
# registered with regsvr32) against the Linux avsplay (its own graph, BranwickSource.so) on
# the same containers: the same delivered bytes, per-sample log (times, sync points,
# discontinuities) and summaries, from the start and after a seek.
#   avsplay_matches_linux.sh DATA_DIR   (LINUX_BIN, WIN_BIN, WINE_RUN from the environment)
data=$(cd "$1" && pwd)
source "$(dirname "$0")/compare_lib.sh"

# Each side's filters registered where its COM looks: a registry file of this run for
# Linux, the prefix's registry for Wine.
export AVS_REGISTRY=$work/registry.reg
"$LINUX_BIN/regsvr" "$LINUX_BIN/BranwickSource.so" >/dev/null
"$WINE_RUN" regsvr32 /s "$WIN_BIN/BranwickSource.dll"

# The streams deliver on threads of their own, so their lines interleave differently from
# run to run: each stream's lines are compared in their own order.
normalize_outputs() {
  local d
  for d; do
    if [ -f "$d/log.txt" ]; then
      sort -s -k1,1 "$d/log.txt" >"$d/log.by-stream"
      rm "$d/log.txt"
    fi
  done
}

mkdir inputs
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=4" -ac 2 -c:a libmp3lame \
  -b:a 128k -id3v2_version 0 a.mp3
for sample in "$data"/*.avs; do
  name=$(basename "$sample" .avs)
  cp "$sample" v.avs
  "$LINUX_BIN/Lindqvale" -f v.avs inputs/c.asm >/dev/null
  cp inputs/c.asm inputs/video-only.asm
  "$LINUX_BIN/Lindqvale" a.mp3 inputs/c.asm >/dev/null
  run_both "$name: video only" avsplay video-only.asm --video v.bin --log log.txt
  run_both "$name: video and audio" avsplay c.asm --video v.bin --audio a.bin --log log.txt
  run_both "$name: seek to 2 s" avsplay c.asm --seek 2 --video v.bin --audio a.bin --log log.txt
  rm inputs/*.asm
done
run_both "help" avsplay --help
run_both "missing input" avsplay missing.asm
run_both "bad option" avsplay c.asm --fast
# Files the container parser refuses: Wine's own parsers try them too and say so.
cp "$data/xavs_cif352x288_25fps_IBP_100f.avs" v.avs
"$LINUX_BIN/Lindqvale" -f v.avs c.asm >/dev/null
head -c 20000 c.asm >inputs/cut.asm
# Text, not random bytes: in random bytes a media parser may well find a frame or two.
yes "not a container" | head -c 50000 >inputs/noise.asm || true
STDERR_FILTER='^avsplay:' run_both "cut container" avsplay cut.asm
STDERR_FILTER='^avsplay:' run_both "noise" avsplay noise.asm
finish
