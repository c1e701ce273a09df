#!/usr/bin/env bash
# BranwickSource.dll under wine64: regsvr32 writes the class keys and the filter's entry in
# the DirectShow filter category, a second registration changes nothing, /u removes both;
# then, registered, the graph test opens a container through the system's DirectShow.
#   branwick_module.sh DATA_DIR GRAPH_TEST.exe
#   (LINUX_BIN, WIN_BIN, WINE_RUN from the environment; the container is made by the
#   Linux build's Lindqvale)
set -euo pipefail
: "${LINUX_BIN:?}" "${WIN_BIN:?}" "${WINE_RUN:?}"
data=$(cd "$1" && pwd)
graph_test=$2
module=$WIN_BIN/BranwickSource.dll
clsid='{6BB6D49B-9860-405C-918F-0BBC19761123}'
class_key="HKCR\\CLSID\\$clsid"
instance_key="HKCR\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\$clsid"
work=$(mktemp -d "${TMPDIR:-/tmp}/branwick-module.XXXXXX")
trap 'timeout 120 "$WINE_RUN" regsvr32 /s /u "$module" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}
wine_path() { echo "Z:${1//\//\\}"; }
regsvr() { timeout 120 "$WINE_RUN" regsvr32 /s "$@" "$module"; }
# Prints a key and everything below it (LF line ends); fails when the key is missing.
query() { timeout 120 "$WINE_RUN" reg query "$1" /s 2>/dev/null | tr -d '\r'; }
# The value line NAME of the key's own values (before its first sub-key).
value() { awk -v n="$2" 'NR > 2 && /^HKEY/ { exit } $1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }' <<<"$1"; }

# Unregistering a module that is not registered succeeds and leaves nothing.
regsvr /u || fail "unregister before registering: exit $?"
query "$class_key" >/dev/null && fail "class key present before registering"

regsvr || fail "regsvr32: exit $?"
classes=$(query "$class_key") || fail "class key missing after registering"
server=$(query "$class_key\\InprocServer32") || fail "InprocServer32 missing"
instance=$(query "$instance_key") || fail "filter category entry missing"
[ "$(value "$classes" '(Default)')" = "Demmerly" ] || fail "class name: $(value "$classes" '(Default)')"
[ "$(value "$server" '(Default)')" = "$(wine_path "$module")" ] ||
  fail "module path: $(value "$server" '(Default)')"
[ "$(value "$server" ThreadingModel)" = "Both" ] || fail "threading model: $(value "$server" ThreadingModel)"
[ "$(value "$instance" FriendlyName)" = "Demmerly" ] || fail "friendly name: $(value "$instance" FriendlyName)"
[ "$(value "$instance" CLSID)" = "$clsid" ] || fail "category CLSID: $(value "$instance" CLSID)"
filter_data=$(value "$instance" FilterData)
# Version 2 records, merit MERIT_PREFERRED + 2, three pins.
[ "${filter_data:0:24}" = "020000000200800003000000" ] || fail "filter data: ${filter_data:0:40}"

# A second registration leaves the same single set.
regsvr || fail "second regsvr32: exit $?"
[ "$(query "$class_key")" = "$classes" ] || fail "class keys changed by a second registration"
[ "$(query "$instance_key")" = "$instance" ] || fail "category entry changed by a second registration"
count=$(query "HKCR\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance" | grep -ci "^HKEY.*\\\\$clsid\$" || true)
[ "$count" = 1 ] || fail "$count category entries"

regsvr /u || fail "regsvr32 /u: exit $?"
query "$class_key" >/dev/null && fail "class key left after unregistering"
query "$instance_key" >/dev/null && fail "category entry left after unregistering"

# Registered again, the graph test.
regsvr || fail "regsvr32 for the graph test: exit $?"
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
