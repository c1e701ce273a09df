#!/usr/bin/env bash
# fuzz.sh [MINUTES] [TARGET...] — builds the fuzz targets of the sanitizer build
# (build-san/, configured as `build.sh san` does) and runs each for MINUTES
# (default 10; a fraction is fine: 0.2 is 12 seconds) under AddressSanitizer and
# UBSan, starting from its seed corpus in the repository, as its ctest command
# does. Without TARGET every fuzz target runs, one after the other. Prints per
# target the executions, the coverage reached and the findings; a finding's
# input is kept in build-san/fuzz/TARGET.findings/. Exits 1 when a target found
# something.
#   JOBS=N  build jobs (default 2: fuzzing is for a shared machine's spare time)
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-10}
[ $# -gt 0 ] && shift
if ! [[ "$minutes" =~ ^[0-9]*\.?[0-9]+$ ]]; then
  echo "usage: fuzz.sh [MINUTES] [TARGET...]" >&2
  exit 2
fi
seconds=$(awk -v m="$minutes" 'BEGIN { s = int(m * 60 + 0.5); print s < 1 ? 1 : s }')

names=("$@")
targets="${names[*]}"
JOBS=${JOBS:-2} TARGETS="${targets:-fuzz_targets}" scripts/build.sh san

# Each target's command as ctest runs it: the binary, its options and corpora.
commands=$(ctest --test-dir build-san --show-only=json-v1 -L fuzz | python3 -c '
import json, sys
wanted = set(sys.argv[1:])
for t in json.load(sys.stdin)["tests"]:
    if not wanted or t["name"] in wanted:
        print("\t".join([t["name"]] + t["command"]))
' "${names[@]}")
if [ -z "$commands" ]; then
  echo "fuzz.sh: no fuzz target matches: ${targets:-any}" >&2
  exit 2
fi

status=0
summary=()
while IFS=$'\t' read -r -a cmd; do
  name=${cmd[0]}
  findings=build-san/fuzz/$name.findings
  log=build-san/fuzz/$name.log
  mkdir -p "$findings"
  args=()
  for a in "${cmd[@]:2}"; do
    [[ "$a" == -max_total_time=* ]] || args+=("$a")
  done
  echo "== $name: $seconds s"
  # A finding ends the run with a non-zero status; that is reported, not fatal.
  "${cmd[1]}" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$findings/" "${args[@]}" >"$log" 2>&1 || true
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  found=$(find "$findings" -type f | wc -l)
  line="$name: ${execs:-?} executions, coverage ${cov:-?} edges (${ft:-?} features), $found findings"
  if [ "$found" -gt 0 ]; then
    status=1
    line+=" in $findings/"
    grep -m1 -E '^(==[0-9]+==ERROR|SUMMARY):' "$log" || true
  elif [ -z "$execs" ]; then
    status=1
    line+="; the run did not finish, see $log"
  fi
  echo "$line"
  summary+=("$line")
done <<<"$commands"

echo "== fuzz summary ($seconds s per target)"
printf '%s\n' "${summary[@]}"
exit $status
