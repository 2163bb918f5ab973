#!/usr/bin/env bash
# The package as an app gets it. Packs it (prepack builds the prebuilt
# binaries) and checks the symbol floors of every Linux binary in it, then
# installs the tarball into fresh apps with a PATH that holds node, npm and
# basic tools but no cmake and no compiler: with npm, npm --ignore-scripts,
# yarn 1 and pnpm 10 (both fetched with npx), each with its defaults; every
# one must exit 0, ask for no build approval and load the package. One app
# then requires and imports the package, renders a label and prints it
# through a private scheduler, and `npx trace-label demo` runs. Last, a copy without binaries must refuse to
# load with an error naming `npx trace-label build`, and that command must
# name what a source build lacks.
#   scripts/install-check.sh [TARBALL]    default: npm pack of this checkout
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$(mktemp -d /tmp/label-install-XXXXXX)
trap 'rm -rf "$work"' EXIT

if [ $# -gt 0 ]; then
  tarball=$(realpath "$1")
else
  npm pack --pack-destination "$work" >"$work/pack.log" 2>&1 || { cat "$work/pack.log" >&2; exit 1; }
  tarball=$(echo "$work"/trace-label-printer-*.tgz)
fi

# Every Linux binary the tarball ships keeps to the symbol floors.
mkdir "$work/unpacked"
tar -xzf "$tarball" -C "$work/unpacked"
mapfile -t shipped < <(find "$work/unpacked/package/prebuilds" -path '*/linux-*/*.node' | sort)
[ ${#shipped[@]} -gt 0 ] || { echo "install-check: the tarball ships no Linux binary" >&2; exit 1; }
# One native module per platform: printing and rendering share it.
extra=$(find "$work/unpacked/package/prebuilds" -name '*.node' ! -name trace_label.node)
[ -z "$extra" ] || { echo "install-check: a second native module ships: $extra" >&2; exit 1; }
bash "$root/scripts/symbol-floor.sh" "${shipped[@]}" >&2

mkdir "$work/bin"
# The private scheduler's harness drives lpstat and lpadmin; the add-on needs neither.
for tool in node npm npx sh bash env cat ls mkdir rm cp mv chmod ln sed grep tar gzip uname id \
  dirname basename readlink realpath mktemp sleep kill lpstat lpadmin; do
  ln -s "$(PATH=$PATH:/usr/sbin command -v "$tool")" "$work/bin/$tool"
done
bare="$work/bin"
for tool in cmake c++ g++ gcc cc clang++ make ninja; do
  if PATH=$bare command -v "$tool" >/dev/null; then
    echo "install-check: $tool is on the bare PATH" >&2
    exit 1
  fi
done

# Loads the package in app DIR as the app would: require, import and a render.
loads() { # DIR
  (cd "$1" && PATH=$bare node --input-type=module -e "
    import { createRequire } from 'node:module';
    const cjs = createRequire(process.cwd() + '/')('trace-label-printer');
    const esm = await import('trace-label-printer');
    if (esm.printTraceCode !== cjs.printTraceCode) throw new Error('require and import differ');
    try { cjs.renderTraceCode({}); } catch (e) { if (!(e instanceof TypeError)) throw e; }
  ")
}

install() { # NAME COMMAND...   the command is run in a fresh app with the tarball last
  local name=$1 dir=$work/$1 start
  shift
  mkdir "$dir"
  echo '{ "name": "app", "version": "1.0.0", "private": true }' >"$dir/package.json"
  start=${EPOCHREALTIME/./}
  (cd "$dir" && PATH=$bare "$@" "$tarball") >"$dir.log" 2>&1 || {
    cat "$dir.log" >&2
    echo "install-check: $name: the install failed" >&2
    exit 1
  }
  if grep -qi 'ignored build\|approve-builds\|install script' "$dir.log"; then
    cat "$dir.log" >&2
    echo "install-check: $name: the install asks about build scripts" >&2
    exit 1
  fi
  if [ -e "$dir/node_modules/trace-label-printer/build" ]; then
    echo "install-check: $name: the install built the add-on instead of using the prebuilt binary" >&2
    exit 1
  fi
  loads "$dir" || { echo "install-check: $name: the installed package does not load" >&2; exit 1; }
  echo "install-check: $name installs (exit 0) and loads; the install took $(((${EPOCHREALTIME/./} - start) / 1000)) ms" >&2
}
npm_opts=(--no-audit --no-fund --loglevel=error)
install npm-ignore npm install "${npm_opts[@]}" --ignore-scripts
install npm npm install "${npm_opts[@]}" --foreground-scripts
# Their own caches, so a tarball of the same version never comes from an earlier run.
install yarn npx -y yarn@1 add --non-interactive --no-progress --cache-folder "$work/yarn-cache" "file:$tarball"
install pnpm npx -y pnpm@10 add --store-dir "$work/pnpm-store" --reporter=append-only
# pnpm's later installs of the same app must pass too (its CI runs them).
(cd "$work/pnpm" && PATH=$bare npx -y pnpm@10 install --store-dir "$work/pnpm-store" >"$work/pnpm-again.log" 2>&1) || {
  cat "$work/pnpm-again.log" >&2
  echo "install-check: pnpm: a second pnpm install of the app fails" >&2
  exit 1
}

cat >"$work/npm-ignore/smoke.mjs" <<'EOF'
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';

const [root] = process.argv.slice(2);
const require = createRequire(import.meta.url);
const { PrivateCups } = require(`${root}/lib/private-cups.js`);
const { makeBmp } = require(`${root}/lib/bmp-writer.js`);

const cups = await PrivateCups.start({ queues: ['lab'] });
try {
  process.env.CUPS_SERVER = cups.env.CUPS_SERVER;
  process.env.HOME = cups.env.HOME;
  const cjs = require('trace-label-printer');
  const esm = await import('trace-label-printer');
  const names = Object.keys(cjs).sort();
  assert.deepEqual(Object.keys(esm).filter((k) => k !== 'default').sort(), names);
  for (const name of names) assert.equal(esm[name], cjs[name], name);
  assert.equal(esm.default, cjs);
  const { decode } = await import('trace-label-printer/lib/virtual-printer');

  const buffer = makeBmp({ width: 400, height: 240, pixel: (x, y) => ((x ^ y) & 8 ? [0, 0, 0] : [255, 255, 255]) });
  const request = { device: 'lab', instruction: 'ZPL', withCutter: false, width: 50, height: 30, buffer };
  const rendered = cjs.renderTraceCode(request);
  assert.ok(Buffer.isBuffer(rendered));
  assert.equal(cjs.printTraceCode(request), true);
  assert.equal(await esm.printTraceCodeAsync(request), true);
  const jobs = await cups.waitForJobs('lab', 2);
  for (const job of jobs) assert.ok(job.data.equals(rendered), `job ${job.id} is not the rendered label`);
  const { width, height } = decode('ZPL', rendered, { dotsPerMm: 8 });
  assert.deepEqual([width, height], [400, 240]);
  console.error(`install-check: require and import agree on ${names.length} exports; ` +
    `${jobs.length} jobs printed, each the rendered ${width} x ${height} label`);
} finally {
  cups.stop();
}
EOF
(cd "$work/npm-ignore" && PATH=$bare node smoke.mjs "$root" >"$work/smoke.log") || {
  tail -30 "$work/smoke.log" >&2
  exit 1
}

# The demo as a user tries it from the tarball: the shipped sample label on
# virtual printers, the previews in the folder it names.
(cd "$work/npm-ignore" && PATH=$bare npx trace-label demo --output demo-out) >"$work/demo.log" 2>&1 || {
  tail -30 "$work/demo.log" >&2
  echo "install-check: npx trace-label demo failed" >&2
  exit 1
}
previews=$(find "$work/npm-ignore/demo-out" -name 'preview-*.png' | wc -l)
grep -q "The previews are in $work/npm-ignore/demo-out\$" "$work/demo.log" && [ "$previews" -eq 6 ] || {
  tail -30 "$work/demo.log" >&2
  echo "install-check: npx trace-label demo wrote $previews previews, or did not name their folder" >&2
  exit 1
}
echo "install-check: npx trace-label demo printed all six languages and wrote $previews previews" >&2

# Without binaries the package must refuse to load with the command that
# builds it, and that command on this PATH cannot build: it must say what is
# missing rather than fail somewhere inside CMake.
copy="$work/npm/node_modules/trace-label-printer"
rm -rf "$copy/prebuilds"
if loads "$work/npm" 2>"$work/load.log"; then
  echo "install-check: the package loads with no binary" >&2
  exit 1
fi
grep -q 'npx trace-label build' "$work/load.log" || {
  cat "$work/load.log" >&2
  echo "install-check: the error without a binary does not name npx trace-label build" >&2
  exit 1
}
status=0
(cd "$work/npm" && PATH=$bare npx trace-label build) 2>"$work/source.log" || status=$?
for needed in 'CMake 3.16' 'C++17 compiler' 'make or ninja' 'cmake-js'; do
  grep -q "$needed" "$work/source.log" || {
    cat "$work/source.log" >&2
    echo "install-check: exit $status, and the failed source build does not name: $needed" >&2
    exit 1
  }
done
[ "$status" -ne 0 ] || { echo "install-check: a source build with no tools reported success" >&2; exit 1; }

echo "install-check: $(basename "$tarball") ($(du -k "$tarball" | cut -f1) kB) installs and prints with no compiler"
