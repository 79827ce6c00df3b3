#!/usr/bin/env bash
# Installs the Debian packages the kit builds and tests with, when missing.
# Idempotent, quiet, non-interactive; uses sudo when not run as root.
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config clang
      libhidapi-dev libusb-1.0-0-dev
      libgtest-dev libgmock-dev libbenchmark-dev
      libcli11-dev nlohmann-json3-dev binutils
      man-db groff-base dpkg-dev file valgrind
      libcpp-httplib-dev libtomlplusplus-dev librsvg2-bin libpng-dev ir-keytable lirc
      python3-selenium chromium chromium-driver)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
