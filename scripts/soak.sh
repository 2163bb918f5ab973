#!/usr/bin/env bash
# Soak run: scripts/soak.js in one node process with the ASan build of the
# add-on and LeakSanitizer on, then the leak report sorted into Node's own
# (V8, the loader, the test runner's objects that live until exit) and ours:
# a leak is the add-on's when its allocation stack passes through
# trace_label.node, libcups or the repository's src/. Fails on any leak of
# ours, on a descriptor count that grew, on a leftover job file, and on a job
# that did not arrive intact, and on a job file left in /tmp.
#   scripts/soak.sh [PRINTS]     default 600
set -euo pipefail
cd "$(dirname "$0")/.."

prints=${1:-600}
build=build-asan
logs=$(mktemp -d /tmp/label-soak-XXXXXX)
trap 'rm -rf "$logs"' EXIT

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTRACE_LABEL_SANITIZE=ON -DTRACE_LABEL_TESTS=ON >/dev/null
ninja -C "$build" -j2 trace_label

status=0
LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)" \
  ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:malloc_context_size=40:exitcode=86:log_path=$logs/asan" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  TRACE_LABEL_ADDON="$PWD/$build/Release/trace_label.node" \
  node scripts/soak.js "$prints" >"$logs/stdout" || status=$?
# 86: the sanitizer reported; Node's own leaks always are, so the report
# below decides.
[ "$status" -eq 86 ] && status=0

# The job files this run logged; other processes may have their own in /tmp.
node - "$logs/stdout" <<'EOF' || status=1
const fs = require('fs');
const log = fs.readFileSync(process.argv[2], 'utf8');
const files = [...log.matchAll(/生成临时文件名: (\/tmp\/printer_command_\d{8}_\d{6}_\d+)\n/g)].map((m) => m[1]);
const left = files.filter((f) => fs.existsSync(f));
console.log(`job files: ${files.length} created, ${left.length} left`);
if (files.length === 0 || left.length > 0) process.exitCode = 1;
EOF
rm -f "$logs/stdout"

node - "$logs" "$PWD/src/" <<'EOF' || status=1
const fs = require('fs');
const path = require('path');
const [dir, src] = process.argv.slice(2);
let node = { blocks: 0, bytes: 0 };
let ours = { blocks: 0, bytes: 0 };
const shown = [];
for (const file of fs.readdirSync(dir)) {
  const text = fs.readFileSync(path.join(dir, file), 'utf8');
  if (!/LeakSanitizer/.test(text)) {
    // Anything else from ASan is an error, not a leak.
    process.stderr.write(text);
    process.exitCode = 1;
    continue;
  }
  for (const block of text.split(/\n(?=(?:Direct|Indirect) leak of )/).slice(1)) {
    const bytes = Number(/leak of (\d+) byte/.exec(block)[1]);
    const mine = block.includes('trace_label') || block.includes('libcups') || block.includes(src);
    const tally = mine ? ours : node;
    tally.blocks++;
    tally.bytes += bytes;
    if (mine && shown.length < 5) shown.push(block.split('\n').slice(0, 12).join('\n'));
  }
}
console.log(`leaks: add-on ${ours.blocks} (${ours.bytes} bytes); Node/V8 ${node.blocks} (${node.bytes} bytes, not ours)`);
for (const s of shown) console.error(s);
if (ours.blocks > 0) process.exitCode = 1;
EOF
exit "$status"
