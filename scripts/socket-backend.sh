#!/usr/bin/env bash
# CUPS's socket backend (AppSocket, port 9100) for the device tests. Debian
# ships it in the `cups` package, whose dependencies (ghostscript, the
# filters) the tests have no use for: this takes the backend alone out of
# that package into /usr/local/lib/trace-label/backend, where the rig
# (test/support/ipp-printer.js) looks after /usr/lib/cups/backend.
set -euo pipefail
dest=/usr/local/lib/trace-label/backend
if [ -x /usr/lib/cups/backend/socket ] || [ -x "$dest/socket" ]; then exit 0; fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
(cd "$tmp" && { apt-get download cups 2>/dev/null || { apt-get update -qq && apt-get download cups; }; })
dpkg-deb -x "$tmp"/cups_*.deb "$tmp/root"
install -D -m 0755 "$tmp/root/usr/lib/cups/backend-available/socket" "$dest/socket"
echo "socket backend: $dest/socket"
