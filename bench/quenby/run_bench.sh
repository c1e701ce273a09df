#!/usr/bin/env bash
# Quenby against the lame tool and ffmpeg's libmp3lame encoder on one 10-minute WAV, same bit
# rate, mode and encoder quality, in one run. Prints the best of three wall times and ratios.
#   run_bench.sh [build/bin folder] [seconds of audio]
set -euo pipefail
bin=${1:-$(cd "$(dirname "$0")/../.." && pwd)/build/bin}
seconds=${2:-600}
kbps=128
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Music-like material: tones plus pink noise, so the psychoacoustics have work to do.
ffmpeg -nostdin -v error -y \
  -f lavfi -i "sine=f=220:r=44100:d=$seconds" -f lavfi -i "sine=f=1375:r=44100:d=$seconds" \
  -f lavfi -i "anoisesrc=color=pink:r=44100:a=0.08:d=$seconds" \
  -filter_complex "[0][1]amerge=inputs=2[t];[t][2]amix=inputs=2:normalize=0,volume=0.7" \
  -ac 2 -c:a pcm_s16le "$work/source.wav"

# One timed run: prints "wall cpu" in seconds (cpu = user + system of the command). The machine
# may be shared, so CPU time is the steadier figure; both are shown.
timed() {
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.3f %.3f", $1, $2 + $3 }'
}

# Three rounds, the three encoders taking turns in each, so a burst of load hits all alike.
# Joint stereo at 128 kbit/s, 44.1 kHz out, LAME algorithm quality 2 in all three (Quenby's
# high-fidelity preset is quality 2).
declare -A wall cpu
for round in 1 2 3; do
  for who in quenby lame ffmpeg; do
    case $who in
      quenby) r=$(timed "$bin/Quenby" "$work/source.wav" "$work/quenby.mp3" -bitrate=$kbps -mode=1) ;;
      lame) r=$(timed lame --silent -b $kbps -m j -q 2 --resample 44.1 "$work/source.wav" "$work/lame.mp3") ;;
      ffmpeg) r=$(timed ffmpeg -nostdin -v error -y -i "$work/source.wav" -c:a libmp3lame \
                -b:a ${kbps}k -joint_stereo 1 -compression_level 2 "$work/ffmpeg.mp3") ;;
    esac
    read -r w c <<<"$r"
    if [ -z "${wall[$who]:-}" ] || awk -v a="$w" -v b="${wall[$who]}" 'BEGIN{exit !(a<b)}'; then wall[$who]=$w; fi
    if [ -z "${cpu[$who]:-}" ] || awk -v a="$c" -v b="${cpu[$who]}" 'BEGIN{exit !(a<b)}'; then cpu[$who]=$c; fi
  done
done

size() { stat -c %s "$1"; }
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
echo "source: ${seconds} s stereo 44.1 kHz WAV, ${kbps} kbit/s joint stereo, quality 2, best of 3"
printf "%-22s %9s %9s %11s\n" "" "wall s" "cpu s" "bytes"
for who in quenby lame ffmpeg; do
  name=$who; [ $who = quenby ] && name=Quenby; [ $who = ffmpeg ] && name="ffmpeg -c:a libmp3lame"
  printf "%-22s %9s %9s %11s\n" "$name" "${wall[$who]}" "${cpu[$who]}" "$(size "$work/$who.mp3")"
done
awk -v qw="${wall[quenby]}" -v lw="${wall[lame]}" -v fw="${wall[ffmpeg]}" \
    -v qc="${cpu[quenby]}" -v lc="${cpu[lame]}" -v fc="${cpu[ffmpeg]}" 'BEGIN {
  printf "Quenby / lame   wall %.3f  cpu %.3f  (target <= 1.10)\n", qw / lw, qc / lc
  printf "Quenby / ffmpeg wall %.3f  cpu %.3f\n", qw / fw, qc / fc
}'
