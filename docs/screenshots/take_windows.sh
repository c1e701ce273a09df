#!/usr/bin/env bash
# Takes the screenshots of Ostrander.exe's three Win32 dialogs under Wine on a virtual X
# server (scripts/wine-gui.sh): windows-main.png, windows-settings.png, windows-about.png.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --build build-win64 --target ostrander_screenshots >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
started=0
if ! scripts/wine-gui.sh run cmd /c exit 0 >/dev/null 2>&1; then
  scripts/wine-gui.sh start >/dev/null
  started=1
fi
scripts/wine-gui.sh run build-win64/tests/ostrander_screenshots.exe "Z:$(tr / '\\' <<<"$out")"
[ "$started" = 1 ] && scripts/wine-gui.sh stop
# BMP to PNG with nothing but Python's standard library.
for name in main settings about; do
  python3 - "$out/$name.bmp" "docs/screenshots/windows-$name.png" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
offset, = struct.unpack_from("<I", data, 10)
width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
assert bits == 24
stride = (width * 3 + 3) & ~3
rows = []
for y in range(abs(height)):
    src = height - 1 - y if height > 0 else y
    row = data[offset + src * stride: offset + src * stride + width * 3]
    rgb = bytearray(row)
    rgb[0::3], rgb[2::3] = row[2::3], row[0::3]
    rows.append(b"\0" + bytes(rgb))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
open(sys.argv[2], "wb").write(png)
PY
  echo "docs/screenshots/windows-$name.png"
done
