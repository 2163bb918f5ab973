#!/usr/bin/env bash
# The sanitizer run N times in a row (default 5) while a second copy of the
# suite runs beside it, over and over: `npm test` in a clone of the committed
# tree, with its own build, private schedulers and job files. On two cores
# this is the busy machine a flaky test fails on. Stops at the first failing
# sanitizer run; a failed run beside it fails the whole too, with its log kept.
#   scripts/sanitize-beside.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
second=$(mktemp -d /tmp/label-beside-XXXXXX)
beside=
finish() {
  [ -z "$beside" ] || kill -KILL -- "-$beside" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap finish EXIT

git clone -q . "$second/tree"
(cd "$second/tree" && npm ci >"$second/setup.log" 2>&1) || {
  echo "the second copy did not install: $second/setup.log" >&2
  exit 1
}

# A session of its own, so that the suite running at the end goes with it;
# its temporary files (private schedulers among them) under $second, which
# the capture backend must be able to reach when it runs as "lp".
chmod 755 "$second"
mkdir -m 1777 "$second/tmp"
TMPDIR="$second/tmp" setsid bash -c '
  cd "$1/tree"
  for n in $(seq 1 1000); do
    if npm test >"$1/run-$n.log" 2>&1; then echo "beside: run $n passed"; rm "$1/run-$n.log"
    else echo "beside: run $n FAILED, log kept: $1/run-$n.log"; fi
  done' _ "$second" >"$second/beside.txt" 2>&1 &
beside=$!

status=0
for i in $(seq 1 "$runs"); do
  if bash scripts/sanitize.sh >"$second/sanitize-$i.log" 2>&1; then
    echo "sanitizers: run $i of $runs passed ($(grep -o 'tests [0-9]*' "$second/sanitize-$i.log" | tail -1))"
  else
    echo "sanitizers: run $i of $runs FAILED, log kept: $second/sanitize-$i.log"
    status=1
    break
  fi
done
finish
beside=
if grep -q FAILED "$second/beside.txt"; then status=1; fi
echo "beside: $(grep -c passed "$second/beside.txt") runs passed, $(grep -c FAILED "$second/beside.txt") failed"
[ "$status" -ne 0 ] || rm -rf "$second"
exit "$status"
