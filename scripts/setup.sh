#!/usr/bin/env bash
# Installs everything Keepframe needs on Debian 12 and is safe to run again:
# a second run installs nothing and downloads nothing.
#   - Debian packages (build tools, Qt 6, OpenCV, LibRaw, Exiv2, GoogleTest,
#     qmllint with the type information of the QML modules it checks against,
#     exiftool as an independent metadata reader for the tests, the gallery
#     service's HTTP server, JSON, Argon2, OpenSSL, SQLite, PostgreSQL 15, nginx
#     and OpenCV's QR encoder, chromium with its WebDriver and Python's
#     selenium (the gallery page's browser tests and screenshots),
#     python3-onnx/numpy for the model tools, the validators of the desktop
#     entry and the AppStream file for the package)
#   - ONNX Runtime from its npm package, unpacked into a cache outside the clone
#   - the desktop program's fonts (Inter from Debian; Big Shoulders Display and
#     IBM Plex Mono from npm packages), with their licence texts, in the cache
#   - the face models' pretrained source files, when no local folder holds them,
#     from their public origins (tools/modelkit), in the cache
# The cache lives in $KEEPFRAME_CACHE (default ~/.cache/keepframe).
set -euo pipefail

CACHE="${KEEPFRAME_CACHE:-$HOME/.cache/keepframe}"
ORT_PKG="com.github.asus4.onnxruntime"
ORT_PKG_VERSION="0.4.9"
ORT_DIR="$CACHE/onnxruntime-$ORT_PKG_VERSION"
FONT_DIR="$CACHE/fonts"

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  build-essential cmake ninja-build pkg-config git ca-certificates ccache
  clang libclang-rt-14-dev
  qt6-base-dev qt6-declarative-dev qt6-httpserver-dev libqt6sql6-sqlite
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-dialogs qml6-module-qtquick-templates qml6-module-qtquick-window
  qml6-module-qtqml-workerscript qml6-module-qtquick-shapes
  qml6-module-qt-labs-folderlistmodel qml6-module-qtcore
  qt6-declarative-dev-tools qml6-module-qtqml qml6-module-qtqml-models
  libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-calib3d-dev
  libraw-dev libexiv2-dev libjpeg62-turbo-dev libtiff-dev zlib1g-dev
  libgtest-dev libgmock-dev
  python3 python3-onnx python3-numpy python3-pil
  fonts-inter
  libimage-exiftool-perl
  locales
  desktop-file-utils appstream
  libcpp-httplib-dev libargon2-dev libssl-dev libsqlite3-dev libpq-dev postgresql-15 nginx
  nlohmann-json3-dev libopencv-objdetect-dev
  chromium chromium-driver python3-selenium
)

# KEEPFRAME_WINDOWS_CHECK=1: also the MinGW-w64 cross compiler, with which
# scripts/check-windows.sh compiles the Windows branches of the platform layer.
if [ "${KEEPFRAME_WINDOWS_CHECK:-}" = 1 ]; then PACKAGES+=(g++-mingw-w64-x86-64-posix); fi

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

# An npm package fetched with `npm pack` and checked against the registry's
# integrity value; prints the path of the verified tarball inside $2.
fetch_npm_package() {
  local package="$1" dest="$2" expected tgz_name tgz actual
  expected="$(cd "$dest" && npm view "$package" dist.integrity)"
  case "$expected" in
    sha512-*) ;;
    *) echo "setup: the npm registry gave no sha512 integrity for $package" >&2; return 1 ;;
  esac
  tgz_name="$(cd "$dest" && npm pack "$package" --silent --pack-destination "$dest" | tail -n 1)"
  tgz="$dest/$tgz_name"
  actual="sha512-$(openssl dgst -sha512 -binary "$tgz" | base64 -w0)"
  if [ "$actual" != "$expected" ]; then
    echo "setup: $tgz_name does not match the registry's integrity value; refusing it" >&2
    return 1
  fi
  echo "$tgz"
}

# ONNX Runtime: only the Linux x64 library and the C/C++ headers are unpacked.
if [ -f "$ORT_DIR/.complete" ]; then
  echo "setup: ONNX Runtime present in $ORT_DIR"
else
  echo "setup: fetching ONNX Runtime ($ORT_PKG@$ORT_PKG_VERSION)"
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  tgz="$(fetch_npm_package "$ORT_PKG@$ORT_PKG_VERSION" "$work")"
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

