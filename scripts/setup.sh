#!/usr/bin/env bash
# Makes this machine ready to build and test the add-on: Debian packages,
# then the npm dependencies and the add-on itself.
#   scripts/setup.sh           install what is missing, npm ci if needed, build
#   scripts/setup.sh --check   only the Debian packages (used by the test script)
# As root it installs missing packages itself; otherwise it stops and prints
# the exact apt-get line to run.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake ninja-build pkg-config libcups2-dev cups-daemon cups-client
  libgtest-dev libgmock-dev libbenchmark-dev nodejs npm)
missing=()
for pkg in "${packages[@]}"; do
  # nodejs and npm may come from elsewhere than Debian (nvm, NodeSource).
  case "$pkg" in
    nodejs) command -v node >/dev/null && continue ;;
    npm) command -v npm >/dev/null && continue ;;
  esac
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done

if ((${#missing[@]})); then
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
fi

[ "${1:-}" = "--check" ] && exit 0

for dep in cmake-js node-api-headers pngjs qrcode; do
  if [ ! -d "node_modules/$dep" ]; then
    npm ci --no-audit --no-fund
    break
  fi
done
if [ ! -f build/Release/trace_label.node ] || [ ! -f build/Release/trace_label_render.node ]; then
  npx cmake-js compile --out build
fi
