#!/usr/bin/env bash
# Sets everything up, builds Keepframe (scripts/build.sh) and makes the Debian
# package with CPack: build/package/keepframe_<version>_amd64.deb.
#   Install: apt-get install ./build/package/keepframe_*.deb
#   Remove:  apt-get purge keepframe
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh"
rm -rf "$root/build/package"
(cd "$root/build" && cpack -G DEB -B "$root/build/package" >/dev/null)
rm -rf "$root/build/package/_CPack_Packages"
ls "$root"/build/package/keepframe_*.deb
