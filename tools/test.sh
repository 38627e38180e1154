#!/usr/bin/env bash
# Builds and runs every test: the release build, then the unit and protocol tests again
# under the address and undefined-behaviour sanitizers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

bash "$root/tools/build.sh" "$root/build"
(cd "$root/build" && ctest --output-on-failure -j "$jobs")

bash "$root/tools/build.sh" "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DTOVAN_SANITIZE=ON
(cd "$root/build-sanitize" &&
  LSAN_OPTIONS="suppressions=$root/tests/lsan.supp" ctest --output-on-failure -j "$jobs")
