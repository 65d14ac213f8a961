#!/usr/bin/env bash
# Builds the Debian package from a clean tree and checks it with lintian:
#   bash scripts/package.sh [OUT]
# OUT (default build-deb/) receives kalvex_<version>_<arch>.deb, the source package
# (kalvex_<version>.dsc and .tar.xz, so that lintian checks debian/ too) and lintian's report
# (lintian.txt). The clean tree is what git tracks, with the changes not yet committed: nothing of
# a build directory or an untracked file gets into the package. Needs the build dependencies
# (scripts/install-deps.sh --for run) and lintian (--for test). With ccache installed the
# compiler goes through it, so that building again costs little.
# Ends non-zero when the build fails or lintian finds an error.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
out=$(realpath -m "${1:-build-deb}")

version=$(dpkg-parsechangelog -l debian/changelog -S Version)
tree_dir=$out/kalvex-$version

# The tracked files as they are now, committed or not (git stash create leaves the tree as it is).
mkdir -p "$out"
rm -rf "$out"/kalvex-[0-9]* "$out"/kalvex_* "$out"/kalvex-dbgsym_* "$out"/lintian.txt
mkdir "$tree_dir"
if git -C "$top" rev-parse --git-dir >/dev/null 2>&1; then
  tree=$(git -C "$top" stash create)
  git -C "$top" archive "${tree:-HEAD}" | tar -x -C "$tree_dir"
else
  # A source tarball: everything but build directories.
  tar -C "$top" --exclude='./build*' --exclude=./.git -c . | tar -x -C "$tree_dir"
fi
(cd "$out" && dpkg-source -b "kalvex-$version")

# The same path every time, so ccache finds its earlier results through the absolute paths
# dpkg-buildflags puts on the command line.
if [ -d /usr/lib/ccache ] && command -v ccache >/dev/null; then
  export PATH="/usr/lib/ccache:$PATH"
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$tree_dir}"
fi
jobs=$(nproc)
export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-nocheck} parallel=$jobs"
(cd "$tree_dir" && dpkg-buildpackage -b -us -uc)

echo "package: $(ls "$out"/kalvex_*.deb)"
# --fail-on error: warnings are reported (and listed in lintian.txt), errors fail the build.
status=0
lintian --display-info --fail-on error "$out/kalvex_$version.dsc" "$out"/kalvex_*.changes | tee "$out/lintian.txt" \
  || status=$?
rm -rf "$tree_dir"
exit "$status"
