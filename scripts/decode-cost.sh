#!/usr/bin/env bash
# Instructions per decoded frame of the full decode path (ir_decode_packet and all
# it calls), counted by callgrind: stable where wall-clock times are not.
#
#   scripts/decode-cost.sh [row...]        rows of bench/codara_decode_corpus.h, default all
#   PRESET=dev LEVEL=2 scripts/decode-cost.sh mixed
#   EXTENDED=1 scripts/decode-cost.sh          with the extended protocols registered, as the tools decode
#
# Builds bench_codara_decode_cost with the chosen preset (default release) when
# needed; LEVEL is the log level during the decodes (default 0, streams at /dev/null).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${PRESET:-release}
level=${LEVEL:-0}
command -v valgrind >/dev/null || { echo "valgrind is missing: scripts/install-deps.sh installs it" >&2; exit 1; }
[ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target bench_codara_decode_cost -j "${JOBS:-1}" >/dev/null
prog="build/$preset/bench/bench_codara_decode_cost"

rows=("$@")
[ ${#rows[@]} -gt 0 ] || rows=(mixed nec32 nec_repeat sony12 sony15 sony20 rc5 rc6_0 panasonic48 xmp)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf '%-12s %12s\n' row instr/frame
for row in "${rows[@]}"; do
  valgrind --tool=callgrind --toggle-collect=ir_decode_packet --callgrind-out-file="$tmp/cg.out" \
    "$prog" "$row" "$level" ${EXTENDED:+extended} >"$tmp/stdout" 2>"$tmp/valgrind.log" || { cat "$tmp/valgrind.log" >&2; exit 1; }
  frames=$(awk '/^frames/ {print $2}' "$tmp/stdout")
  total=$(awk -F': ' '/^(summary|totals):/ {print $2; exit}' "$tmp/cg.out")
  printf '%-12s %12d\n' "$row" $(( (total + frames / 2) / frames ))
done
