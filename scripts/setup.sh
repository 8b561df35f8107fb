#!/usr/bin/env bash
# Installs everything Keepframe needs on Debian 12 and is safe to run again:
# a second run installs nothing and downloads nothing.
#   - Debian packages (build tools, Qt 6, OpenCV, LibRaw, Exiv2, GoogleTest,
#     exiftool as an independent metadata reader for the tests,
#     python3-onnx/numpy for the model tools)
#   - ONNX Runtime from its npm package, unpacked into a cache outside the clone
# The cache lives in $KEEPFRAME_CACHE (default ~/.cache/keepframe).
set -euo pipefail

CACHE="${KEEPFRAME_CACHE:-$HOME/.cache/keepframe}"
ORT_PKG="com.github.asus4.onnxruntime"
ORT_PKG_VERSION="0.4.9"
ORT_DIR="$CACHE/onnxruntime-$ORT_PKG_VERSION"

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  clang libclang-rt-14-dev
  qt6-base-dev qt6-declarative-dev qt6-httpserver-dev libqt6sql6-sqlite
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-dialogs qml6-module-qtquick-templates qml6-module-qtquick-window
  qml6-module-qtqml-workerscript qml6-module-qtquick-shapes
  libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-calib3d-dev
  libraw-dev libexiv2-dev libjpeg62-turbo-dev
  libgtest-dev libgmock-dev
  python3 python3-onnx python3-numpy python3-pil
  libimage-exiftool-perl
)

missing=()
# npm may come with another Node.js install; Debian's own is only needed without one.
if ! command -v npm >/dev/null 2>&1; then PACKAGES+=(npm); fi
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${#missing[@]} Debian packages: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  echo "setup: Debian packages present"
fi

# ONNX Runtime: only the Linux x64 library and the C/C++ headers are unpacked.
if [ -f "$ORT_DIR/.complete" ]; then
  echo "setup: ONNX Runtime present in $ORT_DIR"
else
  echo "setup: fetching ONNX Runtime ($ORT_PKG@$ORT_PKG_VERSION)"
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  expected="$(cd "$work" && npm view "$ORT_PKG@$ORT_PKG_VERSION" dist.integrity)"
  case "$expected" in
    sha512-*) ;;
    *) echo "setup: the npm registry gave no sha512 integrity for $ORT_PKG@$ORT_PKG_VERSION" >&2; exit 1 ;;
  esac
  tgz_name="$(cd "$work" && npm pack "$ORT_PKG@$ORT_PKG_VERSION" --silent --pack-destination "$work" | tail -n 1)"
  tgz="$work/$tgz_name"
  actual="sha512-$(openssl dgst -sha512 -binary "$tgz" | base64 -w0)"
  if [ "$actual" != "$expected" ]; then
    echo "setup: $tgz_name does not match the registry's integrity value; refusing it" >&2
    exit 1
  fi
  hdr="package/Plugins/iOS~/onnxruntime.xcframework/ios-arm64_x86_64-simulator/onnxruntime.framework/Headers"
  lib="package/Plugins/Linux/x64/libonnxruntime.so"
  tar -xzf "$tgz" -C "$work" "$lib" "$hdr"
  rm -rf "$ORT_DIR"
  mkdir -p "$ORT_DIR/lib" "$ORT_DIR/include"
  cp "$work/$lib" "$ORT_DIR/lib/libonnxruntime.so.1"
  ln -sf libonnxruntime.so.1 "$ORT_DIR/lib/libonnxruntime.so"
  cp -r "$work/$hdr/." "$ORT_DIR/include/"
  touch "$ORT_DIR/.complete"
  echo "setup: ONNX Runtime unpacked into $ORT_DIR"
fi

# The face models are built from pretrained source files kept outside the
# project (see tools/modelkit); the build runs the kit when they are present.
root="$(cd "$(dirname "$0")/.." && pwd)"
sources="${KEEPFRAME_MODEL_SOURCES:-$root/../shared/models/src}"
if [ ! -f "$sources/MANIFEST.md" ]; then
  echo "setup: no model sources in $sources: put the pretrained files there (or set KEEPFRAME_MODEL_SOURCES) to get face analysis"
fi
