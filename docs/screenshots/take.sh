#!/usr/bin/env bash
# Takes the screenshots of Ostrander's three dialogs under a virtual X server.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --build build --target ostrander_screenshots >/dev/null
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" build/tests/ostrander_screenshots docs/screenshots
