#!/usr/bin/env bash
# The Debian package as a user meets it: lintian finds nothing to warn of;
# apt-get installs it; both programs run from /usr/bin (the relay tells the
# package's version, relays a loopback connection and stops on SIGTERM; the
# window opens from its menu entry in a real X server and shows its icon);
# the menu entry, the software-centre entry, the systemd unit and the manual
# pages validate where they were installed; apt-get purge leaves nothing,
# and its maintainer scripts take the enable links of the relay's service
# instances with it (stopping running instances needs systemd, which a
# container does not run: there the scripts must simply do no harm).
#   package_check.sh DEB E2E_HELPER
# Needs root. It installs and purges the package "velotrunk" on this
# machine, one check at a time, and refuses to start while a velotrunk
# package is installed (it would replace it, then remove it).
deb=$(realpath "$1")
helper=$2
. "$(dirname "$0")/lib.sh"

installed=0
wants=/etc/systemd/system/multi-user.target.wants
made_wants=0
after_cleanup() {
  rm -f "$wants/velotrunk-relay@package-check.service" "$wants/velotrunk-relay@package-check-own.service"
  [ "$made_wants" = 0 ] || rmdir "$wants" 2>/dev/null || true
  if [ "$installed" = 1 ] && dpkg -s velotrunk >/dev/null 2>&1; then
    echo "removing the package left by a failed check" >&2
    apt-get purge -y -qq -o DPkg::Lock::Timeout=120 velotrunk >/dev/null 2>&1 || dpkg --purge velotrunk >/dev/null
  fi
}
on_fail() { [ -f "$work/app.log" ] && sed 's/^/  velotrunk: /' "$work/app.log"; }

# Waits for a process of ours to end; fails with WHAT if it does not, or if
# it ends with a status other than 0.
wait_exit() {
  wait_for eval "! kill -0 $1 2>/dev/null" || fail "$2 did not end"
  wait "$1" || fail "$2 ended with status $?"
}

# Runs a validator that must succeed and say nothing.
quiet() {
  local out
  out=$("$@" 2>&1) || fail "$* failed: $out"
  [ -z "$out" ] || fail "$* reported: $out"
}

[ "$(id -u)" -eq 0 ] || fail "installing a package needs root"
mkdir -p /run/lock
exec 9>/run/lock/velotrunk-package-check
flock -w 600 9 || fail "another package check has held its lock for ten minutes"
if dpkg -s velotrunk >/dev/null 2>&1; then
  fail "a velotrunk package is installed on this machine; remove it first (apt-get purge velotrunk)"
fi

# --- the package file ---
field() { dpkg-deb --field "$deb" "$1"; }
version=$(field Version)
[ "$(field Section)" = net ] || fail "section: $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no maintainer"
depends=$(field Depends)
for lib in libc6 libqt6widgets6 libstdc++6; do
  grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || status=$?
grep -v '^running with root privileges' "$work/lintian.log" >&2 || true
[ "${status:-0}" -eq 0 ] || fail "lintian"
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$work/paths"
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t)
for script in postinst prerm postrm; do
  grep -qx "\./$script" <<<"$control" || fail "the package has no $script"
done

# --- install ---
installed=1
apt-get install -y -qq -o DPkg::Lock::Timeout=120 "$deb" >"$work/apt.log" 2>&1 || fail "apt-get install: $(cat "$work/apt.log")"
grep -qx "Version: $version" <<<"$(dpkg -s velotrunk)" || fail "installed version is not $version"

# --- the files where they belong, valid ---
desktop=/usr/share/applications/velotrunk.desktop
quiet desktop-file-validate "$desktop"
metainfo=/usr/share/metainfo/com.example.velotrunk.metainfo.xml
out=$(appstreamcli validate --no-net --pedantic --no-color "$metainfo" 2>&1) || fail "appstreamcli: $out"
[ "$(grep -v 'Validation was successful' <<<"$out")" = "" ] || fail "appstreamcli reported: $out"
icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16x16 32x32 48x48 256x256; do
  [ -s "/usr/share/icons/hicolor/$size/apps/$icon.png" ] || fail "no $size icon named $icon"
