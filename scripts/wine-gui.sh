#!/usr/bin/env bash
# wine-gui.sh start|stop|run PROGRAM.exe [ARGS...] — a Wine prefix for the dialog tests with
# a virtual X server of its own (Xvfb) and a font for the dialogs' Chinese labels.
#   start  starts Xvfb (the display number goes into the prefix folder), makes the prefix
#          and maps the dialog font "宋体" (SimSun) onto an installed CJK font
#   run    runs the program under wine-run.sh on that display, in that prefix
#   stop   ends the prefix's server and Xvfb
# The prefix is build-win64/wineprefix-gui (AVS_WINE_WIN32=1: build-win32/...). Its server
# and Wine's desktop process keep the display they started with, so all dialog tests share
# one X server rather than each bringing its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=build-win64
[ "${AVS_WINE_WIN32:-}" = 1 ] && build=build-win32
export WINEPREFIX=${AVS_WINE_GUI_PREFIX:-$root/$build/wineprefix-gui}
state=$WINEPREFIX.xvfb
server=/usr/lib/wine/wineserver
[ -x /usr/lib/wine/wineserver64 ] && [ ! -x "$server" ] && server=/usr/lib/wine/wineserver64

running() { [ -f "$state/pid" ] && kill -0 "$(cat "$state/pid")" 2>/dev/null; }

case "${1:-}" in
  start)
    mkdir -p "$state"
    exec 8>"$state.lock"
    flock 8
    if ! running; then
      rm -f "$state/display"
      # The server picks a free display and writes its number to fd 3.
      setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp \
        3>"$state/display" </dev/null >/dev/null 2>&1 8>&- &
      echo $! >"$state/pid"
      for _ in $(seq 100); do [ -s "$state/display" ] && break; sleep 0.1; done
      [ -s "$state/display" ] || { echo "wine-gui: Xvfb did not start" >&2; exit 1; }
      # A server from an earlier display would keep it: start afresh.
      "$server" -k 2>/dev/null || true
    fi
    export DISPLAY=:$(tr -d '\n' <"$state/display")
    # Wine finds the CJK fonts of the system through fontconfig; the dialogs ask for SimSun
    # by its Chinese name, which no Debian font carries, so both names are substituted.
    families=$(fc-list :lang=zh family | tr ',' '\n')
    font=
    for f in "WenQuanYi Micro Hei" "Noto Sans CJK SC" "WenQuanYi Zen Hei"; do
      if grep -qx "$f" <<<"$families"; then font=$f; break; fi
    done
    if [ -z "$font" ]; then
      echo "wine-gui: no CJK font installed (fonts-wqy-microhei)" >&2
      exit 1
    fi
    key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
    for name in "宋体" SimSun; do
      "$root/scripts/wine-run.sh" reg add "$key" /v "$name" /t REG_SZ /d "$font" /f \
        >/dev/null 2>&1 8>&-
    done
    # No window manager runs on the virtual display: Wine draws the captions itself.
    "$root/scripts/wine-run.sh" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ \
      /d N /f >/dev/null 2>&1 8>&-
    # A program that crashes ends at once with a backtrace on its standard error, rather than
    # waiting behind the crash dialog for a click that never comes on this display.
    "$root/scripts/wine-run.sh" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
      /t REG_DWORD /d 0 /f >/dev/null 2>&1 8>&-
    echo "wine-gui: display $DISPLAY, prefix $WINEPREFIX, 宋体 -> $font"
    ;;
  run)
    shift
    running || { echo "wine-gui: not started (wine-gui.sh start)" >&2; exit 1; }
    export DISPLAY=:$(tr -d '\n' <"$state/display")
    exec "$root/scripts/wine-run.sh" "$@"
    ;;
  stop)
    "$server" -k 2>/dev/null || true
    if running; then kill "$(cat "$state/pid")" 2>/dev/null || true; fi
    rm -rf "$state"
    ;;
  *) echo "usage: wine-gui.sh start|stop|run PROGRAM.exe [ARGS...]" >&2; exit 2 ;;
esac
