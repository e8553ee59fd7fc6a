#!/usr/bin/env bash
# Runs a Windows program under Wine in an X server of its own, under a window
# manager (Openbox), so that it can open windows:
#   wine_display.sh WINE PROGRAM [ARGS...]
# WINEPREFIX names a prefix kept for programs with windows: Wine chooses a
# prefix's display when its desktop starts, and a prefix started without
# one (as for the tests without windows) cannot open windows until all its
# programs have ended. The prefix is made on first use. Exits 77 (skipped)
# when Xvfb or Openbox is missing, outside CI.
wine=$1
shift
. "$(dirname "$0")/lib.sh"
need Xvfb openbox
start_wine_desktop "$wine"
"$wine" "$@"
