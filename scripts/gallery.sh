#!/usr/bin/env bash
# Sets up, builds and starts keepframe-gallery, the studio's own delivery
# service, with SQLite in its data folder. The first start adds the
# photographer "studio" and prints their token and the address to paste into
# Keepframe's Account page.
#   scripts/gallery.sh [--port N] [--data DIR] [more keepframe-gallery serve options]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
port=8790
data="${KEEPFRAME_GALLERY_DATA:-$HOME/.local/share/keepframe-gallery}"
rest=()
while [ $# -gt 0 ]; do
  case "$1" in
    --port) port="${2:?--port needs a number}"; shift 2 ;;
    --data) data="${2:?--data needs a folder}"; shift 2 ;;
    *) rest+=("$1"); shift ;;
  esac
done
"$root/scripts/build.sh" >/dev/null
mkdir -p "$data"
exec "$root/build/gallery/keepframe-gallery" serve --port "$port" --data "$data" \
  --first-photographer studio "${rest[@]}"
