#!/usr/bin/env bash
# host_runs_32bit.sh — exits 0 when this host's kernel runs 32-bit x86 programs (and so
# 32-bit Windows programs under wine), 1 when it does not. It runs a 93-byte i386 program
# that only exits; kernels without IA-32 emulation refuse it with ENOEXEC.
set -euo pipefail
probe=$(mktemp "${TMPDIR:-/tmp}/i386-probe.XXXXXX")
trap 'rm -f "$probe"' EXIT
base64 -d > "$probe" <<'ELF'
f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAhdAAAAXQAAAAUAAAAAEAAAuAEAAAAx282A
ELF
chmod +x "$probe"
"$probe" 2>/dev/null || exit 1
