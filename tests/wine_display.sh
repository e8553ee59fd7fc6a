#!/usr/bin/env bash
# Runs a Windows program under Wine in an X server of its own, under a window
# manager (Openbox) when there is one, so that it can open windows:
#   wine_display.sh WINE PROGRAM [ARGS...]
# WINEPREFIX names a prefix kept for programs with windows: Wine chooses a
# prefix's display when its desktop starts, and a prefix started without
# one (as for the tests without windows) cannot open windows until all its
# programs have ended. The prefix is made on first use. Exits 77 (skipped)
# when Xvfb is missing.
set -euo pipefail
wine=$1
shift
: "${WINEPREFIX:?WINEPREFIX is not set}"
command -v Xvfb >/dev/null || { echo "Xvfb missing"; exit 77; }
work=$(mktemp -d)
xvfb=
wm=
cleanup() {
  # The prefix's programs (its desktop among them) end before their display.
  timeout 30 "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
  for pid in $wm $xvfb; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
# Xvfb picks a free display number itself and writes it to descriptor 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$(cat "$work/display")" WINEDEBUG=${WINEDEBUG:--all}
# Without a window manager Wine waits two seconds for one at every window
# it hides.
if command -v openbox >/dev/null; then
  openbox >"$work/wm.log" 2>&1 &
  wm=$!
fi
[ -f "$WINEPREFIX/system.reg" ] || "$(dirname "$wine")/wineboot" -i >/dev/null 2>&1
"$wine" "$@"
