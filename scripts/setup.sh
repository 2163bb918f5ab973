#!/usr/bin/env bash
# Makes this machine ready to work on the add-on: Debian packages, then the
# npm dependencies and the add-on itself.
#   scripts/setup.sh           everything to build and test; npm ci if needed; build
#   scripts/setup.sh --check   only the Debian packages to build and test (the test scripts use it)
#   scripts/setup.sh --demo    only what `npm run demo` needs: the CUPS scheduler, and the
#                              build tools only when no binary of the add-on is at hand
# As root it installs missing packages itself; otherwise it stops and prints
# the exact apt-get line to run.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
run_packages=(cups-daemon cups-client nodejs npm)
build_packages=(g++ cmake ninja-build pkg-config libcups2-dev libpng-dev zlib1g-dev)
test_packages=(libgtest-dev libgmock-dev libbenchmark-dev clang-format cups-ipp-utils avahi-daemon dbus)

install_missing() {
  local missing=() pkg
  for pkg in "$@"; do
    # nodejs and npm may come from elsewhere than Debian (nvm, NodeSource).
    case "$pkg" in
      nodejs) command -v node >/dev/null && continue ;;
      npm) command -v npm >/dev/null && continue ;;
    esac
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  ((${#missing[@]})) || return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "Missing Debian packages. Run:" >&2
    echo "  sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
}

have_binaries() {
  node -e "const { nativePath } = require('./lib/native-path');
    nativePath();" 2>/dev/null
}

if [ "$mode" = --demo ]; then
  install_missing "${run_packages[@]}"
  have_binaries || install_missing "${build_packages[@]}"
else
  install_missing "${run_packages[@]}" "${build_packages[@]}" "${test_packages[@]}"
fi
[ "$mode" = --check ] && exit 0

# npm ci runs the install step, which builds the add-on when no binary is at hand.
[ -d node_modules/pngjs ] && [ -d node_modules/qrcode ] && { have_binaries || [ -d node_modules/cmake-js ]; } ||
  npm ci --no-audit --no-fund
have_binaries || npx cmake-js compile --out build
