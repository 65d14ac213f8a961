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

# man's own check: groff's warnings of each page as man would show it. The English page also in
# the POSIX locale of a fresh minimal machine, where groff draws no character beyond ASCII.
manpage_ru=$build/packaging/ru/kalvex.1
out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$manpage" 2>&1 >/dev/null)
[ -z "$out" ] || fail "man --warnings: $out"
out=$(env -u LANG -u LANGUAGE LC_ALL=C MANWIDTH=80 man --warnings -l "$manpage" 2>&1 >/dev/null)
[ -z "$out" ] || fail "man --warnings in the POSIX locale: $out"
! LC_ALL=C grep -n '[^[:print:][:space:]]' "$manpage" || fail "the English manual page holds characters beyond ASCII"
out=$(LC_ALL=ru_RU.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$manpage_ru" 2>&1 >/dev/null)
[ -z "$out" ] || fail "man --warnings (Russian page): $out"
for page in "$manpage" "$manpage_ru"; do
  grep -q "^\.TH KALVEX 1 \"$date\" \"Kalvex $version\"" "$page" || fail "manual page heading: $(grep '^\.TH' "$page")"
done
# Every option of the program (--help; the page names Qt's own together) as the pages write it.
options=$(QT_QPA_PLATFORM=offscreen "$program" --help 2>/dev/null | grep -o -- '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || fail "kalvex --help listed no option"
for option in $options; do
  for page in "$manpage" "$manpage_ru"; do
    grep -qF -- "${option//-/\\-}" "$page" || fail "$page does not name $option"
  done
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

# A user without sudo on a machine that lacks a package is told in one line what to do.
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
for tool in dirname awk tr sed grep; do ln -s "$(command -v "$tool")" "$fake/$tool"; done
printf '#!/bin/sh\necho 1000\n' >"$fake/id"
printf '#!/bin/sh\necho "Inst lintian"\n' >"$fake/apt-get"
printf '#!/bin/sh\nexit 1\n' >"$fake/dpkg-query"
chmod +x "$fake/id" "$fake/apt-get" "$fake/dpkg-query"
out=$(PATH="$fake" "$(command -v bash)" "$src/scripts/install-deps.sh" --for test 2>&1 >/dev/null)
status=$?
{ [ "$status" -eq 1 ] && [ "$(wc -l <<<"$out")" -eq 1 ] && grep -q 'run this as root, or install sudo' <<<"$out"; } \
  || fail "install-deps.sh without sudo (exit $status): $out"

[ "$failures" -eq 0 ] || exit 1
echo "packaging files: metainfo, launcher, manual page and version agree"
