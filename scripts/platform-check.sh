#!/usr/bin/env bash
# CI's proof of the shipped binaries, over one packed tarball: the arm64
# folder first (so that packing cross-builds linux-arm64 too), then the
# installs with npm, yarn and pnpm (install-check.sh, which checks every Linux
# binary's symbol floor), the x64 binary in a Debian 11 root
# (old-linux-check.sh) and the arm64 one under qemu (arm64-check.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d /tmp/label-platforms-XXXXXX)
trap 'rm -rf "$work"' EXIT
step() { # NAME COMMAND...
  local name=$1 start=$SECONDS
  shift
  "$@"
  echo "platform-check: $name took $((SECONDS - start)) s"
}

if ! command -v aarch64-linux-gnu-g++ >/dev/null || ! command -v qemu-aarch64-static >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq crossbuild-essential-arm64 qemu-user-static >/dev/null
fi
step arm64-sysroot bash scripts/arm64-sysroot.sh
pack() { npm pack --pack-destination "$work" >"$work/pack.log" 2>&1 || { cat "$work/pack.log" >&2; exit 1; }; }
step pack pack
grep '^prebuild:' "$work/pack.log"
tarball=$(echo "$work"/trace-label-printer-*.tgz)
step install-check bash scripts/install-check.sh "$tarball"
step old-linux-check bash scripts/old-linux-check.sh "$tarball"
step arm64-check bash scripts/arm64-check.sh "$tarball"
