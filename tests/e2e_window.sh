#!/usr/bin/env bash
# End to end in a real X server, as a user meets the program:
#   e2e_window.sh VELOTRUNK E2E_HELPER [openbox]
# With "openbox" a real window manager frames the window (title bar and
# borders), which is what makes a saved position and a restored one differ
# if the two do not mean the same corner.
#
#  - without a display: one line, exit status 1;
#  - first run: nothing is written at start-up; the fields are typed, Enter
#    starts the relay, a connection goes through it; the close stores the
#    fields, and the window was centred (its frame, where there is one);
#  - the window closed and reopened again and again stays where it was;
#  - a port held by another socket: the engine's two boxes, closed, give the
#    window back; the port freed, Enter starts the relay without a restart;
#  - `localhost` and the relay's own port are refused with the error box;
#  - SIGTERM (a session's logout) ends the program with status 0 and keeps
#    what was typed; started by nohup, it lives on after SIGHUP;
#  - a store it cannot write: SIGTERM ends it at once, the failure told on
#    stderr; the user's close shows the failure in one box, once;
#  - closing the window while the engine's bind box is open ends the program.
# With VELOTRUNK_SCREENSHOTS=DIR it also saves the idle and the running
# window there. Exits 77 (skipped) when Xvfb, xdotool or the window manager
# is missing, outside CI.
app=$1
helper=$2
wm=${3:-}
shots=${VELOTRUNK_SCREENSHOTS:-}
. "$(dirname "$0")/lib.sh"
on_fail() { [ -f "$work/app.log" ] && sed 's/^/  app: /' "$work/app.log"; }

# Without a display the window cannot open: one clear line and status 1,
# not Qt's abort.
status=0
message=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$app" 2>&1) || status=$?
[ "$status" -eq 1 ] || fail "without a display the program ended with status $status: $message"
[ "$(printf '%s\n' "$message" | wc -l)" -eq 1 ] && [[ $message == *velotrunk-relay* ]] ||
  fail "without a display the program said: $message"

need Xvfb xdotool $wm

start_xvfb
export QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
unset QT_SCALE_FACTOR WAYLAND_DISPLAY
mkdir -m 700 "$work/runtime"
store="$XDG_CONFIG_HOME/velotrunk/user.reg"

if [ -n "$wm" ]; then
  "$wm" >"$work/wm.log" 2>&1 &
  track $!
  wait_for "$helper" wm || fail "$wm did not start"
fi

"$helper" echo >"$work/echo.port" &
track $!
wait_for test -s "$work/echo.port" || fail "echo server did not start"
server_port=$(cat "$work/echo.port")
listen_port=$("$helper" freeport)

# The store, a UTF-16 registry export, as UTF-8 text with LF line ends.
stored() {
  [ -s "$store" ] || return 0
  iconv -f UTF-16 -t UTF-8 "$store" | tr -d '\r'
}
expect_stored() {
  stored | grep -qxF "$1" || fail "$1 not stored: $(stored)"
}

# Starts the program, by way of the command given if any (nohup).
start_window() {
  "$@" "$app" >"$work/app.log" 2>&1 &
  app_pid=$!
  track "$app_pid"
  window=$(timeout "$guard_seconds" xdotool search --sync --onlyvisible --name '^IP VeloTrunk$' | head -1) ||
    fail "no window"
  # A window manager places and focuses the window it frames: it is ready
  # for the pointer and the keys once it has the focus.
  [ -z "$wm" ] || wait_for has_focus || fail "the window never got the focus"
}
has_focus() { [ "$(xdotool getwindowfocus -f 2>/dev/null)" = "$window" ]; }

wait_for_end() {
  wait_for eval "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end $1"
  local status=0
  wait "$app_pid" || status=$?
  [ "$status" -eq 0 ] || fail "the program ended with status $status $1"
}

close_window() {
  "$helper" close "$window"
  wait_for_end "when its window closed"
}

# Waits for a box with the caption and closes it as its close button would.
close_box() {
  local box
  box=$(timeout "$guard_seconds" xdotool search --sync --onlyvisible --name "^$1\$" | head -1) ||
    fail "no box \"$1\""
  "$helper" close "$box"
  wait_for sh -c "! xdotool search --onlyvisible --name '^$1\$' >/dev/null" || fail "box \"$1\" did not close"
}

# Clicks into a field (its centre, in window coordinates) and replaces its text.
type_field() {
  xdotool mousemove --window "$window" "$1" "$2" click 1
  xdotool key ctrl+a
  xdotool type --delay 20 "$3"
}
fill_fields() {
  type_field 188 26 "$1"
  type_field 188 62 "$2"
  type_field 188 98 "$3"
}

# Saves the window once the pointer has left it and it has repainted: two
# captures in a row alike.
screenshot() {
  [ -n "$shots" ] || return 0
  xdotool mousemove 0 0
  import -window "$window" -define png:exclude-chunks=date,time "$work/shot.png"
  settled() {
    mv "$work/shot.png" "$work/before.png"
    import -window "$window" -define png:exclude-chunks=date,time "$work/shot.png"
    cmp -s "$work/before.png" "$work/shot.png"
  }
  wait_for settled || fail "the window kept changing"
  mv "$work/shot.png" "$shots/$1"
}

