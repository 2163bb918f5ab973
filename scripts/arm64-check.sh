#!/usr/bin/env bash
# The linux-arm64 binary, cross-built here, where it will run: an arm64 Node
# from Debian's arm64 packages under qemu-aarch64 (Debian's qemu-user-static),
# with -L on the folder scripts/arm64-sysroot.sh unpacks. The packed tarball is
# installed into an app, and scripts/guest-check.js has the emulated Node load
# it, render every language byte-identical to the x64 renders and print one
# label through a private scheduler's socket.
#   scripts/arm64-check.sh [TARBALL]    default: npm pack of this checkout,
#                                       which cross-builds the arm64 binary
# Needs root for apt-get when the cross compiler or qemu is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
work=$(mktemp -d /tmp/label-arm64-XXXXXX)
trap 'rm -rf "$work"' EXIT

if ! command -v aarch64-linux-gnu-g++ >/dev/null || ! command -v qemu-aarch64-static >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq crossbuild-essential-arm64 qemu-user-static >/dev/null
fi
sysroot=${TRACE_LABEL_ARM64_SYSROOT:-$PWD/build-arm64/sysroot}
[ -e "$sysroot/usr/bin/node" ] || bash scripts/arm64-sysroot.sh "$sysroot"

if [ $# -gt 0 ]; then
  tarball=$(realpath "$1")
else
  TRACE_LABEL_ARM64_SYSROOT=$sysroot npm pack --pack-destination "$work" >"$work/pack.log" 2>&1 ||
    { cat "$work/pack.log" >&2; exit 1; }
  tarball=$(echo "$work"/trace-label-printer-*.tgz)
fi
mkdir "$work/unpacked"
tar -xzf "$tarball" -C "$work/unpacked"
mapfile -t shipped < <(find "$work/unpacked/package/prebuilds/linux-arm64" -name '*.node' 2>/dev/null | sort)
[ ${#shipped[@]} -gt 0 ] || { echo "arm64-check: $(basename "$tarball") ships no linux-arm64 binary" >&2; exit 1; }
bash scripts/symbol-floor.sh "${shipped[@]}"

mkdir "$work/app"
echo '{ "name": "app", "version": "1.0.0", "private": true }' >"$work/app/package.json"
(cd "$work/app" && npm install --no-audit --no-fund --loglevel=error "$tarball") >"$work/npm.log" 2>&1 ||
  { cat "$work/npm.log" >&2; exit 1; }

emulated=$SECONDS
node scripts/guest-check.js host "$work/app" "$work/out" -- \
  qemu-aarch64-static -L "$sysroot" "$sysroot/usr/bin/node" "$PWD/scripts/guest-check.js" guest "$work/app" "$work/out"
echo "arm64-check: the arm64 binary loads, renders and prints under qemu ($((SECONDS - emulated)) s emulated, $((SECONDS - start)) s in all)"
