#!/usr/bin/env bash
# The main job on a built-in example: set-up, release build, then the demo run.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
scripts/build.sh release
exec scripts/main_job.sh "$@"
