#!/usr/bin/env bash
# Installs what is missing, builds the given preset (default: dev) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-dev}
scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "${ZV_JOBS:-$(nproc)}"
ctest --preset "$preset"
