#!/usr/bin/env bash
# Sets everything up, builds, and starts Keepframe.
#   scripts/run.sh                      the desktop program (with a display)
#   scripts/run.sh FOLDER [options]     keepframe-cull on that folder
# Without a folder and without a display, a small demo shoot is generated
# (once) and culled on the command line.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh" >/dev/null
if [ $# -eq 0 ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec "$root/build/app/keepframe"
fi
if [ $# -eq 0 ]; then
  echo "run: no display for the desktop program; culling the demo shoot on the command line instead"
fi
if [ $# -eq 0 ] || [[ "$1" == -* ]]; then
  demo="${KEEPFRAME_CACHE:-$HOME/.cache/keepframe}/demo-shoot"
  if [ ! -d "$demo" ]; then
    photos="$root/../shared/testphotos"
    from=()
    if [ -d "$photos" ]; then from=(--from "$photos"); fi
    rm -rf "$demo.tmp"
    "$root/build/tools/keepframe-make-shoot" "$demo.tmp" --count 24 --size 3000x2000 "${from[@]}"
    mv "$demo.tmp" "$demo"
  fi
  set -- "$demo" --output "$root/build/demo-shoot_culled" "$@"
fi
exec "$root/build/app/keepframe-cull" "$@"
