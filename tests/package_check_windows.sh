#!/usr/bin/env bash
# The Windows release zip as a Windows user meets it, under Wine: it unzips
# into one folder with both programs, the text for Windows users and the
# copyright notice; each program is stripped and carries a resource
# directory with the project's icon, its version information and a manifest
# (asInvoker, no visual-styles dependency); velotrunk-relay.exe tells the
# version from the unzipped folder, and velotrunk.exe opens its window there
# (Xvfb, Openbox) with the project's icon.
#   package_check_windows.sh ZIP WINE
# WINEPREFIX in the environment: a prefix for programs with windows (see
# wine_display.sh), made on first use.
zip=$(realpath "$1")
wine=$2
icons=$(cd "$(dirname "$0")/../packaging/icons" && pwd)
objdump=x86_64-w64-mingw32-objdump
. "$(dirname "$0")/lib.sh"

name=$(basename "$zip" .zip)
version=${name#velotrunk-}
version=${version%-win64}
(cd "$work" && unzip -q "$zip")
folder="$work/$name"
for file in velotrunk.exe velotrunk-relay.exe README.txt COPYRIGHT.txt; do
  [ -s "$folder/$file" ] || fail "$file is not in $name/"
done
[ "$(ls "$work")" = "$name" ] || fail "the zip holds more than the folder $name: $(ls "$work")"

for exe in velotrunk velotrunk-relay; do
  file="$folder/$exe.exe"
  # (Each output is taken whole first: grep -q ending a pipe early would fail it.)
  headers=$("$objdump" -p "$file")
  grep -q 'Resource Directory \[\.rsrc\]' <<<"$headers" || fail "$exe.exe has no resource directory"
  symbols=$("$objdump" -t "$file")
  ! grep -q '^\[' <<<"$symbols" || fail "$exe.exe keeps its symbols"
  sections=$("$objdump" -h "$file")
  ! grep -q '\.debug' <<<"$sections" || fail "$exe.exe keeps debugging sections"
  resources=$(wrestool -l "$file")
  for type in group_icon version; do
    grep -q "type=$type" <<<"$resources" || fail "$exe.exe has no $type resource: $resources"
  done
  strings=$(wrestool -x --raw --type=16 "$file" | tr -d '\0')
  grep -aq "ProductVersion$version" <<<"$strings" || fail "$exe.exe's version information does not say $version"
  manifest=$(wrestool -x --raw --type=24 --name=1 "$file")
  grep -q 'level="asInvoker"' <<<"$manifest" || fail "$exe.exe's manifest does not run it as invoker"
  grep -q '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' <<<"$manifest" || fail "$exe.exe's manifest names no Windows 10"
  ! grep -q 'Common-Controls' <<<"$manifest" || fail "$exe.exe's manifest asks for visual styles"
done

command -v Xvfb >/dev/null && command -v openbox >/dev/null || fail "Xvfb and openbox are needed"
start_wine_desktop "$wine"

cd "$folder"
[ "$("$wine" velotrunk-relay.exe --version | tr -d '\r')" = "velotrunk-relay $version" ] ||
  fail "velotrunk-relay.exe --version: $("$wine" velotrunk-relay.exe --version 2>&1)"

# The window's icon as the window manager gets it: Wine hands the 32-pixel
# one first, as 32, 32 and then one ARGB number per pixel, each the pixel of
# the project's 32-pixel PNG.
"$wine" velotrunk.exe >"$work/app.log" 2>&1 &
track $!
wait_for xdotool search --name '^IP VeloTrunk$' >/dev/null || fail "velotrunk.exe opened no window"
window=$(xdotool search --name '^IP VeloTrunk$' | head -1)
expected=$(echo 32; echo 32; convert "$icons/velotrunk-32.png" -depth 8 rgba:- | od -An -v -tu1 -w4 |
  awk '{ printf "%.0f\n", $4 * 16777216 + $1 * 65536 + $2 * 256 + $3 }')
window_icon() { xprop -id "$window" -notype -f _NET_WM_ICON 32c '=$0+\n' _NET_WM_ICON | cut -d= -f2 | tr ',' '\n' |
  tr -d ' ' | head -1026; }
shows_icon() { [ "$(window_icon)" = "$expected" ]; }
wait_for shows_icon || fail "the window does not show the project's icon: $(window_icon | head -3 | tr '\n' ' ')"
echo PASS