done
[ -s "/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon named $icon"
[ -s /etc/velotrunk/example.conf ] || fail "no example configuration"
for page in velotrunk velotrunk-relay; do
  [ "$(man -w "$page")" = "/usr/share/man/man1/$page.1.gz" ] || fail "manual page $page not installed"
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings "$page" >"$work/$page.txt" 2>"$work/$page.err" || fail "man $page"
  [ ! -s "$work/$page.err" ] || fail "man $page warns: $(cat "$work/$page.err")"
  grep -q '^EXIT STATUS' "$work/$page.txt" || fail "man $page has no EXIT STATUS"
done
# Loads the unit as systemd would (an instance of the template), with its
# ExecStart and its Documentation page.
quiet systemd-analyze verify /usr/lib/systemd/system/velotrunk-relay@.service

# --- the relay from /usr/bin ---
[ "$(command -v velotrunk-relay)" = /usr/bin/velotrunk-relay ] || fail "velotrunk-relay is not /usr/bin's"
relay_version=$(/usr/bin/velotrunk-relay --version) || fail "velotrunk-relay --version"
[ "$relay_version" = "velotrunk-relay $version" ] || fail "velotrunk-relay --version says $relay_version"
"$helper" echo >"$work/echo.port" &
track $!
wait_for test -s "$work/echo.port" || fail "echo server did not start"
listen_port=$("$helper" freeport)
/usr/bin/velotrunk-relay "$listen_port" 127.0.0.1 "$(cat "$work/echo.port")" 2>"$work/relay.log" &
relay=$!
track "$relay"
"$helper" roundtrip "$listen_port" "through the installed relay" >/dev/null || fail "no relay: $(cat "$work/relay.log")"
kill -TERM "$relay"
wait_exit "$relay" "velotrunk-relay, on SIGTERM,"

# --- the window from its menu entry, in a real X server ---
start_xvfb
mkdir -m 700 "$work/runtime"
command=$(sed -n 's/^Exec=//p' "$desktop" | sed 's/ *%[fFuUik]//g')
(
  export QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
  unset QT_SCALE_FACTOR WAYLAND_DISPLAY
  exec $command
) >"$work/app.log" 2>&1 &
app=$!
track "$app"
window=$(timeout "$guard_seconds" xdotool search --sync --onlyvisible --name '^IP VeloTrunk$' | head -1) || fail "no window from the menu entry"
[ "$(readlink "/proc/$app/exe")" = /usr/bin/velotrunk ] || fail "the menu entry did not start /usr/bin/velotrunk"
grep -q 'Icon (16 x 16)' <<<"$(xprop -id "$window" _NET_WM_ICON)" || fail "the window has no 16x16 icon"
wm_class=$(xprop -id "$window" WM_CLASS)
grep -q "\"$(sed -n 's/^StartupWMClass=//p' "$desktop")\"" <<<"$wm_class" ||
  fail "StartupWMClass does not match the window's $wm_class"
"$helper" close "$window"
wait_exit "$app" "velotrunk, when its window closed,"

# --- purge leaves nothing ---
# An instance enabled as `systemctl enable velotrunk-relay@package-check`
# would be, and beside it a link to a unit of the administrator's own: purge
# takes the first and leaves the second.
[ -d "$wants" ] || { mkdir -p "$wants" && made_wants=1; }
ln -s /usr/lib/systemd/system/velotrunk-relay@.service "$wants/velotrunk-relay@package-check.service"
ln -s /etc/systemd/system/own-relay@.service "$wants/velotrunk-relay@package-check-own.service"
apt-get purge -y -qq -o DPkg::Lock::Timeout=120 velotrunk >"$work/apt.log" 2>&1 || fail "apt-get purge: $(cat "$work/apt.log")"
installed=0
! dpkg -s velotrunk >/dev/null 2>&1 || fail "dpkg still knows velotrunk after purge"
[ ! -L "$wants/velotrunk-relay@package-check.service" ] || fail "purge left the enable link of an instance"
[ -L "$wants/velotrunk-relay@package-check-own.service" ] || fail "purge took a link to a unit not of the package"
# A folder of the package may stay only while other files or packages use it.
while read -r path; do
  [ -e "$path" ] || continue
  [ -d "$path" ] && { [ -n "$(ls -A "$path")" ] || dpkg -S "$path" >/dev/null 2>&1; } ||
    fail "$path is left after purge"
done <"$work/paths"
echo "PASS: velotrunk $version installed, ran, validated and purged"
