#!/usr/bin/env bash
# The service unit as systemd reads it, pointed at the built program:
#   check-unit.sh PROGRAM SOURCE_DIR
# `systemd-analyze verify` finds no fault, and `systemd-analyze security` rates its exposure
# below 2.5 (the hardening keeps the serial ports, /sys/bus/w1 and the network the program needs).
set -uo pipefail
program=$1 src=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

sed "s|/usr/local/bin/kalvex|$program|" "$src/packaging/kalvex.service" >"$dir/kalvex.service"
# The manual page is installed with the package, not here.
if ! out=$(systemd-analyze verify --man=no "$dir/kalvex.service" 2>&1) || [ -n "$out" ]; then
  fail "systemd-analyze verify: $out"
fi
report=$(systemd-analyze security --offline=true "$dir/kalvex.service" 2>&1)
level=$(sed -n 's/.*Overall exposure level for kalvex.service: \([0-9.]*\).*/\1/p' <<<"$report")
[ -n "$level" ] || fail "systemd-analyze security gave no level: $report"
if [ -n "$level" ] && ! awk -v l="$level" 'BEGIN { exit !(l < 2.5) }'; then
  fail "exposure $level, not below 2.5:
$(grep '✗' <<<"$report")"
fi
grep -qx 'Documentation=man:kalvex(1) https://kalvex.org/' "$dir/kalvex.service" || fail "the unit names no manual page"

[ "$failures" -eq 0 ] || exit 1
echo "service unit: verified, exposure $level"
