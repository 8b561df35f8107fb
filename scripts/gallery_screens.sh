#!/usr/bin/env bash
# Builds if needed, then runs the gallery page's browser tests against
# keepframe-gallery on loopback (a delivery of the identity-labelled test
# photographs, with the build's face models) and saves a PNG of each state of
# the page into OUT, at a desktop size and a phone size.
#   scripts/gallery_screens.sh OUT
set -euo pipefail
if [ $# -ne 1 ]; then echo "usage: scripts/gallery_screens.sh OUT" >&2; exit 2; fi
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh" >/dev/null
out="$(mkdir -p "$1" && cd "$1" && pwd)"
build="$root/build"
exec /usr/bin/python3 "$root/tests/gallery/browser_test.py" --gallery "$build/gallery/keepframe-gallery" \
  --seed "$build/tools/keepframe-gallery-seed" --models "$build/app/models" \
  --photos "$root/../shared/testphotos/identities" --screens "$out" GalleryPage
