#!/usr/bin/env bash
# The kit's main job in one command: installs what is missing, builds, and runs a short
# session of the zivra client against a simulated dongle kept in a temporary file — from
# finding the dongle to recording, listing, saving, restoring, sending and capturing IR —
# then decodes a sample capture with codara. Exits non-zero as soon as a step fails or
# shows something other than it should.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "${ZV_JOBS:-$(nproc)}" --target zivra_cli codara_cli zivra_sim

tools=build/dev/tools
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_STATE_HOME="$work"

zivra() {
  printf '\n$ zivra %s\n' "$*"
  "$tools/zivra/zivra" --simulate=fw4.10 "$@"
}
# Runs zivra and fails unless its output holds the expected text; the command line,
# the prompts it writes to standard error and its output are shown in order.
expect() {
  local want=$1
  shift
  local out
  out=$(zivra "$@" 2>&1)  # its prompts and notes stay with its output
  printf '%s\n' "$out"
  grep -qF -- "$want" <<<"$out" || { echo "demo: expected '$want'" >&2; exit 1; }
}

expect "state:          application" info
expect "Recorded a." record a
expect "Recorded vol_up." record vol_up
expect "vol_up" list
expect "Saved" save "$work/buttons.cfg"
expect "Erased 2 buttons." format --yes
expect "No buttons recorded." list
expect "Loaded" load "$work/buttons.cfg"
expect "vol_up" list
expect "Sent NEC 0x5B0104" send NEC 0x5B0104
# The simulated remote: the button recorded as "a", then two others.
expect "key=a" capture --sim-ir NEC:0x510004,RC5:0x1416,SONY12:0x100000 --count 3
printf '\n$ codara decode samples/encoded/NEC-0xF708FB04.mode2\n'
out=$("$tools/codara/codara" decode samples/encoded/NEC-0xF708FB04.mode2)
printf '%s\n' "$out"
grep -qF "0xF708FB04" <<<"$out" || { echo "demo: codara did not decode the sample" >&2; exit 1; }
printf '\ndemo: every step passed\n'
