#!/usr/bin/env bash
# Installs the dependencies, builds the program and starts it on a directory of its own.
# With no sensor attached it runs on its built-in virtual bus (--demo). Extra arguments go to
# the program, for example: scripts/run.sh --dir ~/kalvex
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --for run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$(nproc)" --target kalvex
dir="${KALVEX_DIR:-$HOME/.local/share/kalvex-demo}"
mkdir -p "$dir"
if [ "$#" -eq 0 ]; then set -- --demo; fi
exec ./build/src/app/kalvex --dir "$dir" "$@"
