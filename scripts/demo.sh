#!/usr/bin/env bash
# Installs what is missing, builds the codara tool and runs it on the sample captures:
# decode every hand-made sample, then encode a NEC scancode and decode it back.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target codara_cli
codara=build/dev/tools/codara/codara
$codara decode samples/hand/*
$codara encode NEC32 0xF708FB04 --format raw | $codara decode
