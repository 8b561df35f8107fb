#!/usr/bin/env bash
# Builds the EXIF walker's libFuzzer target with clang and runs it for a set
# time (default 600 s). Exit code 0 means no crash and no sanitizer report.
#   bench/fuzz_exif.sh [SECONDS]
set -euo pipefail
seconds="${1:-600}"
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh" >/dev/null
build="$root/build-fuzz"
CXX=clang++ cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" fuzz_exif >/dev/null

corpus="$build/corpus"
if [ ! -d "$corpus" ]; then
  mkdir -p "$corpus"
  "$root/build/tools/keepframe-make-shoot" "$corpus" --count 3 --size 64x48 >/dev/null
fi
echo "fuzz_exif: running for ${seconds}s on $(nproc) core(s)"
"$build/fuzz_exif" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 "$corpus" 2>"$build/fuzz.log" || {
  tail -n 40 "$build/fuzz.log"; echo "fuzz_exif: FAILED (log: $build/fuzz.log)"; exit 1; }
grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$build/fuzz.log" || true
echo "fuzz_exif: no crash in ${seconds}s"
