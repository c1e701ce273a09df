#!/usr/bin/env bash
# The whole chain as Windows programs: Ostrander.exe --convert-ts and --convert-asm under Wine
# on two clips (one with blanks in its folder and file name), its children Harrowgate.exe,
# Quenby.exe (with lame_enc.dll), Korvel.exe and Lindqvale.exe started from the folder that
# holds them, sources read through Wine's DirectShow. The transport streams must decode
# completely with FFmpeg (one cavs, one mp3 stream), the containers play to their end in
# avsplay.exe through BranwickSource.dll, the intermediate files must be gone, and the
# pictures must be within 0.5 dB of the Linux chain's on the same clips.
#   ostrander_converts.sh   (LINUX_BIN, WIN_BIN, GUI_RUN from the environment)
set -euo pipefail
: "${LINUX_BIN:?}" "${WIN_BIN:?}" "${GUI_RUN:?}"
for f in Harrowgate.exe Quenby.exe lame_enc.dll Korvel.exe Lindqvale.exe SampleGrabberFilter.dll \
  BranwickSource.dll avsplay.exe Ostrander.exe; do
  if [ ! -f "$WIN_BIN/$f" ]; then
    echo "skipped: $WIN_BIN/$f is not built"
    exit 77
  fi
done
work=$(mktemp -d "${TMPDIR:-/tmp}/windows-chain.XXXXXX")
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
modules=("$WIN_BIN/SampleGrabberFilter.dll" "$WIN_BIN/BranwickSource.dll")
cleanup() {
  for m in "${modules[@]}"; do "$GUI_RUN" run regsvr32 /s /u "$(winpath "$m")" || true; done
  rm -rf "$work"
}
trap cleanup EXIT
for m in "${modules[@]}"; do "$GUI_RUN" run regsvr32 /s "$(winpath "$m")"; done
# The Linux player finds its module in a registry file of this run's own.
export AVS_REGISTRY=$work/registry.reg
"$LINUX_BIN/regsvr" "$LINUX_BIN/BranwickSource.so" >/dev/null
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

mkdir -p "$work/win/clip folder" "$work/win/v" "$work/win/out dir" "$work/lin/clip folder" \
  "$work/lin/v" "$work/lin/out dir"
ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25:duration=4 \
  -f lavfi -i sine=frequency=440:sample_rate=44100:duration=4 -ac 2 -c:v mpeg4 -q:v 3 \
  -c:a pcm_s16le "$work/win/clip folder/my clip.avi"
ffmpeg -v error -y -f lavfi -i mandelbrot=size=320x240:rate=24 \
  -f lavfi -i sine=frequency=660:sample_rate=48000:duration=3 -t 3 -c:v mpeg4 -q:v 4 \
  -c:a pcm_s16le "$work/win/v/b.avi"
cp "$work/win/clip folder/my clip.avi" "$work/lin/clip folder/"
cp "$work/win/v/b.avi" "$work/lin/v/"
clips=("clip folder/my clip.avi" "v/b.avi")

# Both chains, each from the folder that holds its programs.
(cd "$WIN_BIN" && timeout 600 "$GUI_RUN" run Ostrander.exe --convert-ts \
  "$(winpath "$work/win/${clips[0]}")" "$(winpath "$work/win/${clips[1]}")" >/dev/null 2>&1) ||
  fail "Ostrander.exe --convert-ts ended with $?"
(cd "$WIN_BIN" && timeout 600 "$GUI_RUN" run Ostrander.exe --convert-asm --output \
  "$(winpath "$work/win/out dir")" "$(winpath "$work/win/${clips[0]}")" \
  "$(winpath "$work/win/${clips[1]}")" >/dev/null 2>&1) || fail "Ostrander.exe --convert-asm ended with $?"
(cd "$LINUX_BIN" && QT_QPA_PLATFORM=offscreen timeout 600 ./Ostrander --convert-ts \
  "$work/lin/${clips[0]}" "$work/lin/${clips[1]}" >/dev/null 2>&1) || fail "Linux Ostrander --convert-ts"
(cd "$LINUX_BIN" && QT_QPA_PLATFORM=offscreen timeout 600 ./Ostrander --convert-asm --output \
  "$work/lin/out dir" "$work/lin/${clips[0]}" "$work/lin/${clips[1]}" >/dev/null 2>&1) ||
  fail "Linux Ostrander --convert-asm"

psnr() {  # psnr CODED SOURCE — average PSNR of the decoded pictures against the source
  ffmpeg -v info -i "$1" -i "$2" -lavfi "[0:v][1:v]psnr" -f null - 2>&1 |
    sed -n 's/.*PSNR.*average:\([0-9.]*\).*/\1/p' | tail -1
}
packets() {  # packets FILE v|a
  ffprobe -v error -select_streams "$2" -count_packets -show_entries stream=nb_read_packets \
    -of csv=p=0 "$1" | head -1
}
decoded() {  # decoded FILE v|a — frames FFmpeg decodes from the stream
  ffmpeg -v quiet -i "$1" -map "0:$2" -f framemd5 - | grep -vc '^#' || true
}

