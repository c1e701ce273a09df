#!/usr/bin/env bash
# Quenby.exe under wine64 on the system's own DirectShow (Wine's media detector, source
# filters, parsers and decoders, null renderer) with SampleGrabberFilter.dll registered:
# WAV, AVI (MPEG-4 video, PCM) and MP4 (AAC) sources made with FFmpeg become MP3s of the
# source's rate and channels, the bit rate asked for (or a Xing header) and the source's
# length; the PCM sources give the very MP3 the Linux Quenby makes; the progress blocks are
# whole and never fall; a file without audio fails with the grabber message and a record in
# AudioErrorInfo.txt. Prints how far Wine's AAC decoding moves the audio.
#   quenby_windows.sh   (LINUX_BIN, WIN_BIN, WINE_RUN from the environment)
set -euo pipefail
: "${LINUX_BIN:?}" "${WIN_BIN:?}" "${WINE_RUN:?}"
helpers=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quenby-windows.XXXXXX")
grabber=$WIN_BIN/SampleGrabberFilter.dll
unregister() { timeout 120 "$WINE_RUN" regsvr32 /s /u "$grabber" >/dev/null 2>&1 || true; }
trap 'unregister; rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}
wine_path() { echo "Z:${1//\//\\}"; }
timeout 120 "$WINE_RUN" regsvr32 /s "$grabber" || fail "regsvr32 SampleGrabberFilter.dll: exit $?"

tone="-f lavfi -i sine=f=440:r="
media() { ffmpeg -nostdin -v error -y "$@"; }
media -f lavfi -i "sine=f=440:r=44100:d=3" -f lavfi -i "sine=f=660:r=44100:d=3" \
  -filter_complex amerge -ac 2 -c:a pcm_s16le stereo44.wav
media ${tone}22050:d=2 -c:a pcm_s16le mono22.wav
media -f lavfi -i testsrc=size=160x120:rate=25:d=2 ${tone}44100:d=2 -c:v mpeg4 -c:a pcm_s16le \
  -ac 2 pcm.avi
media -f lavfi -i testsrc=size=160x120:rate=25:d=2 ${tone}48000:d=2 -c:v mpeg4 -c:a aac -b:a 96k \
  -ac 2 aac.mp4
media -f lavfi -i testsrc=size=160x120:rate=25:d=1 -c:v mpeg4 noaudio.mp4

# Samples per channel of the first audio stream as FFmpeg decodes it (an MP3's encoder delay
# and padding taken off through its Info/Xing header).
samples() {
  ffmpeg -nostdin -v error -i "$1" -map 0:a:0 -ac 1 -f s16le - | wc -c | awk '{ print $1 / 2 }'
}
probe() {
  ffprobe -v error -select_streams a:0 -show_entries stream="$2" -of csv=p=0 "$1"
}

