#!/usr/bin/env bash
# BranwickSource.dll, Tallowmere.dll and SampleGrabberFilter.dll under wine64: regsvr32
# writes each module's class keys and its filter's entry in the DirectShow filter category,
# a second registration changes nothing, /u removes it all; then, registered, the graph
# test opens a container through the system's DirectShow.
#   filter_modules.sh DATA_DIR GRAPH_TEST.exe
#   (LINUX_BIN, WIN_BIN, WINE_RUN from the environment; the container is made by the
#   Linux build's Lindqvale)
set -euo pipefail
: "${LINUX_BIN:?}" "${WIN_BIN:?}" "${WINE_RUN:?}"
data=$(cd "$1" && pwd)
graph_test=$2
category='HKCR\CLSID\{083863F1-70DE-11D0-BD40-00A0C911CE86}\Instance'
work=$(mktemp -d "${TMPDIR:-/tmp}/filter-modules.XXXXXX")
unregister_all() {
  for m in BranwickSource Tallowmere SampleGrabberFilter; do
    timeout 120 "$WINE_RUN" regsvr32 /s /u "$WIN_BIN/$m.dll" >/dev/null 2>&1 || true
  done
}
trap 'unregister_all; rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}
wine_path() { echo "Z:${1//\//\\}"; }
regsvr() { timeout 120 "$WINE_RUN" regsvr32 /s "$@"; }
# Prints a key and everything below it (LF line ends); fails when the key is missing.
query() { timeout 120 "$WINE_RUN" reg query "$1" /s 2>/dev/null | tr -d '\r'; }
# The value line NAME of the key's own values (before its first sub-key).
value() { awk -v n="$2" 'NR > 2 && /^HKEY/ { exit } $1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }' <<<"$1"; }

# check_registration MODULE CLSID NAME FILTER_DATA_HEAD — the registry before, after one and
# two registrations and after removal. FILTER_DATA_HEAD is the start of the filter data in
# hex: record version, merit and pin count.
check_registration() {
  local module=$WIN_BIN/$1.dll clsid=$2 name=$3 head=$4
  local class_key="HKCR\\CLSID\\$clsid" instance_key="$category\\$clsid"
  local classes server instance filter_data count
  # Unregistering a module that is not registered succeeds and leaves nothing.
  regsvr /u "$module" || fail "$1: unregister before registering: exit $?"
  query "$class_key" >/dev/null && fail "$1: class key present before registering"

  regsvr "$module" || fail "$1: regsvr32: exit $?"
  classes=$(query "$class_key") || fail "$1: class key missing after registering"
  server=$(query "$class_key\\InprocServer32") || fail "$1: InprocServer32 missing"
  instance=$(query "$instance_key") || fail "$1: filter category entry missing"
  [ "$(value "$classes" '(Default)')" = "$name" ] || fail "$1: class name: $(value "$classes" '(Default)')"
  [ "$(value "$server" '(Default)')" = "$(wine_path "$module")" ] ||
    fail "$1: module path: $(value "$server" '(Default)')"
  [ "$(value "$server" ThreadingModel)" = "Both" ] ||
    fail "$1: threading model: $(value "$server" ThreadingModel)"
  [ "$(value "$instance" FriendlyName)" = "$name" ] ||
    fail "$1: friendly name: $(value "$instance" FriendlyName)"
  [ "$(value "$instance" CLSID)" = "$clsid" ] || fail "$1: category CLSID: $(value "$instance" CLSID)"
  filter_data=$(value "$instance" FilterData)
  [ "${filter_data:0:${#head}}" = "$head" ] || fail "$1: filter data: ${filter_data:0:40}"

  # A second registration leaves the same single set.
  regsvr "$module" || fail "$1: second regsvr32: exit $?"
  [ "$(query "$class_key")" = "$classes" ] || fail "$1: class keys changed by a second registration"
  [ "$(query "$instance_key")" = "$instance" ] || fail "$1: category entry changed by a second registration"
  count=$(query "$category" | grep -ci "^HKEY.*\\\\$clsid\$" || true)
  [ "$count" = 1 ] || fail "$1: $count category entries"

  regsvr /u "$module" || fail "$1: regsvr32 /u: exit $?"
  query "$class_key" >/dev/null && fail "$1: class key left after unregistering"
  query "$instance_key" >/dev/null && fail "$1: category entry left after unregistering"
  return 0
}

# Version 2 records; merit MERIT_PREFERRED + 2 and three pins, MERIT_PREFERRED and two pins.
check_registration BranwickSource '{6BB6D49B-9860-405C-918F-0BBC19761123}' Demmerly \
  020000000200800003000000
check_registration Tallowmere '{BE3997EB-2911-493A-B307-06CC09A43034}' Tallowmere \
  020000000000800002000000
# The grabber: MERIT_DO_NOT_USE (the graph never inserts it by itself) and two pins.
check_registration SampleGrabberFilter '{2FA4F053-6D60-4CB0-9503-8E89234F3F73}' \
  'Sample Grabber Filter' 020000000000200002000000

# Registered again, the graph test.
module=$WIN_BIN/BranwickSource.dll
regsvr "$module" || fail "regsvr32 for the graph test: exit $?"
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=4" -ac 2 -c:a libmp3lame \
  -b:a 128k -id3v2_version 0 "$work/a.mp3"
"$LINUX_BIN/Lindqvale" -f "$data/xavs_cif352x288_25fps_IBP_100f.avs" "$work/c.asm" >/dev/null
"$LINUX_BIN/Lindqvale" "$work/a.mp3" "$work/c.asm" >/dev/null
AVS_BRANWICK_CONTAINER=$(wine_path "$work/c.asm") AVS_BRANWICK_MODULE=$(wine_path "$module") \
  timeout 300 "$WINE_RUN" "$graph_test" || fail "graph test: exit $?"

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "registration and graph checks pass"
