#!/usr/bin/env bash
# Cross-compiles the Windows x64 engine with Debian's MinGW-w64 into build-windows/ (or the
# folder given as $1) and packs the archive a tournament takes,
# build-windows/pbrain-tovan-windows-x64.zip: pbrain-tovan.exe, ONNX Runtime's two DLLs
# (loaded only for .onnx networks, and needing the Visual C++ run-time), config.toml and
# the models.
# Idempotent: runs tools/setup.sh, then installs the cross tools (and wine64 when
# TOVAN_WINE=1, for tools/test_windows.sh) only where they are missing, and takes the
# Windows DLLs and the headers from the same ONNX Runtime npm package the Linux build uses.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-"$root/build-windows"}
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)  # absolute: the archive is written from inside it
ort_package="com.github.asus4.onnxruntime"
package_version="0.4.9"
cache_dir="${TOVAN_CACHE_DIR:-$HOME/.cache/tovan}"
ort_dir="$build_dir/onnxruntime"

bash "$root/tools/setup.sh"

cross_packages=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev)
[ "${TOVAN_WINE:-0}" = 1 ] && cross_packages+=(wine64)
missing=()
for package in "${cross_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "build_windows: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ ! -f "$ort_dir/.complete-$package_version" ]; then
  tarball="$cache_dir/$ort_package-$package_version.tgz"
  if [ ! -f "$tarball" ]; then
    echo "build_windows: fetching $ort_package@$package_version"
    mkdir -p "$cache_dir"
    (cd "$cache_dir" && npm pack --silent "$ort_package@$package_version" >/dev/null)
  fi
  echo "build_windows: extracting the Windows x64 ONNX Runtime"
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  tar -xzf "$tarball" -C "$scratch" --wildcards 'package/Plugins/Windows/x64/*.dll' \
    'package/Plugins/iOS~/onnxruntime.xcframework/ios-arm64/onnxruntime.framework/Headers/*.h'
  rm -rf "$ort_dir"
  mkdir -p "$ort_dir/lib" "$ort_dir/include"
  cp "$scratch/package/Plugins/Windows/x64/onnxruntime.dll" \
     "$scratch/package/Plugins/Windows/x64/onnxruntime_providers_shared.dll" "$ort_dir/lib/"
  cp "$scratch/package/Plugins/iOS~/onnxruntime.xcframework/ios-arm64/onnxruntime.framework/Headers/"*.h "$ort_dir/include/"
  touch "$ort_dir/.complete-$package_version"
fi

# cpptoml alone, away from the build machine's other headers.
mkdir -p "$build_dir/cpptoml"
cp -u /usr/include/cpptoml.h "$build_dir/cpptoml/"

# The pattern tables are generated at build time, by a generator for this machine.
generator="$build_dir/host/generate_pattern_tables"
if [ ! -x "$generator" ] || [ "$root/tools/generate_pattern_tables.cpp" -nt "$generator" ] ||
   [ "$root/src/board/pattern_codes.h" -nt "$generator" ]; then
  mkdir -p "$build_dir/host"
  g++ -std=c++20 -O2 -I "$root/src" "$root/tools/generate_pattern_tables.cpp" -lz -o "$generator"
fi

cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/tools/mingw-w64.cmake" \
  -DORT_ROOT="$ort_dir" -DCPPTOML_INCLUDE_DIR="$build_dir/cpptoml" \
  -DTOVAN_HOST_PATTERN_GENERATOR="$generator" "${@:2}" >/dev/null
ninja -C "$build_dir"

# The archive: everything at its top level, as tournament managers expect.
stage="$build_dir/package"
archive="$build_dir/pbrain-tovan-windows-x64.zip"
rm -rf "$stage" "$archive"
mkdir -p "$stage/models"
cp "$build_dir/pbrain-tovan.exe" "$ort_dir/lib/onnxruntime.dll" "$ort_dir/lib/onnxruntime_providers_shared.dll" \
   "$root/config.toml" "$stage/"
cp "$build_dir/models/"*.onnx "$build_dir/models/"*.weights "$build_dir/models/"*.codenet "$stage/models/"
(cd "$stage" && /usr/bin/python3 -m zipfile -c "$archive" pbrain-tovan.exe onnxruntime.dll \
   onnxruntime_providers_shared.dll config.toml models)
echo "build_windows: $archive ($(du -k "$archive" | cut -f1) KiB)"