# check NAME SOURCE RATE CHANNELS KBPS(0 = VBR) MAX_LEAD [OPTIONS...]
# MAX_LEAD: how many samples the system's decoding may put in front of the source's audio.
# With 0 (the PCM sources) the MP3 must be the Linux Quenby's byte for byte.
check() {
  local name=$1 source=$2 rate=$3 channels=$4 kbps=$5 max_lead=$6
  shift 6
  local out=$name.mp3 code=0
  timeout 300 "$WINE_RUN" "$WIN_BIN/Quenby.exe" "$(wine_path "$work/$source")" "$out" "$@" \
    >"$name.out" 2>"$name.err" || code=$?
  [ "$code" = 0 ] || { fail "$name: exit $code: $(tr -d '\0' <"$name.out" | tail -c 300)"; return; }
  grep -qaF "InputFile: $(wine_path "$work/$source")"$'\r' "$name.out" || fail "$name: no InputFile line"
  grep -qaF "OutputFile: $out"$'\r' "$name.out" || fail "$name: no OutputFile line"
  [ "$(probe "$out" codec_name)" = mp3 ] || fail "$name: not an MP3"
  [ "$(probe "$out" sample_rate)" = "$rate" ] || fail "$name: rate $(probe "$out" sample_rate)"
  [ "$(probe "$out" channels)" = "$channels" ] || fail "$name: channels $(probe "$out" channels)"
  if [ "$kbps" != 0 ]; then
    [ "$(probe "$out" bit_rate)" = "$((kbps * 1000))" ] || fail "$name: bit rate $(probe "$out" bit_rate)"
    head -c 64 "$out" | grep -qa Info || fail "$name: no Info header"
  else
    head -c 64 "$out" | grep -qa Xing || fail "$name: no Xing header"
  fi
  # Length as the Linux test has it: the source's audio, then at most the encoder's delay
  # and one frame of padding, and here what the system's decoding puts in front.
  local duration src_samples mp3_samples
  duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$out")
  src_samples=$(samples "$source")
  mp3_samples=$(samples "$out")
  python3 -c "
import sys
d, rate, lead = float('$duration'), $rate, $max_lead
src = $src_samples / rate
frame = (1152 if rate >= 32000 else 576) / rate
sys.exit(0 if src - 0.002 <= d <= src + frame + (1105 + lead) / rate + 0.002 else 1)" ||
    fail "$name: an MP3 of $duration s for $src_samples source samples"
  "$LINUX_BIN/Quenby" "$source" "lin-$out" "$@" >/dev/null 2>&1 || fail "$name: Linux Quenby failed"
  if [ "$max_lead" = 0 ]; then
    cmp -s "$out" "lin-$out" || fail "$name: differs from the Linux Quenby's MP3"
    echo "$name: $mp3_samples samples, the Linux Quenby's MP3 byte for byte"
  else
    local lead_by
    lead_by=$("$helpers/pcm_lead.py" "lin-$out" "$out" "$max_lead")
    echo "$name: source $src_samples samples as FFmpeg decodes it, MP3 $mp3_samples;" \
      "its audio starts $lead_by samples ($(awk -v n="$lead_by" -v r="$rate" \
      'BEGIN { printf "%.1f", 1000 * n / r }') ms) later than in the Linux Quenby's MP3"
    ((mp3_samples >= src_samples - max_lead && mp3_samples <= src_samples + max_lead)) ||
      fail "$name: $mp3_samples samples for $src_samples"
    ((lead_by < max_lead)) || fail "$name: the audio starts $lead_by samples late"
  fi
  local values last=0 p
  values=$("$helpers/progress_blocks.py" "$name.out") || { fail "$name: progress: $values"; return; }
  [ -n "$values" ] || fail "$name: no progress blocks"
  for p in $values; do
    ((p >= last && p <= 100)) || fail "$name: progress $p after $last"
    last=$p
  done
  ((last >= 90)) || fail "$name: progress ends at $last"
}

check wav-stereo stereo44.wav 44100 2 64 0
check wav-mono mono22.wav 22050 1 64 0
check wav-mono-mode stereo44.wav 44100 1 128 0 -bitrate=128 -mode 3
check wav-vbr stereo44.wav 44100 2 0 0 -b 64 -v 192
check avi-pcm pcm.avi 44100 2 64 0
# AAC: Wine's path may keep the encoder's priming frame (1024 samples) in front.
check mp4-aac aac.mp4 48000 2 64 1100

# No audio: the grabber message, exit code -1, no MP3, one record per run.
log=AudioErrorInfo.txt
rm -f "$log"
src=$(wine_path "$work/noaudio.mp4")
for run in 1 2; do
  code=0
  timeout 300 "$WINE_RUN" "$WIN_BIN/Quenby.exe" "$src" noaudio.mp3 >noaudio.out 2>/dev/null || code=$?
  [ "$code" = 255 ] || fail "no audio, run $run: exit $code"
  tail -c 44 noaudio.out | cmp -s - <(printf 'Could not connect source filter to grabber\r\n') ||
    fail "no audio, run $run: $(tail -c 80 noaudio.out | od -c | head -3)"
  [ ! -e noaudio.mp3 ] || fail "no audio, run $run: an MP3 was left"
done
python3 - "$log" "$src" <<'PY' || fail "AudioErrorInfo.txt: $(od -c "$log" | head -8)"
import re, sys
text = open(sys.argv[1], 'rb').read().decode()
record = (r'\*\*\*\*\*[^\r\n*]+ \d{1,2}:\d\d:\d\d\*\*\*\*\*\r\n'
          r'Could not connect source filter to grabber\r\nInputFile: ' + re.escape(sys.argv[2]) +
          r'\r\n\r\n')
sys.exit(0 if re.fullmatch('(' + record + '){2}', text) else 1)
PY
echo "error log: $(head -n 1 "$log" | tr -d '\r')"

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "Quenby.exe checks pass"
