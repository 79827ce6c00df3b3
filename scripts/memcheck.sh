#!/usr/bin/env bash
# Runs every test program of the dev build under valgrind memcheck: any invalid
# access, use of uninitialised memory or definite leak fails it. Slow (the fault
# matrix alone takes minutes), so not part of .ci/run. Pass test program names
# (e.g. upgrade_test) to run only those.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
command -v valgrind >/dev/null || { echo "valgrind is not installed (apt-get install valgrind)"; exit 2; }
cmake --preset dev >/dev/null
cmake --build --preset dev -j "${ZV_JOBS:-$(nproc)}" >/dev/null
status=0
for exe in $(find build/dev/tests -type f -perm -u+x -name '*_test' | sort); do
  name=$(basename "$exe")
  if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
  if (cd "$(dirname "$exe")" && ZV_SOURCE_DIR="$PWD/../../../.." ZV_SOAK_SCALE=0.01 \
      valgrind -q --suppressions="$OLDPWD/scripts/memcheck.supp" --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
      "./$name" --gtest_brief=1 >"/tmp/memcheck.$name.log" 2>&1); then
    echo "clean  $name"
  else
    echo "ERRORS $name (see /tmp/memcheck.$name.log)"
    status=1
  fi
done
exit $status
