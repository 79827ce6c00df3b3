#!/usr/bin/env bash
# Fuzzes every harness (or the HARNESSes named) for SECONDS (default 60) or, with
# RUNS=n, for n executions, and prints executions and coverage per harness:
#   scripts/fuzz.sh [SECONDS] [HARNESS...]
# Builds the `fuzz` preset first.
# New inputs go to build/fuzz/corpus-work/<harness>; crashes to build/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || for dir in fuzz/corpus/*/; do harnesses+=("$(basename "$dir")"); done
for h in "${harnesses[@]}"; do
  [ -d "fuzz/corpus/$h" ] || { echo "no harness '$h' (its corpus fuzz/corpus/$h is missing)" >&2; exit 2; }
done
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "${ZV_JOBS:-$(nproc)}" >/dev/null
mkdir -p build/fuzz/findings
status=0
printf '%-16s %12s %8s %8s %s\n' harness executions cov ft result
for h in "${harnesses[@]}"; do
  dir=fuzz/corpus/$h
  work=build/fuzz/corpus-work/$h
  mkdir -p "$work"
  limit=(-max_total_time="$seconds")
  [ -n "${RUNS:-}" ] && limit=(-runs="$RUNS")
  dict=()
  [ -f "fuzz/dict/$h.dict" ] && dict=(-dict="fuzz/dict/$h.dict")
  log=build/fuzz/$h.log
  result=ok
  if ! ASAN_OPTIONS=detect_leaks=1 build/fuzz/fuzz/fuzz_"$h" "${limit[@]}" "${dict[@]}" \
      -artifact_prefix=build/fuzz/findings/"$h"- -print_final_stats=1 "$work" "$dir" >"$log" 2>&1; then
    result="FINDING (see $log)"
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  printf '%-16s %12s %8s %8s %s\n' "$h" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
exit $status
