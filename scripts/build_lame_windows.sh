#!/usr/bin/env bash
# build_lame_windows.sh CC DEST — libmp3lame for Windows, built static with the mingw-w64
# compiler CC from Debian's source package for LAME, into DEST/install (lib/libmp3lame.a,
# include/lame/lame.h). Done once per build tree: a finished DEST is left as it is.
#
# The source package is fetched by name with apt-get source (scripts/setup.sh writes the
# deb-src entry it needs), in the version of the installed libmp3lame-dev, so that the
# Windows and the Linux lame_enc modules encode with the same LAME. dpkg-source then checks
# the files against the checksums in the .dsc and refuses to unpack on a mismatch.
# AVS_LAME_SOURCE_DIR names a folder that already holds a .dsc and its files instead (the
# tests use it); nothing is fetched then.
set -euo pipefail
cc=$1
dest=$2
[ -f "$dest/install/.complete" ] && exit 0
host=$(basename "${cc%-gcc*}")
rm -rf "$dest/unpacked" "$dest/build" "$dest/install"
mkdir -p "$dest/download" "$dest/build"

if [ -n "${AVS_LAME_SOURCE_DIR:-}" ]; then
  dsc_dir=$AVS_LAME_SOURCE_DIR
else
  version=$(dpkg-query -W -f='${source:Version}' libmp3lame-dev 2>/dev/null || true)
  (cd "$dest/download" && rm -f ./*.dsc &&
    apt-get source -q --download-only "lame${version:+=$version}") || {
    echo "build_lame_windows: apt-get source lame failed; scripts/setup.sh adds the deb-src entry it needs" >&2
    exit 1
  }
  dsc_dir=$dest/download
fi
dsc=$(ls "$dsc_dir"/lame_*.dsc 2>/dev/null | head -n 1)
[ -n "$dsc" ] || { echo "build_lame_windows: no lame_*.dsc in $dsc_dir" >&2; exit 1; }
# Unpacks only when every file matches its size and checksums in the .dsc.
dpkg-source --require-strong-checksums -x "$dsc" "$dest/unpacked" >"$dest/unpack.log" 2>&1 || {
  cat "$dest/unpack.log" >&2
  echo "build_lame_windows: $dsc did not verify" >&2
  rm -rf "$dest/unpacked"
  exit 1
}

# Debian builds with its own CFLAGS (-O2), which also keeps LAME's configure from adding
# -ffast-math and friends; the same here, so both builds compute alike. 32-bit x86 needs
# -msse for the SSE quantizer routines (Debian's build adds it to that file alone), and its
# floating point in SSE2 registers too: in the x87 unit's wider registers four of the six
# comparison encodings came out different from the x86-64 builds' (so the 32-bit
# lame_enc.dll needs a processor with SSE2, as every Windows since 8 does).
cflags="-O2"
case "$host" in i686-*) cflags="$cflags -msse -msse2 -mfpmath=sse" ;; esac
cd "$dest/build"
"$dest/unpacked/configure" -q --host="$host" --prefix="$dest/install" \
  --disable-shared --enable-static --disable-frontend \
  CC="$cc" CFLAGS="$cflags" >"$dest/configure.log" 2>&1 || {
  tail -n 20 "$dest/configure.log" >&2
  exit 1
}
make -s -j2 >"$dest/make.log" 2>&1 || { tail -n 40 "$dest/make.log" >&2; exit 1; }
make -s install >>"$dest/make.log" 2>&1
touch "$dest/install/.complete"
