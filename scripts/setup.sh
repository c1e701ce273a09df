#!/usr/bin/env bash
# Installs the Debian packages the tool set needs to build, test and run.
# Idempotent: asks apt only for what is missing.
set -euo pipefail
PKGS=(
  cmake ninja-build g++ clang llvm libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libswscale-dev
  libmp3lame-dev lame time
  qt6-base-dev fonts-wqy-zenhei xvfb xauth
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 file
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstrtspserver-1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base-apps gstreamer1.0-x
  dpkg-dev
  fonts-wqy-microhei
)
# The registry's mirror can hold an index that does not match its release file for a while
# (the i386 security list once did for days); apt-get update then fails although every other
# list was fetched. Installing still works from those, so say so and go on.
apt_update() {
  if ! "${SUDO[@]}" apt-get update -q "$@"; then
    echo "setup: apt-get update could not fetch every package list (see above); going on with the lists it has"
  fi
}
SUDO=()
[ "$(id -u)" -eq 0 ] || SUDO=(sudo)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  apt_update
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# The 32-bit Windows tests need 32-bit Wine and, for Wine's own media parsers and decoders,
# 32-bit GStreamer plugins; only hosts that run 32-bit code can use them.
if "$(dirname "$0")/host_runs_32bit.sh"; then
  missing32=()
  for p in wine32 gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav; do
    dpkg-query -W -f='${Status}' "$p:i386" 2>/dev/null | grep -q "install ok installed" ||
      missing32+=("$p:i386")
  done
  if [ ${#missing32[@]} -gt 0 ]; then
    echo "setup: installing ${missing32[*]} (this host runs 32-bit code)"
    "${SUDO[@]}" dpkg --add-architecture i386
    apt_update
    # Without a matching i386 list for every amd64 library the install cannot be resolved;
    # the Windows stage then reports the 32-bit tests as skipped and why.
    if ! "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
      --no-install-recommends "${missing32[@]}"; then
      echo "setup: the 32-bit Wine packages could not be installed; the 32-bit Windows tests will be skipped"
    fi
  fi
fi
# lame_enc.dll is built over Debian's source package for LAME, which the Windows build
# fetches by name (scripts/build_lame_windows.sh runs apt-get source); that needs a deb-src
# entry for the suite this host runs, in a list file of the tool set's own.
src_list=/etc/apt/sources.list.d/avs-toolset-src.list
if ! apt-cache showsrc lame 2>/dev/null | grep -q '^Package: lame$'; then
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  echo "setup: adding deb-src ${mirror:-http://deb.debian.org/debian} $suite main ($src_list)"
  echo "deb-src ${mirror:-http://deb.debian.org/debian} $suite main" | "${SUDO[@]}" tee "$src_list" >/dev/null
  # Only the new list is fetched; the others stay as they are.
  apt_update -o Dir::Etc::sourcelist="$src_list" -o Dir::Etc::sourceparts=- \
    -o APT::Get::List-Cleanup=0
fi
