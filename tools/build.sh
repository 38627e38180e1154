#!/usr/bin/env bash
# Sets up the machine (tools/setup.sh) and builds everything into build/ (or the folder
# given as $1, with any further arguments passed to CMake).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-"$root/build"}
shift || true
bash "$root/tools/setup.sh"
cmake -S "$root" -B "$build_dir" -G Ninja "$@" >/dev/null
ninja -C "$build_dir"
