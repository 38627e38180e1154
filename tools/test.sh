#!/usr/bin/env bash
# Builds and runs every test: the release build, then every test again under the address
# and undefined-behaviour sanitizers with the protocol fuzzer, and the search tests under
# the thread sanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

bash "$root/tools/build.sh" "$root/build"
(cd "$root/build" && ctest --output-on-failure -j "$jobs")

# The bench signature must be the one bench/signature records: a change of search behaviour
# is always deliberate and states its new signature.
expected=$(cat "$root/bench/signature")
actual=$(cd "$root" && build/pbrain-tovan bench | grep -oE 'bench signature: [0-9a-f]{16}' | grep -oE '[0-9a-f]{16}$')
if [ "$actual" != "$expected" ]; then
  echo "bench signature $actual differs from bench/signature's $expected" >&2
  exit 1
fi
echo "bench signature $actual matches bench/signature"

bash "$root/tools/build.sh" "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DTOVAN_SANITIZE=ON
(cd "$root/build-sanitize" && ctest --output-on-failure -j "$jobs")

# Random protocol sessions against the sanitizer build, after its tests so that nothing else
# competes for the cores while replies are timed. Fixed seeds: a failure names its seed and
# leaves the session's input in build-sanitize/fuzz-failures.
/usr/bin/python3 "$root/tests/protocol_fuzz.py" --engine "$root/build-sanitize/pbrain-tovan" --seed 1 \
  --sessions 80 --jobs "$jobs" --out "$root/build-sanitize/fuzz-failures"

# The multi-threaded search under the thread sanitizer.
cmake -S "$root" -B "$root/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVAN_THREAD_SANITIZE=ON >/dev/null
ninja -C "$root/build-tsan" unit_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$root/build-tsan/tests/unit_tests" \
  --gtest_filter='Configurations/WholeSearch.*:StopRule.*:SearchFailure.*'

# The Windows build under Wine against the release build, where the cross tools and Wine
# are installed (TOVAN_WINDOWS=1 installs them; tools/build_windows.sh alone builds it).
if [ "${TOVAN_WINDOWS:-0}" = 1 ] ||
   { command -v x86_64-w64-mingw32-g++-posix && { command -v wine64 || [ -x /usr/lib/wine/wine64 ]; }; } >/dev/null 2>&1; then
  bash "$root/tools/test_windows.sh"
fi
