#!/usr/bin/env bash
# An arm64 folder of Debian's own packages, unpacked with dpkg -x: the CUPS,
# libpng and zlib development files the cross build links against, and an
# arm64 Node with every library it and libcups load, for qemu-aarch64 -L.
# apt works on a private state of its own (architecture arm64, this
# machine's sources), so the host's package lists and packages stay as they are.
#   scripts/arm64-sysroot.sh [DIR]    default: build-arm64/sysroot
set -euo pipefail
cd "$(dirname "$0")/.."
dest=$(realpath -m "${1:-build-arm64/sysroot}")
state=$(realpath -m "$dest/../apt")
mkdir -p "$state/lists/partial" "$state/archives/partial" "$state/etc"
: >"$state/status"
opts=(-o "APT::Architecture=arm64" -o "APT::Architectures::=arm64"
  -o "Dir::State=$state" -o "Dir::State::Lists=$state/lists" -o "Dir::State::status=$state/status"
  -o "Dir::Cache=$state" -o "Dir::Cache::archives=$state/archives" -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root")
apt-get "${opts[@]}" update -qq

# What runs: node and libcups with everything they need; what builds: the headers.
run=(nodejs libcups2 libpng16-16 zlib1g)
dev=(libcups2-dev libpng-dev zlib1g-dev)
mapfile -t closure < <(apt-cache "${opts[@]}" depends --recurse --no-recommends --no-suggests \
  --no-conflicts --no-breaks --no-replaces --no-enhances "${run[@]}" | grep -v '^ ' | grep -v '^<' | sort -u)
(cd "$state/archives" && apt-get "${opts[@]}" download -qq "${closure[@]}" "${dev[@]}")
rm -rf "$dest"
mkdir -p "$dest"
for deb in "$state"/archives/*.deb; do dpkg -x "$deb" "$dest"; done
# The development links point at absolute paths; make them relative to the folder.
find "$dest" -type l -lname '/*' | while read -r link; do
  ln -sfn "$dest$(readlink "$link")" "$link"
done
echo "arm64-sysroot: $dest: ${#closure[@]} packages and ${#dev[@]} development ones, node $(cat "$dest/usr/share/doc/nodejs/changelog.Debian.gz" >/dev/null 2>&1 && zcat "$dest/usr/share/doc/nodejs/changelog.Debian.gz" | awk 'NR == 1 { print $2 }')"
