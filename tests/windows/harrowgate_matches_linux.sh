#!/usr/bin/env bash
# Harrowgate.exe, reading its sources through Wine's DirectShow and the registered sample
# grabber, against the Linux Harrowgate reading them with FFmpeg: the same .avs and .dat
# byte for byte, the same progress output and messages where no scaling is needed; close
# pictures where it is; the same errors.
#   harrowgate_matches_linux.sh   (LINUX_BIN, WIN_BIN, WINE_RUN from the environment)
grabber="$WIN_BIN/SampleGrabberFilter.dll"
if [ ! -f "$grabber" ]; then
  echo "skipped: $grabber is not built (the sample grabber module)"
  exit 77
fi
source "$(dirname "$0")/compare_lib.sh"
"$WINE_RUN" regsvr32 /s "$(printf 'Z:%s' "$grabber" | tr / '\\')"
trap '"$WINE_RUN" regsvr32 /s /u "$(printf "Z:%s" "$grabber" | tr / "\\\\")"; rm -rf "$work"' EXIT
# Only the program's own messages count: the summary line carries the speed.
STDERR_FILTER='^Harrowgate: [^0-9]'
# The progress writes are counted bytes with a CR in front: both sides' must be equal as
# they are, before the comparison takes CRs out of the Windows side's console text.
normalize_outputs() {
  if ! cmp -s lin.out win.out; then
    echo "FAIL progress bytes differ: $(cmp lin.out win.out 2>&1 | head -1)"
    failures=$((failures + 1))
  fi
  tr -d '\r' <lin.out >lin.out.lf && mv lin.out.lf lin.out
}

mkdir inputs
ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25:duration=2 \
  -f lavfi -i sine=frequency=440:duration=2 -c:v mpeg4 -q:v 3 -c:a pcm_s16le inputs/clip.avi
ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=30:duration=2 -c:v libx264 \
  -pix_fmt yuv420p -g 30 inputs/h264.mp4
ffmpeg -v error -y -f lavfi -i testsrc2=size=174x90:rate=25:duration=2 -c:v mpeg4 -q:v 3 \
  inputs/odd.avi
ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1 inputs/tone.wav
opts=(-c 1 -p 1 -g 18 -q 24 -b 2 -a 0 -f 3 -o 0 -m 32 -t 1 -l 1 -n 24.000000)

run_both "avi, the front-end's options" Harrowgate clip.avi clip.avi.avs "${opts[@]}"
run_both "avi, intra pictures only" Harrowgate clip.avi out.avs -g 1 -q 32
run_both "missing source" Harrowgate missing.avi out.avs
run_both "no video" Harrowgate tone.wav out.avs
run_both "unknown option" Harrowgate clip.avi out.avs -z 1

# H.264 in MP4 with B pictures: the same pictures, but Wine's parser gives the video's times
# without the file's edit list, so they start one composition delay late; the offset must
# be the same for every picture (the pictures are compared decoded: the .avs headers carry
# the bit rate, which the offset does not change, and the same bytes follow).
rm -rf lin win && mkdir lin win && cp inputs/h264.mp4 lin/ && cp inputs/h264.mp4 win/
(cd lin && "$LINUX_BIN/Harrowgate" h264.mp4 out.avs -n 30 -q 30 2>/dev/null >/dev/null)
(cd win && "$WINE_RUN" "$WIN_BIN/Harrowgate.exe" h264.mp4 out.avs -n 30 -q 30 2>/dev/null >/dev/null)
# Each side rounds its own times to milliseconds, so the offset may vary by one.
offsets=$(paste <(od -An -v -t d4 -w4 lin/out.dat) <(od -An -v -t d4 -w4 win/out.dat) |
  awk '{ print $2 - $1 }' | sort -un | tr '\n' ' ')
spread=$(awk '{ print $NF - $1 }' <<<"$offsets")
lin_frames=$(ffmpeg -v error -i lin/out.avs -f framemd5 - | grep -vc '^#')
win_md5=$(ffmpeg -v error -i win/out.avs -f framemd5 - | grep -v '^#' | awk '{ print $NF }' | md5sum)
lin_md5=$(ffmpeg -v error -i lin/out.avs -f framemd5 - | grep -v '^#' | awk '{ print $NF }' | md5sum)
if [ "$win_md5" = "$lin_md5" ] && [ "$spread" -le 1 ] && [ "$lin_frames" = 60 ]; then
  echo "ok   mp4 (H.264): the same 60 pictures, times later by ${offsets% }ms throughout"
else
  echo "FAIL mp4 (H.264): pictures $( [ "$win_md5" = "$lin_md5" ] && echo same || echo differ), offsets $offsets"
  failures=$((failures + 1))
fi

# A size that is no whole number of macroblocks is scaled: by swscale on one side and the
# encoder's own bicubic filter on the other, so the pictures are close, not equal.
rm -rf lin win && mkdir lin win && cp inputs/odd.avi lin/ && cp inputs/odd.avi win/
(cd lin && "$LINUX_BIN/Harrowgate" odd.avi odd.avs 2>/dev/null >/dev/null)
(cd win && "$WINE_RUN" "$WIN_BIN/Harrowgate.exe" odd.avi odd.avs 2>/dev/null >/dev/null)
frames() { ffmpeg -v error -i "$1" -f framemd5 - 2>/dev/null | grep -vc '^#'; }
psnr=$(ffmpeg -v info -i win/odd.avs -i lin/odd.avs -lavfi "[0:v][1:v]psnr" -f null - 2>&1 |
  sed -n 's/.*PSNR.*average:\([0-9.inf]*\).*/\1/p')
if [ "$(frames win/odd.avs)" = 50 ] && [ "$(frames lin/odd.avs)" = 50 ] && cmp -s win/odd.dat lin/odd.dat &&
  awk -v p="$psnr" 'BEGIN { exit !(p == "inf" || p + 0 >= 35) }'; then
  echo "ok   174x90 scaled to 176x96: 50 pictures each, same time stamps, $psnr dB between them"
else
  echo "FAIL 174x90 scaled: frames $(frames win/odd.avs)/$(frames lin/odd.avs), PSNR $psnr dB"
  failures=$((failures + 1))
fi
finish
