# Shared by the scripts that run a Linux program and its Windows build (under wine64) on
# the same inputs and insist on the same outputs, messages and exit codes.
#   LINUX_BIN  the Linux build's bin folder     WIN_BIN  the Windows build's bin folder
#   WINE_RUN   scripts/wine-run.sh
set -euo pipefail
: "${LINUX_BIN:?}" "${WIN_BIN:?}" "${WINE_RUN:?}"
work=$(mktemp -d "${TMPDIR:-/tmp}/windows-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0

# run_both NAME PROGRAM ARGS... — runs PROGRAM from both builds in fresh copies of the
# current inputs (in lin/ and win/) and compares exit code, stdout, stderr and every file
# left behind. The console of a Windows program ends lines with CRLF; that is the only
# difference allowed in the messages.
run_both() {
  local name=$1 program=$2
  shift 2
  rm -rf lin win
  mkdir lin win
  cp -a inputs/. lin/
  cp -a inputs/. win/
  local lin_code=0 win_code=0
  # A case that hangs (Wine's 32-bit parsers once did on a cut file) fails on its own
  # instead of holding the whole test until CTest's limit.
  local limit=${CASE_TIMEOUT:-180}
  (cd lin && timeout -k 10 "$limit" "$LINUX_BIN/$program" "$@" >../lin.out 2>../lin.err) ||
    lin_code=$?
  (cd win && timeout -k 10 "$limit" "$WINE_RUN" "$WIN_BIN/$program.exe" "$@" \
    >../win.out 2>../win.err) || win_code=$?
  # A script may bring both sides' files into a comparable form first.
  if declare -F normalize_outputs >/dev/null; then normalize_outputs lin win; fi
  tr -d '\r' <win.out >win.out.lf
  tr -d '\r' <win.err >win.err.lf
  # Where the system's own components speak too (Wine's parsers trying a file they refuse),
  # only the program's own lines are compared.
  if [ -n "${STDERR_FILTER:-}" ]; then
    grep -E "$STDERR_FILTER" lin.err >lin.err.own || true
    grep -E "$STDERR_FILTER" win.err.lf >win.err.own || true
    mv lin.err.own lin.err
    mv win.err.own win.err.lf
  fi
  local bad=()
  [ "$lin_code" != 124 ] || bad+=("the Linux run did not end within $limit s")
  [ "$win_code" != 124 ] || bad+=("the Windows run did not end within $limit s")
  [ "$lin_code" = "$win_code" ] || bad+=("exit code $lin_code on Linux, $win_code on Windows")
  cmp -s lin.out win.out.lf || bad+=("stdout differs: $(diff lin.out win.out.lf | head -3 | tr '\n' ' ' || true)")
  cmp -s lin.err win.err.lf || bad+=("stderr differs: $(diff lin.err win.err.lf | head -3 | tr '\n' ' ' || true)")
  local files
  files=$( (cd lin && find . -type f; cd ../win && find . -type f) | sort -u)
  for f in $files; do
    if [ ! -f "lin/$f" ] || [ ! -f "win/$f" ]; then
      bad+=("$f left by only one of them")
    elif ! cmp -s "lin/$f" "win/$f"; then
      bad+=("$f differs: $(cmp "lin/$f" "win/$f" 2>&1 | head -1 || true)")
    fi
  done
  if ((${#bad[@]})); then
    failures=$((failures + 1))
    echo "FAIL $name"
    printf '  %s\n' "${bad[@]}"
  else
    echo "ok   $name (exit $lin_code, $(wc -c <lin.err) bytes of messages)"
  fi
}

finish() {
  if ((failures)); then
    echo "$failures case(s) differ"
    exit 1
  fi
  echo "all cases match"
}
