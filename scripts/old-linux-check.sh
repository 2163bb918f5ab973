#!/usr/bin/env bash
# The x64 binary where the oldest supported desktops are: a Debian 11
# (bullseye, glibc 2.31) root made with debootstrap from the Debian registry.
# This machine's Node goes in (its own floor is glibc 2.28; bullseye's nodejs
# is 12, too old for the package); npm installs the packed tarball into an app
# in the root, and scripts/guest-check.js has it render every language there,
# byte-identical to this machine's renders, and print one label through a
# private scheduler here, whose socket is bind-mounted into the root; the
# root has no cupsd, so `trace-label demo` there must name what to install. The
# mounts live in a private mount namespace (unshare), so they end with it.
#   scripts/old-linux-check.sh [TARBALL]    default: npm pack of this checkout
# Needs root. The root debootstrap made is kept in /var/cache/trace-label
# (delete it to make it anew).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
suite=bullseye
mirror=http://deb.debian.org/debian
cache=/var/cache/trace-label/debootstrap-$suite
start=$SECONDS
work=$(mktemp -d /tmp/label-old-linux-XXXXXX)
trap 'rm -rf --one-file-system "$work"' EXIT

[ "$(id -u)" -eq 0 ] || { echo "old-linux-check: needs root (debootstrap, chroot)" >&2; exit 1; }
if ! command -v debootstrap >/dev/null; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
fi

if [ $# -gt 0 ]; then
  tarball=$(realpath "$1")
else
  npm pack --pack-destination "$work" >"$work/pack.log" 2>&1 || { cat "$work/pack.log" >&2; exit 1; }
  tarball=$(echo "$work"/trace-label-printer-*.tgz)
fi

# Only the first stage: unpacking the essential packages is all a program run
# in the root needs; configuring them (the second stage) would take minutes.
# The packages it fetched besides (libcups2 and what it needs) are unpacked too.
# The root is made once per machine (about 2.5 minutes) and each run works on a copy.
made=$cache/root
if [ ! -e "$made/.complete" ]; then
  rm -rf --one-file-system "$made"
  mkdir -p "$cache/debs"
  debootstrap --foreign --variant=minbase --include=libcups2 --cache-dir="$cache/debs" \
    "$suite" "$made" "$mirror" >"$work/debootstrap.log" 2>&1 || { tail -20 "$work/debootstrap.log" >&2; exit 1; }
  for deb in "$made"/var/cache/apt/archives/*.deb; do dpkg -x "$deb" "$made"; done
  rm -f "$made"/var/cache/apt/archives/*.deb
  touch "$made/.complete"
fi
root=$work/root
cp -a "$made" "$root"
glibc=$(chroot "$root" /usr/bin/ldd --version | awk 'NR == 1 { print $NF }')
echo "old-linux-check: Debian $(cat "$root/etc/debian_version") root, glibc $glibc ($((SECONDS - start)) s)"

# This machine's Node and npm, and what a resolver needs to reach the registry.
node=$(command -v node)
npm_root=$(dirname "$(dirname "$(readlink -f "$(command -v npm)")")")
mkdir -p "$root/usr/local/bin" "$root/usr/local/lib/node_modules" "$root/app"
cp "$(readlink -f "$node")" "$root/usr/local/bin/node"
cp -r "$npm_root" "$root/usr/local/lib/node_modules/npm"
cp /etc/resolv.conf /etc/hosts "$root/etc/"
# A machine whose registry traffic goes through its own CA names it here.
if [ -n "${NODE_EXTRA_CA_CERTS:-}" ]; then
  mkdir -p "$root$(dirname "$NODE_EXTRA_CA_CERTS")"
  cp "$NODE_EXTRA_CA_CERTS" "$root$NODE_EXTRA_CA_CERTS"
fi
cp "$tarball" "$root/app/package.tgz"
cp scripts/guest-check.js "$root/app/"
echo '{ "name": "app", "version": "1.0.0", "private": true }' >"$root/app/package.json"

# The host's own install of the same tarball makes the renders to compare with.
mkdir "$work/host-app"
echo '{ "name": "host-app", "version": "1.0.0", "private": true }' >"$work/host-app/package.json"
(cd "$work/host-app" && npm install --no-audit --no-fund --loglevel=error "$tarball") >"$work/host-npm.log" 2>&1 ||
  { cat "$work/host-npm.log" >&2; exit 1; }

# Runs ARGS in the root with /dev, /proc and the scheduler's folder mounted.
cat >"$work/in-root.sh" <<'EOF'
#!/usr/bin/env bash
set -euo pipefail
root=$1
shift
mount --bind /dev "$root/dev"
mount -t proc proc "$root/proc"
if [ -n "${CUPS_SERVER:-}" ]; then
  mkdir -p "$root$(dirname "$CUPS_SERVER")"
  mount --bind "$(dirname "$CUPS_SERVER")" "$root$(dirname "$CUPS_SERVER")"
fi
exec chroot "$root" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/tmp CUPS_SERVER="${CUPS_SERVER:-}" \
  NODE_EXTRA_CA_CERTS="${NODE_EXTRA_CA_CERTS:-}" "$@"
EOF
in_root() { unshare --mount --propagation private bash "$work/in-root.sh" "$root" "$@"; }

install_start=$SECONDS
in_root sh -c 'cd /app && node /usr/local/lib/node_modules/npm/bin/npm-cli.js install --no-audit --no-fund --loglevel=error ./package.tgz' \
  >"$work/npm.log" 2>&1 || { cat "$work/npm.log" >&2; echo "old-linux-check: npm install in the root failed" >&2; exit 1; }
echo "old-linux-check: npm installed the tarball in the root ($((SECONDS - install_start)) s)"

# The root has no cupsd: the demo must say what to install, and print nothing.
status=0
in_root sh -c 'cd /app && node_modules/.bin/trace-label demo' >"$work/demo.log" 2>&1 || status=$?
if [ "$status" -ne 1 ] || ! grep -q 'apt-get install cups-daemon cups-client' "$work/demo.log"; then
  cat "$work/demo.log" >&2
  echo "old-linux-check: without cupsd the demo exited $status and did not name the packages to install" >&2
  exit 1
fi
echo "old-linux-check: without cupsd the demo says: $(head -1 "$work/demo.log")"

node scripts/guest-check.js host "$work/host-app" "$root/out" -- \
  unshare --mount --propagation private bash "$work/in-root.sh" "$root" node /app/guest-check.js guest /app /out
echo "old-linux-check: glibc $glibc loads, renders and prints ($((SECONDS - start)) s)"
