#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --for test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVEX_WERROR="${KALVEX_WERROR:-OFF}"
cmake --build build --parallel "$(nproc)"
ctest --test-dir build --output-on-failure --parallel "$(nproc)"
# The Debian package, built from the tracked tree without its tests and checked: contents,
# dependencies, the service left off, lintian (KALVEX_PACKAGE=0 skips it).
if [ "${KALVEX_PACKAGE:-1}" != 0 ]; then
  bash scripts/package.sh build-deb
  bash tests/packaging/check-deb.sh build-deb
fi
# Each fuzz target 30 s on its seeds in a clang build of its own (KALVEX_FUZZ_SECONDS=0 skips it).
if [ "${KALVEX_FUZZ_SECONDS:-30}" != 0 ]; then
  bash scripts/fuzz.sh "${KALVEX_FUZZ_SECONDS:-30}"
fi
