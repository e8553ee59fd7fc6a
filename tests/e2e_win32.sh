#!/usr/bin/env bash
# End to end under Wine in a real X server with a real window manager
# (Openbox), as a user meets velotrunk.exe:
#   e2e_win32.sh WINE VELOTRUNK_EXE HELPER_EXE
# (WINEPREFIX in the environment: a prefix kept for programs with windows,
# see wine_display.sh; made on first use.) The fields are typed, Enter starts the
# relay and a loopback connection goes through it; the window is moved and
# closed through the window manager; Wine's registry then holds the twelve
# values; the default button keeps its frame after Tab into a field; a port
# of 0 shows the error box in Russian, modal to the window (a second click
# makes no second box); the program opened again stands where it was closed, and Enter
# relays on the stored ports. With VELOTRUNK_SCREENSHOTS=DIR it saves the
# idle window there as window-win32.png. Exits 77 (skipped) when Xvfb,
# xdotool or openbox is missing, outside CI.
wine=$1
app=$2
helper=$3
shots=${VELOTRUNK_SCREENSHOTS:-}
. "$(dirname "$0")/lib.sh"
on_fail() { [ -f "$work/app.log" ] && sed 's/^/  app: /' "$work/app.log"; }
need Xvfb xdotool openbox
start_wine_desktop "$wine"

"$wine" reg delete 'HKCU\Dorwen' /f >/dev/null 2>&1 || true
"$wine" "$helper" echo >"$work/echo.port" 2>/dev/null &
track $!
wait_for test -s "$work/echo.port" || fail "echo server did not start"
server_port=$(tr -d '\r' <"$work/echo.port")
listen_port=$("$wine" "$helper" freeport | tr -d '\r')

# Starts the program and waits for its window; sets app_pid and window.
open_window() {
  "$wine" "$app" >"$work/app.log" 2>&1 &
  app_pid=$!
  track "$app_pid"
  wait_for xdotool search --name '^IP VeloTrunk$' >/dev/null || fail "the window did not open"
  window=$(xdotool search --name '^IP VeloTrunk$' | head -1)
  wait_for xdotool windowactivate --sync "$window" 2>/dev/null || fail "the window never got the focus"
}
# Replaces the text of the field whose top-left corner is at x, y.
type_field() {
  xdotool mousemove --window "$window" $(($1 + 10)) $(($2 + 10)) click 1
  xdotool key --clearmodifiers End shift+Home BackSpace
  xdotool type --delay 20 "$3"
}
position() { xdotool getwindowgeometry "$window" | awk '/Position/ { print $2 }'; }
close_window() {
  xdotool key --clearmodifiers alt+F4
  wait_for eval "! kill -0 $app_pid 2>/dev/null" || fail "the window did not close"
}

# The window's pixels as ImageMagick's FORMAT prints them: fx conditions (0
# or 1) or hexadecimal colours (%[hex:p{X,Y}]).
pixels() {
  import -window "$window" "$work/shot.png" && convert "$work/shot.png" -format "$1" info:
}
# The button's dotted focus rectangle (shown, or 0: not shown), the selection
# in the first field, and the button's two outer rings at its left and top
# (the default button's frame draws both in one colour, a plain one only the
# outer).
button_focus_rect() { [ "$(pixels '%[fx:p{205,123}.intensity<0.3]')" = "${1:-1}" ]; }
first_field_selected() { [ "$(pixels '%[fx:p{134,26}.b-p{134,26}.r>0.3]')" = 1 ]; }
button_rings() { pixels '%[hex:p{168,132}] %[hex:p{169,132}] %[hex:p{205,120}] %[hex:p{205,121}]'; }
no_error_box() { ! xdotool search --name '^Error$' >/dev/null; }

open_window
[ -z "$shots" ] || import -window "$window" "$shots/window-win32.png"

# Tab from the focused button into the first field: the button keeps its
# default frame.
wait_for button_focus_rect || fail "the button has no focus at the start"
focused_rings=$(button_rings)
read -r outer inner _ <<<"$focused_rings"
[ "$outer" = "$inner" ] || fail "the focused default button has no double frame: $focused_rings"
xdotool key --clearmodifiers Tab
wait_for first_field_selected || fail "Tab did not select the first field"
wait_for button_focus_rect 0 || fail "the button kept its focus rectangle"
[ "$(button_rings)" = "$focused_rings" ] || fail "the default frame went with Tab: $(button_rings), was $focused_rings"

# A port of 0: the error box, in Russian, modal to the window. A click on
# the button while it is open makes no second box: Enter then closes the
# only one.
type_field 128 16 0
xdotool key --clearmodifiers Return
wait_for xdotool search --name '^Error$' >/dev/null || fail "no error box"
box=$("$wine" "$helper" box Error | tr -d '\r')
[ "$box" = $'Неверно указаны параметры или порт используется!\nIP VeloTrunk' ] || fail "the box shows: $box"
xdotool mousemove --window "$window" 200 132 click 1
xdotool key --clearmodifiers Return
wait_for no_error_box || fail "a second error box opened"
type_field 128 16 "$listen_port"
type_field 128 52 "127.0.0.1"
type_field 128 88 "$server_port"
xdotool key --clearmodifiers Return
"$wine" "$helper" roundtrip "$listen_port" "through velotrunk.exe" >/dev/null || fail "no relay after Enter"
before=$(position)
xdotool windowmove "$window" 120 90
moved_away() { [ "$(position)" != "$before" ]; }
wait_for moved_away || fail "the window did not move from $before"
moved=$(position)
close_window

values=$("$wine" reg query 'HKCU\Dorwen\Velotrunk' | tr -d '\r')
count=$(grep -c 'REG_SZ' <<<"$values" || true)
[ "$count" -eq 12 ] || fail "the registry holds $count values: $values"
grep -q "ip_Text    REG_SZ    $listen_port\$" <<<"$values" || fail "ip_Text not stored: $values"

open_window
[ "$(position)" = "$moved" ] || fail "reopened at $(position), closed at $moved"
xdotool key --clearmodifiers Return
"$wine" "$helper" roundtrip "$listen_port" "stored fields" >/dev/null || fail "the stored fields did not relay"
close_window
echo PASS
