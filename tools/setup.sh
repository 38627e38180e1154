#!/usr/bin/env bash
# Installs everything the engine needs to build and test on a fresh Debian machine.
# Idempotent: packages already present and an already extracted ONNX Runtime are left alone.
#   - Debian packages: compiler tool chain, cpptoml, zlib, GoogleTest, Google Benchmark,
#     and Debian's python3 with onnx and numpy for the model-building tools, torch for the
#     trainer, distributed (Dask) for self-play jobs, matplotlib and tqdm for the training
#     log's plot and progress; Chromium, its WebDriver and Selenium for the analysis
#     board's browser test.
#   - ONNX Runtime 1.29.0 from its npm package, cached in ~/.cache/tovan (outside the tree)
#     and extracted into third_party/onnxruntime (ignored by git); its CUDA and TensorRT
#     provider libraries too, but only when config.toml selects a GPU device (or
#     TOVAN_GPU=1 is set), since they are large.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# npm packages of ONNX Runtime 1.29.0: the runtime, and its GPU execution providers.
ort_package="com.github.asus4.onnxruntime"
gpu_package="com.github.asus4.onnxruntime.linux-x64-gpu"
package_version="0.4.9"
cache_dir="${TOVAN_CACHE_DIR:-$HOME/.cache/tovan}"
ort_dir="$root/third_party/onnxruntime"

debian_packages=(g++ cmake ninja-build libcpptoml-dev zlib1g-dev libgtest-dev libbenchmark-dev
                 python3-onnx python3-numpy python3-torch python3-distributed python3-matplotlib python3-tqdm
                 chromium chromium-driver python3-selenium)

missing=()
for package in "${debian_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
# npm fetches ONNX Runtime; any Node.js install that provides it will do (Debian's npm package
# conflicts with the nodejs builds some machines come with).
command -v npm >/dev/null 2>&1 || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The path of a package's tarball in the cache, fetched first when it is not there.
cached_package() {
  local tarball="$cache_dir/$1-$package_version.tgz"
  if [ ! -f "$tarball" ]; then
    echo "setup: fetching $1@$package_version" >&2
    mkdir -p "$cache_dir"
    (cd "$cache_dir" && npm pack --silent "$1@$package_version" >/dev/null)
  fi
  echo "$tarball"
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if [ ! -f "$ort_dir/.complete-$package_version" ]; then
  tarball=$(cached_package "$ort_package")
  echo "setup: extracting ONNX Runtime into third_party/onnxruntime"
  tar -xzf "$tarball" -C "$scratch"
  rm -rf "$ort_dir"
  mkdir -p "$ort_dir/lib" "$ort_dir/include"
  cp "$scratch/package/Plugins/Linux/x64/libonnxruntime.so" \
     "$scratch/package/Plugins/Linux/x64/libonnxruntime_providers_shared.so" "$ort_dir/lib/"
  ln -sf libonnxruntime.so "$ort_dir/lib/libonnxruntime.so.1"
  cp "$scratch/package/Plugins/iOS~/onnxruntime.xcframework/ios-arm64/onnxruntime.framework/Headers/"*.h "$ort_dir/include/"
  touch "$ort_dir/.complete-$package_version"
fi

# The GPU execution providers, next to the runtime library that loads them.
wants_gpu=${TOVAN_GPU:-0}
grep -Eq '^[[:space:]]*device[[:space:]]*=[[:space:]]*"(cuda|tensorrt)"' "$root/config.toml" && wants_gpu=1
if [ "$wants_gpu" = 1 ] && [ ! -f "$ort_dir/.complete-gpu-$package_version" ]; then
  tarball=$(cached_package "$gpu_package")
  echo "setup: extracting the CUDA and TensorRT providers"
  rm -rf "$scratch/package"
  tar -xzf "$tarball" -C "$scratch" --wildcards 'package/Plugins/Linux/x64/*.so'
  cp "$scratch/package/Plugins/Linux/x64/"*.so "$ort_dir/lib/"
  touch "$ort_dir/.complete-gpu-$package_version"
fi
echo "setup: done"