# First run: nothing is written before the window closes.
start_window
[ -e "$store" ] && fail "the store was written at start-up: $(stored)"
screenshot window-idle.png
fill_fields "$listen_port" 127.0.0.1 "$server_port"
xdotool key Return
"$helper" roundtrip "$listen_port" "hello through the window" >/dev/null || fail "no relay through the window"
screenshot window-running.png
close_window
[ "$(head -c 4 "$store" | od -An -tx1 | tr -d ' \n')" = fffe5700 ] || fail "the store is not a UTF-16 export"
expect_stored 'Windows Registry Editor Version 5.00'
expect_stored "\"ip_Text\"=\"$listen_port\""
expect_stored '"oip_Text"="127.0.0.1"'
expect_stored "\"op_Text\"=\"$server_port\""
expect_stored '"Visible"="0"'
# The first start centres the frame (the whole window) on the 1024x768 screen.
IFS=, read -r left top right bottom < <(stored | sed -n 's/^"NormPos"="\(.*\)"$/\1/p')
[ "$left" -eq $(((1024 - (right - left)) / 2)) ] && [ "$top" -eq $(((768 - (bottom - top)) / 2)) ] ||
  fail "the first start did not centre the window: NormPos $left,$top,$right,$bottom"

# Closed and reopened, the window stays where it was, and the fields come
# back (closing at once stores them again unchanged, which it could not do
# had they not been restored).
cycles=3
[ -n "$wm" ] && cycles=10
first_position="" first_normal=""
for cycle in $(seq "$cycles"); do
  start_window
  position=$("$helper" position "$window")
  close_window
  normal=$(stored | grep '^"NormPos"=')
  first_position=${first_position:-$position} first_normal=${first_normal:-$normal}
  [ "$position" = "$first_position" ] || fail "reopen $cycle: the window moved from $first_position to $position"
  [ "$normal" = "$first_normal" ] || fail "reopen $cycle: the stored position moved from $first_normal to $normal"
done
expect_stored "\"ip_Text\"=\"$listen_port\""
expect_stored '"oip_Text"="127.0.0.1"'
expect_stored "\"op_Text\"=\"$server_port\""

# A port held by another socket: the engine's boxes; once they are closed the
# window is idle again, and with the port freed Enter starts the relay.
"$helper" echo >"$work/holder.port" &
holder_pid=$!
track "$holder_pid"
wait_for test -s "$work/holder.port" || fail "the port holder did not start"
held_port=$(cat "$work/holder.port")
start_window
fill_fields "$held_port" 127.0.0.1 "$server_port"
xdotool key Return
close_box 'BIND TCP ERROR!!!'
close_box 'ERROR!!!'
kill "$holder_pid"
wait "$holder_pid" 2>/dev/null || true
xdotool mousemove --window "$window" 188 26 click 1
xdotool key Return
"$helper" roundtrip "$held_port" "after a retry" >/dev/null || fail "no relay after the port was freed"

# Addresses that can never work, and the relay's own port: the error box, and
# the window stays idle (the corrected address then starts the relay).
close_window
start_window
fill_fields "$listen_port" localhost "$server_port"
xdotool key Return
close_box Error
fill_fields "$listen_port" 127.0.0.1 "$listen_port"
xdotool key Return
close_box Error
fill_fields "$listen_port" 127.0.0.1 "$server_port"
xdotool key Return
"$helper" roundtrip "$listen_port" "after a correction" >/dev/null || fail "no relay after the address was corrected"
close_window

# SIGTERM, as a session sends at logout: a normal end that keeps the fields.
start_window
fill_fields 4321 127.0.0.2 8765
kill -TERM "$app_pid"
wait_for_end "after SIGTERM"
expect_stored '"ip_Text"="4321"'
expect_stored '"oip_Text"="127.0.0.2"'
expect_stored '"op_Text"="8765"'

# Started by nohup, which ignores SIGHUP: a SIGHUP (its terminal closing)
# leaves it running; what is typed afterwards is kept at the SIGTERM.
start_window nohup
kill -HUP "$app_pid"
fill_fields 4322 127.0.0.3 8766
kill -TERM "$app_pid"
wait_for_end "after SIGHUP (ignored by nohup) and SIGTERM"
expect_stored '"ip_Text"="4322"'
expect_stored '"oip_Text"="127.0.0.3"'

# A store that cannot be written: its folder would lie under a regular file
# (a read-only folder would not stop root). At SIGTERM nobody may be there to
# answer a box: the failure goes to stderr and the program ends. When the
# user closes the window, one box tells it, once.
touch "$work/a-file"
XDG_CONFIG_HOME="$work/a-file/config" start_window
kill -TERM "$app_pid"
wait_for_end "after SIGTERM with a store it cannot write"
grep -q "Failed to" "$work/app.log" || fail "the failed save was not told on stderr"
XDG_CONFIG_HOME="$work/a-file/config" start_window
"$helper" close "$window"
close_box Velotrunk
wait_for_end "after the one box of its failed save"
! grep -q "Failed to" "$work/app.log" || fail "the failed save was tried again at the end"

# A port in use holds the engine in its bind error box; closing the window
# while that box is open still ends the program.
start_window
fill_fields "$server_port" 127.0.0.1 "$listen_port"
xdotool key Return
timeout "$guard_seconds" xdotool search --sync --onlyvisible --name '^BIND TCP ERROR!!!$' >/dev/null ||
  fail "no bind error box"
close_window
echo "PASS"
