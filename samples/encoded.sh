#!/usr/bin/env bash
# Writes samples/encoded/ with the kit's own encoder: one frame per protocol, scancode and
# format. Usage: samples/encoded.sh [path/to/codara]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
codara=${1:-$here/../build/dev/tools/codara/codara}
out=$here/encoded
mkdir -p "$out"
while read -r proto scancode; do
  for format in raw mode2 pronto; do
    ext=$format; [ "$format" = raw ] && ext=irctl
    echo "codara encode $proto $scancode --format $format > encoded/$proto-$scancode.$ext"
    "$codara" encode "$proto" "$scancode" --format "$format" > "$out/$proto-$scancode.$ext"
  done
done <<'LIST'
NEC 0xF708FB04
NECX 0xF7081204
RC5 0x0535
RC6_0 0x800C
SONY12 0x09500000
SONY15 0x97340000
SONY20 0x49D39000
PANASONIC 0x353D0008
ZIVRA 0x2A135
LIST
