#!/usr/bin/env bash
# Sets everything up, builds, and culls a shoot with keepframe-cull.
#   scripts/run.sh [FOLDER] [keepframe-cull options]
# Without a folder, a small demo shoot is generated (once) and culled.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh" >/dev/null
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