for clip in "${clips[@]}"; do
  name=$(basename "$clip")
  win_ts="$work/win/$clip.avsts"
  lin_ts="$work/lin/$clip.avsts"
  if [ ! -f "$win_ts" ]; then
    fail "$clip: no .avsts"
    continue
  fi
  streams=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$win_ts" | grep . | sort -u | tr '\n' ' ')
  count=$(ffprobe -v error -show_entries format=nb_streams -of csv=p=0 "$win_ts")
  [ "$streams" = "cavs mp3 " ] && [ "$count" = 2 ] || fail "$clip: $count streams: '$streams'"
  for kind in v a; do
    # Every packet decodes; the pictures as many as the Linux chain's stream gives.
    [ "$(decoded "$win_ts" "$kind")" = "$(decoded "$lin_ts" "$kind")" ] ||
      fail "$clip: $kind frames decoded: $(decoded "$win_ts" "$kind") here, $(decoded "$lin_ts" "$kind") on Linux"
  done
  [ "$(packets "$win_ts" a)" = "$(decoded "$win_ts" a)" ] || fail "$clip: not every audio frame decodes"
  source="$work/win/$clip"
  p_win=$(psnr "$win_ts" "$source")
  p_lin=$(psnr "$lin_ts" "$work/lin/$clip")
  awk -v a="$p_win" -v b="$p_lin" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(a != "" && d <= 0.5) }' ||
    fail "$clip: PSNR $p_win dB here, $p_lin dB on Linux"
  same=differ
  cmp -s <(ffmpeg -v quiet -i "$win_ts" -map 0:v -c copy -f data -) \
    <(ffmpeg -v quiet -i "$lin_ts" -map 0:v -c copy -f data -) && same=same
  asame=differ
  cmp -s <(ffmpeg -v quiet -i "$win_ts" -map 0:a -c copy -f mp3 -) \
    <(ffmpeg -v quiet -i "$lin_ts" -map 0:a -c copy -f mp3 -) && asame=same
  echo "ok   $clip.avsts: cavs+mp3, $(packets "$win_ts" v) video and $(packets "$win_ts" a) audio packets" \
    "(Linux $(packets "$lin_ts" v) and $(packets "$lin_ts" a)), PSNR $p_win dB (Linux $p_lin)," \
    "video bytes $same, audio bytes $asame"
  for ext in avs mp3 dat; do
    [ -e "$work/win/$clip.$ext" ] && fail "$clip.$ext left behind"
    [ -e "$work/win/out dir/$name.$ext" ] && fail "out dir/$name.$ext left behind"
  done

  # The container through BranwickSource.dll in the system's graph, against the Linux player
  # on the Linux chain's container.
  win_asm="$work/win/out dir/$name.asm"
  lin_asm="$work/lin/out dir/$name.asm"
  if [ ! -f "$win_asm" ]; then
    fail "$name: no .asm"
    continue
  fi
  (cd "$work/win/out dir" && timeout 300 "$GUI_RUN" run "$(winpath "$WIN_BIN/avsplay.exe")" \
    "$name.asm" --video play.avs --audio play.mp3 >"$work/win.summary" 2>"$work/win.err") ||
    fail "$name: avsplay.exe ended with $? ($(head -2 "$work/win.err" | tr '\n' ' '))"
  (cd "$work/lin/out dir" && timeout 300 "$LINUX_BIN/avsplay" "$name.asm" --video play.avs \
    --audio play.mp3 >"$work/lin.summary" 2>/dev/null) || fail "$name: Linux avsplay ended with $?"
  tr -d '\r' <"$work/win.summary" >"$work/win.summary.lf"
  grep -c "end of stream" "$work/win.summary.lf" | grep -qx 2 || fail "$name: a stream did not play to its end"
  cut -d, -f1 "$work/win.summary.lf" >"$work/win.counts"
  cut -d, -f1 "$work/lin.summary" >"$work/lin.counts"
  if [ -n "$(diff "$work/win.counts" "$work/lin.counts")" ]; then
    fail "$name: avsplay.exe delivered $(tr '\n' ' ' <"$work/win.counts"), Linux $(tr '\n' ' ' <"$work/lin.counts")"
  fi
  vsame=differ
  cmp -s "$work/win/out dir/play.avs" "$work/lin/out dir/play.avs" && vsame=same
  decoded_play=$(decoded "$work/win/out dir/play.avs" v)
  [ "$decoded_play" = "$(decoded "$work/lin/out dir/play.avs" v)" ] || fail "$name: played pictures decode to $decoded_play"
  echo "ok   $name.asm: avsplay.exe $(tr '\n' ' ' <"$work/win.counts")(Linux alike), video bytes $vsame"
  rm -f "$work/win/out dir/play."* "$work/lin/out dir/play."*
done

if ((failures)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "the Windows chain converts and plays both clips"
