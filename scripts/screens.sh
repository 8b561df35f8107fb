#!/usr/bin/env bash
# Builds if needed, then starts the desktop program headless on a generated
# demo shoot and saves a PNG of each state of the Cull page into OUT.
#   scripts/screens.sh OUT
set -euo pipefail
if [ $# -ne 1 ]; then echo "usage: scripts/screens.sh OUT" >&2; exit 2; fi
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh" >/dev/null
# The real models next to the program when the model kit built them, else the test models.
if [ ! -f "$root/build/app/models/buffalo_l/det_10g.onnx" ]; then export KEEPFRAME_MODELS="$root/build/test-models"; fi
exec "$root/build/app/keepframe-screens" "$1"
