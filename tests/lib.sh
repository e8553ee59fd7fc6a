# What the shell tests share; sourced, never run. It sets up:
#   work         a temporary folder of the test's own, removed at exit
#   started      the PIDs of what the test started (track PID), ended at exit
#                in reverse order; a test that must do more once they have
#                ended defines after_cleanup
#   fail MSG     says FAIL (and calls the test's on_fail, if it has one, for
#                logs) and ends the test with status 1
#   wait_for CMD runs CMD until it succeeds; false once guard_seconds pass
#   need TOOL... skips the test (status 77) when a tool is missing; under
#                CI=true, where every package is installed, that fails it
#   start_xvfb   an X server of the test's own on a free display; exports DISPLAY
#   start_wine_desktop WINE
#                that, with Openbox, for programs under Wine in WINEPREFIX
#                (the prefix is made on first use); at exit the prefix's
#                programs end before their display
set -euo pipefail

# Only a guard against a hang: every wait ends as soon as its condition
# holds, and a busy machine must never reach it.
guard_seconds=30

work=$(mktemp -d)
started=()
track() { started+=("$1"); }
wine_desktop=""  # with start_wine_desktop: how many of started are its display and window manager
end_started() {
  local i
  for ((i = ${#started[@]} - 1; i >= $1; i--)); do kill "${started[i]}" 2>/dev/null || true; done
}
cleanup() {
  if [ -n "$wine_desktop" ]; then
    end_started "$wine_desktop"
    timeout "$guard_seconds" "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
  fi
  end_started 0
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null || true; done
  if declare -F after_cleanup >/dev/null; then after_cleanup || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if declare -F on_fail >/dev/null; then on_fail >&2 || true; fi
  exit 1
}

wait_for() {
  local deadline=$((SECONDS + guard_seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null && continue
    [ "${CI:-}" != true ] || fail "$tool is missing, and under CI every package is installed"
    echo "SKIPPED: $tool is missing (scripts/setup-packages --test installs it)"
    exit 77
  done
}

start_xvfb() {
  # Xvfb picks a free display number itself and writes it to descriptor 3.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  track $!
  wait_for test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=":$(cat "$work/display")"
}

start_wine_desktop() {
  wine=$1
  : "${WINEPREFIX:?WINEPREFIX is not set}"
  export WINEDEBUG=${WINEDEBUG:--all}
  start_xvfb
  # Without a window manager Wine waits two seconds for one at every window
  # it hides.
  openbox >"$work/wm.log" 2>&1 &
  track $!
  wine_desktop=${#started[@]}
  [ -f "$WINEPREFIX/system.reg" ] || "$(dirname "$wine")/wineboot" -i >/dev/null 2>&1
}