# Fonts of the desktop program, all under the SIL Open Font Licence 1.1, under
# the names the program looks for, each with its licence text beside it.
# The static Inter (family "Inter") comes from Debian's fonts-inter.
BIG_SHOULDERS_PKG="@expo-google-fonts/big-shoulders-display@0.2.3"
PLEX_MONO_PKG="@expo-google-fonts/ibm-plex-mono@0.4.1"
if [ -f "$FONT_DIR/.complete" ]; then
  echo "setup: fonts present in $FONT_DIR"
else
  echo "setup: fetching fonts ($BIG_SHOULDERS_PKG, $PLEX_MONO_PKG)"
  fwork="$(mktemp -d)"
  trap 'rm -rf "$fwork" "${work:-}"' EXIT
  shoulders="$(fetch_npm_package "$BIG_SHOULDERS_PKG" "$fwork")"
  plex="$(fetch_npm_package "$PLEX_MONO_PKG" "$fwork")"
  tar -xzf "$shoulders" -C "$fwork" package/BigShouldersDisplay_700Bold.ttf
  mv "$fwork/package" "$fwork/shoulders"
  tar -xzf "$plex" -C "$fwork" package/400Regular/IBMPlexMono_400Regular.ttf \
    package/500Medium/IBMPlexMono_500Medium.ttf package/LICENSE_FONT
  mv "$fwork/package" "$fwork/plex"
  inter=""
  for candidate in /usr/share/fonts/opentype/inter/Inter-Regular.otf \
                   /usr/share/fonts/truetype/inter/Inter-Regular.ttf; do
    if [ -f "$candidate" ]; then inter="$candidate"; break; fi
  done
  if [ -z "$inter" ]; then
    echo "setup: fonts-inter did not install Inter-Regular; the program will use the system font" >&2
  fi
  rm -rf "$FONT_DIR.tmp"
  mkdir -p "$FONT_DIR.tmp"
  cp "$fwork/shoulders/BigShouldersDisplay_700Bold.ttf" "$FONT_DIR.tmp/BigShouldersDisplay.ttf"
  cp "$fwork/plex/400Regular/IBMPlexMono_400Regular.ttf" "$FONT_DIR.tmp/IBMPlexMono-Regular.ttf"
  cp "$fwork/plex/500Medium/IBMPlexMono_500Medium.ttf" "$FONT_DIR.tmp/IBMPlexMono-Medium.ttf"
  cp "$fwork/plex/LICENSE_FONT" "$FONT_DIR.tmp/IBMPlexMono-OFL.txt"
  # The Big Shoulders package carries no licence file; the font names the OFL
  # 1.1 in its own name table. Its copyright line, then the licence text.
  {
    echo "Copyright 2019 The Big Shoulders Project Authors (https://github.com/xotypeco/big_shoulders)"
    echo
    echo "This Font Software is licensed under the SIL Open Font License, Version 1.1."
    echo
    sed -n '/^SIL OPEN FONT LICENSE Version 1.1/,$p' "$fwork/plex/LICENSE_FONT" |
      sed '1i -----------------------------------------------------------'
  } > "$FONT_DIR.tmp/BigShouldersDisplay-OFL.txt"
  if [ -n "$inter" ]; then
    cp "$inter" "$FONT_DIR.tmp/Inter.ttf"
    cp /usr/share/doc/fonts-inter/copyright "$FONT_DIR.tmp/Inter-OFL.txt"
  fi
  rm -rf "$FONT_DIR"
  mv "$FONT_DIR.tmp" "$FONT_DIR"
  if [ -n "$inter" ]; then touch "$FONT_DIR/.complete"; fi
  echo "setup: fonts unpacked into $FONT_DIR"
fi

# The face models are built from pretrained source files: a local folder that
# holds the four default ones ($KEEPFRAME_MODEL_SOURCES, else ../shared/models/src)
# is used as it is; otherwise the model kit downloads them into
# $CACHE/model-sources and verifies their sha256. Without them the build still
# succeeds and the program reports the missing models. The kit bounds every
# download in length and time; the outer limit also covers a name lookup that
# never returns or a wait for another clone's fetch into the same cache.
root="$(cd "$(dirname "$0")/.." && pwd)"
kit=(/usr/bin/python3 "$root/tools/modelkit/modelkit.py")
if sources="$(KEEPFRAME_CACHE="$CACHE" "${kit[@]}" locate)"; then
  echo "setup: model sources present in $sources"
elif ! KEEPFRAME_CACHE="$CACHE" timeout --kill-after=10 900 "${kit[@]}" fetch; then
  echo "setup: continuing without face models; keepframe-cull will report them missing" >&2
fi
