#!/usr/bin/env bash
# check_naming.sh [--fix] [BUILD_DIR] — fails when a name in the project's own code breaks the
# naming rule in .clang-tidy; --fix renames what the rule can rename, declarations and uses.
# Needs the build tree's compile_commands.json (the release build's by default). Code shaped
# after an outside API keeps that API's names and is not checked: the DirectShow SDK (the
# filters, their base classes, the COM layer, rtspstream's filter half), the Win32 waits of
# platform/sync, the BladeEnc exports of lame_enc and GObject (the GStreamer elements).
set -euo pipefail
cd "$(dirname "$0")/.."
fix=
if [ "${1:-}" = --fix ]; then fix=1; shift; fi
build=${1:-build}
checked='((avs|mux|mp4|rtsp|mp3encoder|frontend|tools|bench|platform/(clock|files|module|net|process)'
checked+='|tests/(avs|mux|mp4|rtsp|rtspstream|mp3encoder|frontend|tools|wholeset|fuzz'
checked+='|platform/(net|process|lame_enc|support)))/|platform/lame_enc/src/lame_'
checked+='|rtspstream/(trace|media_table|control_urls|stream_formats|time_line|frame_assembler'
checked+='|rtsp_client_session|sample_queue|bitrate_log)\.)'
jobs=$(nproc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The release tree compiles most files; the fuzz targets are compiled only in the sanitizer
# tree and the Win32 bodies only in the Windows trees, so their entries are added from there
# (configured here when missing; nothing is built). clang reads the Win32 files as mingw-w64.
[ -f build-san/compile_commands.json ] || scripts/build.sh san-configure
[ -f build-win64/compile_commands.json ] || scripts/build.sh win64-configure
python3 - "$build" "$checked" "$work" <<'PY'
import json, os, re, shlex, subprocess, sys
build, checked, work = sys.argv[1:]
root = os.getcwd() + "/"
def entries(tree):
    for e in json.load(open(os.path.join(tree, "compile_commands.json"))):
        path = os.path.normpath(os.path.join(e["directory"], e["file"]))
        rel = path[len(root):] if path.startswith(root) else ""
        if rel and not rel.startswith(("build", "_deps")) and rel.endswith((".cpp", ".c")):
            yield path, e
merged = {}
for path, e in entries(build):
    merged.setdefault(path, e)
for path, e in entries("build-san"):
    merged.setdefault(path, e)
probe = subprocess.run(["x86_64-w64-mingw32-g++-posix", "-E", "-x", "c++", "-", "-v"],
                       input="", capture_output=True, text=True).stderr
dirs = probe.split("#include <...> search starts here:")[1].split("End of search")[0].split()
mingw = ["--target=x86_64-w64-mingw32"] + [a for d in dirs if "include-fixed" not in d
                                           and not d.endswith("-posix/include")
                                           for a in ("-isystem", d)]
for path, e in entries("build-win64"):
    if path not in merged:
        args = shlex.split(e["command"])
        e = dict(e, command=shlex.join(["clang++"] + mingw + args[1:]))
        merged[path] = e
json.dump(list(merged.values()), open(os.path.join(work, "compile_commands.json"), "w"))
# Every compiled file is read when renaming, so that uses in the unchecked code follow;
# only names declared in checked files are reported or renamed.
rel = lambda p: p[len(root):]
open(os.path.join(work, "all"), "w").write("".join(p + "\n" for p in sorted(merged)))
open(os.path.join(work, "checked"), "w").write(
    "".join(p + "\n" for p in sorted(merged) if re.match(checked, rel(p))))
tracked = subprocess.run(["git", "ls-files", "*.cpp", "*.c", "*.h"], capture_output=True,
                         text=True, check=True).stdout.split()
json.dump([{"name": root + f} for f in tracked if re.match(checked, f)],
          open(os.path.join(work, "line_filter.json"), "w"))
PY
mapfile -t files <"$work/checked"
# Compiler warnings are the build's business (-Werror there); here only names count.
tidy=(clang-tidy -p "$work" --quiet --extra-arg=-w --header-filter="^$PWD/$checked")
if [ -n "$fix" ]; then
  n=0
  tidy+=(--line-filter="$(cat "$work/line_filter.json")")
  mapfile -t all <"$work/all"
  for f in "${all[@]}"; do
    n=$((n + 1))
    printf '%s\0%s\0' "$f" "$work/$n.yaml"
  done | xargs -0 -P "$jobs" -n 2 bash -c \
    'a=("$@"); n=$#; "${a[@]:0:n-2}" "${a[n-2]}" --export-fixes="${a[n-1]}" >/dev/null 2>&1 || true' \
    _ "${tidy[@]}"
  clang-apply-replacements "$work"
  echo "naming: renamed what the rule could; run again without --fix to see what is left"
  exit 0
fi
log=$work/log
if ! printf '%s\n' "${files[@]}" | xargs -P "$jobs" -n 8 "${tidy[@]}" >"$log" 2>/dev/null; then
  grep -E 'error:|warning:' "$log" | sort -u >&2 || cat "$log" >&2
  echo "naming: names above break the rule in .clang-tidy" >&2
  exit 1
fi
echo "naming: ${#files[@]} files follow the rule in .clang-tidy"
