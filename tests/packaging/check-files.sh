#!/usr/bin/env bash
# What the package carries besides the program, checked against the built program:
#   check-files.sh PROGRAM SOURCE_DIR BUILD_DIR VERSION RELEASE_DATE
# the metainfo and the launcher validate, the manual page formats without a warning and names
# every option the program offers, and the program, the manual page, the metainfo and
# debian/changelog all carry the project's version (and its release date); and every package the
# install script installs is named in one place only.
set -uo pipefail
program=$1 src=$2 build=$3 version=$4 date=$5
metainfo=$build/packaging/org.kalvex.kalvex.metainfo.xml
manpage=$build/packaging/kalvex.1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# AppStream: errors and warnings fail (appstreamcli's own rule); --no-net: no address is fetched.
if ! out=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1); then
  fail "appstreamcli validate: $out"
fi
grep -q "<release version=\"$version\" date=\"$date\"" "$metainfo" || fail "metainfo names another release"

# A Russian user finds and reads it in Russian; every text names every kind of bus.
grep -q '<p xml:lang="ru">' "$metainfo" || fail "the metainfo has no Russian description"
grep -q '^Keywords\[ru\]=' "$src/packaging/kalvex.desktop" || fail "the launcher has no Russian keywords"
for file in "$metainfo" "$src/packaging/kalvex.desktop" "$src/packaging/kalvex.service"; do
  grep -q "kernel's.*owserver" "$file" || fail "$(basename "$file") names only the serial port"
done
grep -q '^\.SH MQTT' "$manpage" || fail "the manual page has no MQTT section"

if ! out=$(desktop-file-validate "$src/packaging/kalvex.desktop" 2>&1) || [ -n "$out" ]; then
  fail "desktop-file-validate: $out"
fi

# man's own check: groff's warnings of the page as man would show it, in UTF-8.
out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$manpage" 2>&1 >/dev/null)
[ -z "$out" ] || fail "man --warnings: $out"
grep -q "^\.TH KALVEX 1 \"$date\" \"Kalvex $version\"" "$manpage" || fail "manual page heading: $(grep '^\.TH' "$manpage")"
# Every option of the program (--help; the page names Qt's own together) as the page writes it.
options=$(QT_QPA_PLATFORM=offscreen "$program" --help 2>/dev/null | grep -o -- '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || fail "kalvex --help listed no option"
for option in $options; do
  grep -qF -- "${option//-/\\-}" "$manpage" || fail "the manual page does not name $option"
done

out=$(QT_QPA_PLATFORM=offscreen "$program" --version 2>/dev/null)
[ "$out" = "Kalvex $version" ] || fail "kalvex --version: '$out', not 'Kalvex $version'"

# A native package: its version is the program's; the entry is dated on the release day.
changelog_version=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)
[ "$changelog_version" = "$version" ] || fail "debian/changelog is at $changelog_version, the project at $version"
changelog_date=$(date -u -d "@$(dpkg-parsechangelog -l "$src/debian/changelog" -S Timestamp)" +%F)
[ "$changelog_date" = "$date" ] || fail "debian/changelog is dated $changelog_date, the release $date"

# Every package named once: a build or run-time package in debian/control, a test tool in the
# install script, never both (two lists drift apart).
listed=$(bash "$src/scripts/install-deps.sh" --list test)
twice=$(sort <<<"$listed" | uniq -d)
[ -z "$twice" ] || fail "named twice for install-deps.sh: $twice"
for name in debhelper-compat qt6-base-dev libmosquitto-dev qt6-translations-l10n xdg-utils mosquitto lintian; do
  grep -qx "$name" <<<"$listed" || fail "install-deps.sh --list test lacks $name"
done
grep -qx lintian < <(bash "$src/scripts/install-deps.sh" --list run) && fail "install-deps.sh --list run names a test tool"

[ "$failures" -eq 0 ] || exit 1
echo "packaging files: metainfo, launcher, manual page and version agree"
