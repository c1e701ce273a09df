#!/usr/bin/env bash
# Ostrander.exe under Wine with stand-in children: the command lines it passes them, character
# for character with Windows paths (blanks in folder and file names, a name outside the ANSI
# code page), the files of each run left and removed, and a missing encoder or multiplexer.
#   WIN_BIN, WIN_TESTS (ostrander_stand_in.exe), GUI_RUN (scripts/wine-gui.sh) from the
#   environment.
set -euo pipefail
: "${WIN_BIN:?}" "${WIN_TESTS:?}" "${GUI_RUN:?}"
work=$(mktemp -d "${TMPDIR:-/tmp}/windows-ostrander.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

start="$work/start dir"
mkdir -p "$start" "$work/my clips" "$work/v" "$work/out dir"
for p in Harrowgate Quenby Lindqvale Korvel; do cp "$WIN_TESTS/ostrander_stand_in.exe" "$start/$p.exe"; done
cp "$WIN_BIN/Ostrander.exe" "$start/"
: >"$work/my clips/clip one.avi"
: >"$work/v/b.avi"
: >"$work/v/片头.avi"
S=$(winpath "$start")
A=$(winpath "$work/my clips/clip one.avi")
B=$(winpath "$work/v/b.avi")
C=$(winpath "$work/v/片头.avi")
O=$(winpath "$work/out dir")
opts=" -c 1 -p 1 -g 18 -q 24 -b 2 -a 0 -f 3 -o 0 -m 32 -t 1 -l 1 -n 24.000000"

run() {  # run NAME EXPECTED_CODE ARGS... — Ostrander.exe from the start directory
  local name=$1 want=$2 code=0
  shift 2
  rm -f "$start/command_lines.txt"
  (cd "$start" && timeout 300 "$GUI_RUN" run Ostrander.exe "$@" >"$work/out.txt" 2>"$work/err.txt") || code=$?
  [ "$code" = "$want" ] || fail "$name: exit code $code, not $want ($(head -3 "$work/err.txt" | tr '\n' ' '))"
}

expect_lines() {  # expect_lines NAME LINE...
  local name=$1
  shift
  printf '%s\n' "$@" >"$work/want.txt"
  touch "$start/command_lines.txt"
  if cmp -s "$work/want.txt" "$start/command_lines.txt"; then
    echo "ok   $name: $# command lines"
  else
    fail "$name: command lines differ"
    diff "$work/want.txt" "$start/command_lines.txt" | head -20 || true
  fi
}

expect_files() {  # expect_files NAME PRESENT|ABSENT PATH...
  local name=$1 kind=$2
  shift 2
  for f in "$@"; do
    if [ "$kind" = PRESENT ] && [ ! -f "$f" ]; then fail "$name: $f missing"; fi
    if [ "$kind" = ABSENT ] && [ -e "$f" ]; then fail "$name: $f left behind"; fi
  done
}

# Transport streams beside each source, in the list's sorted order whatever the order given.
run "ts beside the sources" 0 --convert-ts "$C" "$B" "$A" "$B"
expect_lines "ts beside the sources" \
  "\"$S\\Harrowgate.exe\" \"$A\" \"$A.avs\" $opts" \
  "\"$S\\Quenby.exe\" \"$A\" \"$A.mp3\"" \
  "\"$S\\Korvel.exe\" \"$A.avs\" \"$A.mp3\" \"$A.dat\" \"$A.avsts\"" \
  "\"$S\\Harrowgate.exe\" \"$B\" \"$B.avs\" $opts" \
  "\"$S\\Quenby.exe\" \"$B\" \"$B.mp3\"" \
  "\"$S\\Korvel.exe\" \"$B.avs\" \"$B.mp3\" \"$B.dat\" \"$B.avsts\"" \
  "\"$S\\Harrowgate.exe\" \"$C\" \"$C.avs\" $opts" \
  "\"$S\\Quenby.exe\" \"$C\" \"$C.mp3\"" \
  "\"$S\\Korvel.exe\" \"$C.avs\" \"$C.mp3\" \"$C.dat\" \"$C.avsts\""
for src in "$work/my clips/clip one.avi" "$work/v/b.avi" "$work/v/片头.avi"; do
  expect_files "ts beside the sources" PRESENT "$src.avsts"
  expect_files "ts beside the sources" ABSENT "$src.avs" "$src.mp3" "$src.dat"
done

# Containers in an output folder; an earlier container of the same base is removed first.
echo old >"$work/out dir/b.avi.asm"
run "asm into a folder" 0 --convert-asm --output "$O" "$B" "$A"
OA="$O\\clip one.avi"
OB="$O\\b.avi"
expect_lines "asm into a folder" \
  "\"$S\\Harrowgate.exe\" \"$A\" \"$OA.avs\" $opts" \
  "\"$S\\Quenby.exe\" \"$A\" \"$OA.mp3\"" \
  "\"$S\\Lindqvale.exe\" \"$OA.avs\" \"$OA.asm\" -f" \
  "\"$S\\Lindqvale.exe\" \"$OA.mp3\" \"$OA.asm\"" \
  "\"$S\\Harrowgate.exe\" \"$B\" \"$OB.avs\" $opts" \
  "\"$S\\Quenby.exe\" \"$B\" \"$OB.mp3\"" \
  "\"$S\\Lindqvale.exe\" \"$OB.avs\" \"$OB.asm\" -f" \
  "\"$S\\Lindqvale.exe\" \"$OB.mp3\" \"$OB.asm\""
want_asm=$(printf 'asm part %s\nasm part %s' "$OB.avs" "$OB.mp3")
[ "$(cat "$work/out dir/b.avi.asm")" = "$want_asm" ] || fail "asm into a folder: b.avi.asm is '$(cat "$work/out dir/b.avi.asm")'"
expect_files "asm into a folder" ABSENT "$work/out dir/clip one.avi.avs" "$work/out dir/clip one.avi.mp3" \
  "$work/out dir/clip one.avi.dat" "$work/out dir/b.avi.avs"

# A missing multiplexer is passed over without a word; a missing encoder ends the program.
mv "$start/Korvel.exe" "$start/Korvel.off"
run "no Korvel.exe" 0 --convert-ts "$B"
[ -s "$work/err.txt" ] && fail "no Korvel.exe: messages: $(cat "$work/err.txt")"
[ "$(wc -l <"$start/command_lines.txt")" = 2 ] || fail "no Korvel.exe: $(wc -l <"$start/command_lines.txt") children ran"
mv "$start/Korvel.off" "$start/Korvel.exe"
mv "$start/Harrowgate.exe" "$start/Harrowgate.off"
run "no Harrowgate.exe" 1 --convert-ts "$B"
grep -qx "Ostrander: Create Process failed!" <(tr -d '\r' <"$work/err.txt") ||
  fail "no Harrowgate.exe: stderr is '$(cat "$work/err.txt")'"
mv "$start/Harrowgate.off" "$start/Harrowgate.exe"

# An empty list and conflicting options.
run "empty list" 1 --convert-ts
grep -qx "Ostrander: Please Open Media File(s)!" <(tr -d '\r' <"$work/err.txt") ||
  fail "empty list: stderr is '$(cat "$work/err.txt")'"
run "both conversions" 2 --convert-ts --convert-asm "$B"

if ((failures)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "all Ostrander.exe command-line cases pass"
