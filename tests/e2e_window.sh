#!/usr/bin/env bash
# End to end in a real X server: start the window, type the three fields,
# press Enter, relay a connection through it, close it, check the stored
# file, start again and find the fields restored; then close a window whose
# engine waits on an open error box.
#   e2e_window.sh VELOTRUNK E2E_HELPER
# With VELOTRUNK_SCREENSHOTS=DIR it also saves the idle and the running
# window there. Exits 77 (skipped) when Xvfb or xdotool is missing.
set -euo pipefail
app=$1
helper=$2
shots=${VELOTRUNK_SCREENSHOTS:-}

command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "Xvfb or xdotool missing"; exit 77; }

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  [ -f "$work/app.log" ] && sed 's/^/  app: /' "$work/app.log" >&2
  exit 1
}

# Waits up to ten seconds for a command to succeed.
wait_for() {
  for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
  return 1
}

# A display number nobody uses.
display=""
for n in $(seq 91 191); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || fail "no free display number"
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for test -S "/tmp/.X11-unix/X$display" || fail "Xvfb did not start"

export DISPLAY=":$display" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
unset QT_SCALE_FACTOR WAYLAND_DISPLAY
mkdir -m 700 "$work/runtime"
store="$XDG_CONFIG_HOME/velotrunk/user.reg"

"$helper" echo >"$work/echo.port" &
pids+=($!)
wait_for test -s "$work/echo.port" || fail "echo server did not start"
server_port=$(cat "$work/echo.port")
listen_port=$("$helper" freeport)

start_window() {
  "$app" >"$work/app.log" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  window=$(timeout 20 xdotool search --sync --onlyvisible --name '^IP VeloTrunk$' | head -1) || fail "no window"
  sleep 0.5
}

close_window() {
  "$helper" close "$window"
  for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app_pid" 2>/dev/null && fail "the program did not end when its window closed"
  wait "$app_pid" || fail "the program ended with status $?"
}

# Clicks into a field (its centre, in window coordinates) and replaces its text.
type_field() {
  xdotool mousemove --window "$window" "$1" "$2" click 1
  xdotool key ctrl+a
  xdotool type --delay 20 "$3"
}

screenshot() {
  [ -n "$shots" ] || return 0
  xdotool mousemove 0 0
  sleep 0.3
  import -window "$window" "$shots/$1"
}

# First run: fill in the fields and start the relay with Enter.
start_window
[ -s "$store" ] || fail "the store was not created at the first show"
screenshot window-idle.png
type_field 188 26 "$listen_port"
type_field 188 62 "127.0.0.1"
type_field 188 98 "$server_port"
xdotool key Return
"$helper" roundtrip "$listen_port" "hello through the window" >/dev/null || fail "no relay through the window"
screenshot window-running.png
close_window

grep -qx "\"ip_Text\"=\"$listen_port\"" "$store" || fail "ip_Text not stored: $(cat "$store")"
grep -qx '"oip_Text"="127.0.0.1"' "$store" || fail "oip_Text not stored"
grep -qx "\"op_Text\"=\"$server_port\"" "$store" || fail "op_Text not stored"
grep -qx '"Visible"="0"' "$store" || fail "Visible not stored"

# Second run: the fields come back. Closing at once stores them again
# unchanged, which it could not do had they not been restored (the design
# texts would be stored instead).
start_window
close_window
grep -qx "\"ip_Text\"=\"$listen_port\"" "$store" || fail "ip_Text not restored"
grep -qx '"oip_Text"="127.0.0.1"' "$store" || fail "oip_Text not restored"
grep -qx "\"op_Text\"=\"$server_port\"" "$store" || fail "op_Text not restored"

# Third run: a port in use holds the engine in its bind error box; closing
# the window while that box is open still ends the program.
start_window
type_field 188 26 "$server_port"
xdotool key Return
timeout 20 xdotool search --sync --onlyvisible --name '^BIND TCP ERROR!!!$' >/dev/null || fail "no bind error box"
close_window
echo "PASS"
