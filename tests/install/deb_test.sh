#!/usr/bin/env bash
# cpack -G DEB makes the three packages with what each should hold.
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "deb test: $*" >&2; exit 1; }
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
has() {  # package, path pattern
  local deb
  deb=$(ls "$out"/"$1"_*.deb 2>/dev/null | head -1)
  [ -n "$deb" ] || fail "no $1 package"
  dpkg-deb -c "$deb" | grep -E "$2" >/dev/null || fail "$1 lacks $2"
}
has libzivra0 '/libzivra\.so\.0( |$)'
has libzivra0 '/libcodara\.so\.0( |$)'
has libzivra-dev '/include/zivra/zivra\.h$'
has libzivra-dev '/pkgconfig/zivra\.pc$'
has libzivra-dev '/cmake/Zivra/ZivraConfig\.cmake$'
has zivra-tools '/bin/zivra$'
has zivra-tools '/udev/rules\.d/70-zivra\.rules$'
has zivra-tools '/man1/zivra\.1'
has zivra-tools '/zivra/web/index\.html$'
dpkg-deb -f "$out"/zivra-tools_*.deb Depends | grep libzivra0 >/dev/null || fail "zivra-tools does not depend on libzivra0"
echo "deb test: passed"
