#!/usr/bin/env bash
# The package scripts/package.sh built, checked as a user would meet it:
#   check-deb.sh [OUT]   (OUT as given to scripts/package.sh, default build-deb/)
# exactly the files of contents.txt; the program's dependencies computed from the binary and the
# run-time ones recommended; the service installed but neither enabled nor started, restarted by
# an upgrade and stopped by removal (check-service-upgrade.sh); lintian
# without an error; the installed program answers with the project's version.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../../build-deb}
debs=("$out"/kalvex_*.deb)
deb=${debs[0]}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
[ -f "$deb" ] || { echo "FAIL: no package in $out"; exit 1; }

want=$(grep -v '^#' "$here/contents.txt")
have=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort)
[ "$have" = "$want" ] || fail "contents differ from contents.txt:
$(diff <(echo "$want") <(echo "$have") | grep '^[<>]')"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6widgets6 libqt6multimedia6 libqcustomplot2.1-qt6 libmicrohttpd12 libsqlite3-0; do
  grep -qw "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
for need in qt6-translations-l10n fonts-dejavu-core xdg-utils; do
  grep -qw "$need" <<<"$recommends" || fail "Recommends lacks $need: $recommends"
done

# The maintainer scripts on a first install, run against stand-ins for systemd's helpers that
# answer as on a machine that never had the package: an enable or a start would switch the service
# on for every desktop user who installs the program.
scripts=$(mktemp -d)
trap 'rm -rf "$scripts"' EXIT
dpkg-deb -e "$deb" "$scripts/DEBIAN"
mkdir "$scripts/bin"
for helper in deb-systemd-helper deb-systemd-invoke systemctl; do
  cat >"$scripts/bin/$helper" <<STUB
#!/bin/sh
echo "$helper \$*" >>"$scripts/calls"
case "\$*" in *debian-installed*) exit 1 ;; esac
exit 0
STUB
  chmod +x "$scripts/bin/$helper"
done
touch "$scripts/calls"
PATH="$scripts/bin:$PATH" sh "$scripts/DEBIAN/postinst" configure || fail "postinst configure failed"
if grep -E ' (enable|start|restart|reload-or-restart)( |$)' "$scripts/calls"; then
  fail "a first install switches the service on: $(tr '\n' ';' <"$scripts/calls")"
fi
# A start happens only where systemd runs (/run/systemd/system), which a test machine may lack.
# try-restart (after an upgrade) restarts only a service that runs.
grep -Eq 'deb-systemd-invoke (start|restart)' "$scripts/DEBIAN/postinst" && fail "postinst starts the service"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./lib/systemd/system/kalvex.service | grep -qx 'ExecStart=/usr/bin/kalvex --headless --dir /var/lib/kalvex' \
  || fail "the unit does not start /usr/bin/kalvex"

if grep -q '^E: ' "$out/lintian.txt"; then
  fail "lintian errors: $(grep '^E: ' "$out/lintian.txt")"
fi

# The installed program's version is the project's (the one in CMakeLists.txt).
version=$(sed -n 's/^project(Kalvex VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package is $(dpkg-deb -f "$deb" Version), the project $version"
dpkg-deb -x "$deb" "$scripts/root"
shown=$(QT_QPA_PLATFORM=offscreen "$scripts/root/usr/bin/kalvex" --version 2>/dev/null)
[ "$shown" = "Kalvex $version" ] || fail "the packaged kalvex --version says '$shown'"

# The service across install, upgrade and removal, in a clean root (a minute the first time,
# for debootstrap; the root is kept beside the package).
if ! report=$(bash "$here/check-service-upgrade.sh" "$deb" "$out" 2>&1); then
  fail "service across upgrade and removal: $report"
fi

# The package's own autopkgtest on the unpacked program (autopkgtest itself wants a testbed).
if ! report=$(PATH="$scripts/root/usr/bin:$PATH" AUTOPKGTEST_TMP="$scripts" sh "$here/../../debian/tests/headless-demo" 2>&1); then
  fail "debian/tests/headless-demo: $report"
fi

# What a software centre reads from the installed tree: the metainfo with its launcher and icon.
if ! report=$(appstreamcli validate-tree --no-net --pedantic "$scripts/root" 2>&1); then
  fail "appstreamcli validate-tree: $report"
fi

[ "$failures" -eq 0 ] || exit 1
echo "package $(basename "$deb"): contents, dependencies, service and lintian as expected"
grep -v '^running with root' "$out/lintian.txt" | sed 's/^/  lintian: /'
