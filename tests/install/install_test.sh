#!/usr/bin/env bash
# Installs the kit into a temporary prefix as a user would, then builds a plain C client
# against it twice (pkg-config, find_package(Zivra)) and runs both, and the installed
# zivra tool, against the installed simulated dongle.
set -euo pipefail
build=$1 src=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libzivra.so' | head -1)")
[ -d "$libdir" ] || fail "libzivra.so not installed"
for lib in zivra codara; do
  [ -L "$libdir/lib$lib.so" ] || fail "lib$lib.so is not a link"
  soname=$(objdump -p "$libdir/lib$lib.so" | awk '/SONAME/ {print $2}')
  [ "$soname" = "lib$lib.so.0" ] && [ -e "$libdir/$soname" ] || fail "lib$lib.so: SONAME '$soname' not installed"
done
for f in include/zivra/zivra.h include/codara/codara.h bin/zivra bin/codara lib/udev/rules.d/70-zivra.rules \
         share/man/man1/zivra.1 share/man/man1/codara.1 share/zivra/web/index.html share/zivra/web/app.js; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done
sim="$libdir/zivra/libzivra_sim.so"
[ -e "$sim" ] || fail "the simulated dongle is not installed"

check() {  # runs a client under the installed sim
  out=$(ZIVRA_SIM_DEVICE=fw4.9 LD_PRELOAD="$sim" "$1")
  [ "$out" = $'firmware 4.9.0\nNEC 0x5B0104' ] || fail "$1 printed: $out"
}

export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Wpedantic -Werror "$src/tests/install/client.c" -o "$prefix/client_pc" \
  $(pkg-config --cflags --libs zivra codara) -Wl,-rpath,"$libdir"
check "$prefix/client_pc"

cmake -S "$src/tests/install/cmake_client" -B "$prefix/cm" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$prefix/cm" >/dev/null
check "$prefix/cm/client"

# The installed tool finds the installed sim and libraries by itself.
out=$(env -u LD_LIBRARY_PATH XDG_STATE_HOME="$prefix/state" "$prefix/bin/zivra" --simulate=fw4.9 info)
grep -qF "firmware:       4.9.0" <<<"$out" || fail "installed zivra --simulate info printed: $out"
[ -e "$prefix/state/zivra/sim-fw4.9.state" ] || fail "the simulated dongle was not kept"

# The installed zivra serve finds its installed page (the link's token becomes a cookie).
out="$prefix/serve.out"
XDG_STATE_HOME="$prefix/state" "$prefix/bin/zivra" serve --simulate=fw4.9 --no-open --port 0 >"$out" 2>&1 &
pid=$!
for _ in $(seq 100); do grep -q 'token=' "$out" && break; sleep 0.1; done
url=$(grep -o 'http://[^ ]*' "$out" || true)
page=$(python3 -c 'import sys, urllib.request as u
print(u.build_opener(u.HTTPCookieProcessor()).open(sys.argv[1], timeout=20).read().decode())' "$url" 2>&1 || true)
kill "$pid" && wait "$pid" || true
[[ "$page" == *'<title>Zivra dongle</title>'* ]] || fail "the installed zivra serve did not serve its page: $(cat "$out") $page"
echo "install test: passed"
