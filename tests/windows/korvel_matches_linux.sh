#!/usr/bin/env bash
# Korvel.exe under wine64 against the Linux Korvel: the same transport stream byte for byte,
# the same messages and exit codes, on both sample streams and on bad inputs.
#   korvel_matches_linux.sh DATA_DIR   (LINUX_BIN, WIN_BIN, WINE_RUN from the environment)
data=$(cd "$1" && pwd)
source "$(dirname "$0")/compare_lib.sh"

mkdir inputs
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=4" -ac 2 -c:a libmp3lame \
  -b:a 128k -id3v2_version 0 inputs/a.mp3
python3 -c "
import struct
open('inputs/t.dat', 'wb').write(b''.join(struct.pack('<i', i * 40) for i in range(100)))"
for sample in "$data"/*.avs; do
  cp "$sample" inputs/v.avs
  run_both "$(basename "$sample")" Korvel v.avs a.mp3 t.dat out.ts
done

# Bad inputs: usage, missing files, an output that cannot be created or is an input,
# a cut video stream, garbage for audio and for video, empty time stamps.
cp "$data/xavs_cif352x288_25fps_IBP_100f.avs" inputs/v.avs
run_both "no arguments" Korvel
run_both "three arguments" Korvel v.avs a.mp3 t.dat
run_both "five arguments" Korvel v.avs a.mp3 t.dat out.ts extra
run_both "missing video" Korvel missing.avs a.mp3 t.dat out.ts
run_both "missing audio" Korvel v.avs missing.mp3 t.dat out.ts
run_both "missing time stamps" Korvel v.avs a.mp3 missing.dat out.ts
run_both "output folder missing" Korvel v.avs a.mp3 t.dat no/such.ts
run_both "output is the video" Korvel v.avs a.mp3 t.dat v.avs
run_both "output is the audio" Korvel v.avs a.mp3 t.dat ./a.mp3
head -c 30000 "$data/xavs_cif352x288_25fps_IBP_100f.avs" >inputs/cut.avs
run_both "cut video" Korvel cut.avs a.mp3 t.dat out.ts
head -c 100000 /dev/urandom >inputs/noise
run_both "noise as audio" Korvel v.avs noise t.dat out.ts
run_both "noise as video" Korvel noise a.mp3 t.dat out.ts
: >inputs/empty.dat
run_both "empty time stamps" Korvel v.avs a.mp3 empty.dat out.ts
finish
