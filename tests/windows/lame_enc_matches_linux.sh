#!/usr/bin/env bash
# lame_enc.dll under wine64 against the Linux lame_enc.so: the seven exports leave the DLL
# undecorated, and the same PCM encoded through each with the records Quenby fills gives
# the same MP3 byte for byte; a LAME source package whose files do not match their .dsc is
# refused before anything is built from it.
#   lame_enc_matches_linux.sh BLADE_ENCODE.exe
#   (LINUX_BIN, LINUX_TESTS, WIN_BIN, WINE_RUN, LAME_CC, LAME_DIR from the environment)
set -euo pipefail
: "${LINUX_BIN:?}" "${LINUX_TESTS:?}" "${WIN_BIN:?}" "${WINE_RUN:?}" "${LAME_CC:?}" "${LAME_DIR:?}"
win_encode=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/lame-enc.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}
wine_path() { echo "Z:${1//\//\\}"; }

# The export table names exactly the seven functions, without decoration.
objdump=$(basename "${LAME_CC%-gcc*}")-objdump
exports=$("$objdump" -p "$WIN_BIN/lame_enc.dll" |
  awk '/\[Ordinal\/Name Pointer\] Table/ { t = 1; next } t && /\[/ { print $NF } t && !/\[/ { t = 0 }' |
  sort | tr '\n' ' ')
want="beCloseStream beDeinitStream beEncodeChunk beInitStream beVersion beWriteInfoTag beWriteVBRHeader "
[ "$exports" = "$want" ] || fail "exports: '$exports'"

ffmpeg -v error -y -f lavfi -i "sine=f=440:r=44100:d=3" -f lavfi -i "sine=f=660:r=44100:d=3" \
  -filter_complex amerge -ac 2 -f s16le stereo44.raw
ffmpeg -v error -y -f lavfi -i "sine=f=440:r=22050:d=2" -f s16le mono22.raw
ffmpeg -v error -y -f lavfi -i "anoisesrc=r=48000:d=2:a=0.3" -ac 2 -f s16le noise48.raw

# compare NAME PCM RATE CHANNELS BITRATE [VBR_MAX [RESAMPLE]]
compare() {
  local name=$1 pcm=$2
  shift 2
  "$LINUX_TESTS/blade_encode" "$LINUX_BIN/lame_enc.so" "$pcm" "lin-$name.mp3" "$@" ||
    { fail "$name: Linux encoding failed"; return; }
  timeout 300 "$WINE_RUN" "$win_encode" "$(wine_path "$WIN_BIN/lame_enc.dll")" "$pcm" \
    "win-$name.mp3" "$@" || { fail "$name: Windows encoding failed"; return; }
  [ -s "lin-$name.mp3" ] || { fail "$name: empty MP3"; return; }
  if cmp -s "lin-$name.mp3" "win-$name.mp3"; then
    echo "same: $name ($(stat -c %s "lin-$name.mp3") bytes)"
  else
    fail "$name: MP3s differ ($(cmp "lin-$name.mp3" "win-$name.mp3" 2>&1 | head -1))"
  fi
}
compare cbr64-stereo stereo44.raw 44100 2 64
compare cbr128-stereo stereo44.raw 44100 2 128
compare cbr64-mono22 mono22.raw 22050 1 64
compare cbr96-noise48 noise48.raw 48000 2 96
compare cbr64-resampled stereo44.raw 44100 2 64 0 22050
compare vbr64-192 stereo44.raw 44100 2 64 192

# A source package with a changed byte in its upstream tarball: dpkg-source refuses it and
# no library is built.
src=$(ls "$LAME_DIR"/download/lame_*.dsc 2>/dev/null | head -n 1)
if [ -z "$src" ]; then
  fail "no fetched source package in $LAME_DIR/download"
else
  mkdir bad
  cp "$(dirname "$src")"/lame_* bad/
  orig=$(ls bad/lame_*.orig.tar.*)
  python3 -c "
import sys
f = open(sys.argv[1], 'r+b'); data = bytearray(f.read()); data[len(data) // 2] ^= 0xFF
f.seek(0); f.write(data)" "$orig"
  if AVS_LAME_SOURCE_DIR=$work/bad "$root/scripts/build_lame_windows.sh" "$LAME_CC" "$work/badbuild" \
    >bad.log 2>&1; then
    fail "a source package that does not match its .dsc was built"
  fi
  grep -qi "checksum" bad.log || fail "refusal does not name the checksum: $(tail -n 3 bad.log)"
  [ ! -e "$work/badbuild/install/lib/libmp3lame.a" ] || fail "a library was left behind"
fi

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "lame_enc.dll checks pass"
