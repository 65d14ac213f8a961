#!/usr/bin/env bash
# The service across the package's life, in a clean Debian root: installed, neither enabled nor
# started; enabled and started by hand; upgraded to a rebuilt package, running again on it
# afterwards (and one that was stopped stays stopped); removed, stopped.
#   check-service-upgrade.sh DEB [CACHE]
# dpkg runs the real maintainer scripts with the real deb-systemd-helper and deb-systemd-invoke;
# only systemctl is a stand-in that keeps each unit's state, since no systemd runs as PID 1 in a
# chroot. The root comes from debootstrap (minbase), kept as a tarball in CACHE (default: beside
# the package) so that a second run costs seconds. Needs root, debootstrap and Debian's archive.
set -uo pipefail
deb=$(realpath "$1")
cache=$(realpath "${2:-$(dirname "$deb")}")
tarball=$cache/bookworm-minbase.tar.gz
work=$(mktemp -d)
root=$work/root
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if [ ! -f "$tarball" ]; then
  debootstrap --variant=minbase --include=init-system-helpers --make-tarball="$tarball" bookworm "$work/make" \
    http://deb.debian.org/debian >"$work/debootstrap.log" 2>&1 || { cat "$work/debootstrap.log"; exit 1; }
fi
debootstrap --variant=minbase --include=init-system-helpers --unpack-tarball="$tarball" bookworm "$root" \
  http://deb.debian.org/debian >"$work/debootstrap.log" 2>&1 || { cat "$work/debootstrap.log"; exit 1; }

# As on a machine that runs systemd: the scripts look for this folder.
mkdir -p "$root/run/systemd/system"
# The stand-in: each call logged; a unit's "active" state kept in a file; enabled is what
# deb-systemd-helper links under /etc/systemd/system.
cat >"$root/usr/local/bin/systemctl" <<'STUB'
#!/bin/sh
echo "systemctl $*" >>/var/log/systemctl.calls
state=/var/lib/systemctl-stand-in
mkdir -p "$state"
for last; do :; done
unit=${last##*/}
case " $* " in
  *" is-enabled "*) ls /etc/systemd/system/*.wants/"$unit" >/dev/null 2>&1 && { echo enabled; exit 0; }; echo disabled; exit 1 ;;
  *" is-active "*) [ -f "$state/$unit" ] && { echo active; exit 0; }; echo inactive; exit 3 ;;
  *" start "*|*" restart "*) echo "$(date +%s%N)" >"$state/$unit" ;;
  *" try-restart "*) [ -f "$state/$unit" ] && echo "$(date +%s%N)" >"$state/$unit" ;;
  *" stop "*) rm -f "$state/$unit" ;;
esac
exit 0
STUB
chmod +x "$root/usr/local/bin/systemctl"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"; }
calls() { cat "$root/var/log/systemctl.calls" 2>/dev/null | tr '\n' ';'; }
active() { [ -f "$root/var/lib/systemctl-stand-in/kalvex.service" ]; }
started_at() { cat "$root/var/lib/systemctl-stand-in/kalvex.service" 2>/dev/null; }
enabled() { ls "$root"/etc/systemd/system/*.wants/kalvex.service >/dev/null 2>&1; }
# The program's libraries are not in the root: the scripts are what is tested.
install_deb() { cp "$1" "$root/tmp/k.deb" && in_root dpkg --force-depends -i /tmp/k.deb >>"$work/dpkg.log" 2>&1; }

# A rebuilt package: the same one at a later version.
mkdir "$work/rebuilt"
dpkg-deb -R "$deb" "$work/rebuilt/tree"
sed -i 's/^Version: \(.*\)$/Version: \1+rebuilt1/' "$work/rebuilt/tree/DEBIAN/control"
dpkg-deb -b "$work/rebuilt/tree" "$work/rebuilt/kalvex.deb" >/dev/null

install_deb "$deb" || fail "first install: $(tail -5 "$work/dpkg.log")"
enabled && fail "a fresh install enables the service"
active && fail "a fresh install starts the service: $(calls)"

# What `systemctl enable` leaves (deb-systemd-helper runs from dpkg only).
mkdir -p "$root/etc/systemd/system/multi-user.target.wants"
ln -s /lib/systemd/system/kalvex.service "$root/etc/systemd/system/multi-user.target.wants/kalvex.service"
in_root systemctl start kalvex.service
enabled && active || fail "the stand-in did not enable and start the service"
before=$(started_at)
: >"$root/var/log/systemctl.calls"
install_deb "$work/rebuilt/kalvex.deb" || fail "upgrade: $(tail -5 "$work/dpkg.log")"
grep -q ' stop kalvex.service' "$root/var/log/systemctl.calls" && fail "the upgrade stops the service: $(calls)"
active || fail "the service does not run after the upgrade: $(calls)"
[ "$(started_at)" != "$before" ] || fail "the service was not restarted on the new program: $(calls)"
enabled || fail "the upgrade disabled the service"

# Stopped by hand: the next upgrade leaves it stopped.
in_root systemctl stop kalvex.service
install_deb "$deb" || fail "downgrade: $(tail -5 "$work/dpkg.log")"
active && fail "an upgrade started a stopped service: $(calls)"

in_root systemctl start kalvex.service
: >"$root/var/log/systemctl.calls"
in_root dpkg -r kalvex >>"$work/dpkg.log" 2>&1 || fail "remove: $(tail -5 "$work/dpkg.log")"
active && fail "the removed package's service still runs: $(calls)"

[ "$failures" -eq 0 ] || exit 1
echo "service in a clean root: off after install, restarted by an upgrade, stopped by removal"
