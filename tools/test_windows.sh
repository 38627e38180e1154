#!/usr/bin/env bash
# Tests the Windows build under Wine against the native build in build/ (built first by
# tools/test.sh): builds and packs it (tools/build_windows.sh, installing wine64 too),
# unpacks its archive, checks that the engine imports no ONNX Runtime DLL, then drives the
# unpacked engine over pipes: the protocol sessions of tests/windows_protocol.py with the
# native engine's replies (and a copy without the DLLs), the bench signature, and short
# matches against the native engine with no fault allowed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$root/build-windows"
TOVAN_WINE=1 bash "$root/tools/build_windows.sh" "$build_dir"

# Wine's own start-up files, made once, inside the build folder.
export WINEPREFIX="$build_dir/wine" WINEDEBUG=-all
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
[ -d "$WINEPREFIX/drive_c" ] || "$wine" wineboot -i >/dev/null 2>&1
# One Wine server for the whole run, so that an engine starting just as the previous one
# exits never meets a server that is shutting down.
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
"$wineserver" -w  # the one the prefix's first start left running ends first
"$wineserver" -p
trap '"$wineserver" -k 2>/dev/null || true' EXIT

unpacked="$build_dir/unpacked"
rm -rf "$unpacked"
/usr/bin/python3 -m zipfile -e "$build_dir/pbrain-tovan-windows-x64.zip" "$unpacked"

# ONNX Runtime is loaded at run time, so that the engine starts without it.
if x86_64-w64-mingw32-objdump -p "$unpacked/pbrain-tovan.exe" | grep -qi 'DLL Name: onnxruntime'; then
  echo "pbrain-tovan.exe imports ONNX Runtime" >&2
  exit 1
fi
echo "ok   pbrain-tovan.exe imports no ONNX Runtime DLL"

/usr/bin/python3 "$root/tests/windows_protocol.py" --linux "$root/build" --windows "$unpacked" --wine "$wine"

expected=$(cat "$root/bench/signature")
actual=$(cd "$unpacked" && "$wine" ./pbrain-tovan.exe bench 2>/dev/null | grep -oE 'bench signature: [0-9a-f]{16}' | grep -oE '[0-9a-f]{16}$')
if [ "$actual" != "$expected" ]; then
  echo "Windows bench signature '$actual' differs from bench/signature's $expected" >&2
  exit 1
fi
echo "ok   Windows bench signature $actual"

for rule in freestyle renju; do
  out=$(/usr/bin/python3 "$root/tools/match.py" --engine1 "$wine $unpacked/pbrain-tovan.exe" --name1 Windows \
        --engine2 "$root/build/pbrain-tovan" --name2 Linux --rule "$rule" --games 2 --turn-ms 200 --brief 2>&1) || true
  if [ "$(grep -cE '^Game [0-9]+: .*(made five|the board is full)' <<<"$out" || true)" -ne 2 ] ||
     grep -q 'Games lost by a fault' <<<"$out"; then
    echo "FAIL match Windows against Linux, $rule:"; sed 's/^/    /' <<<"$out"
    exit 1
  fi
  echo "ok   match Windows against Linux, $rule: $(grep -m1 'Score of' <<<"$out")"
done
