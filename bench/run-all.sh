#!/usr/bin/env bash
# Everything BENCHMARKS.md reports, from a clean clone: Debian packages, npm
# packages (the root's and this folder's own), a Release build of the add-on
# and the bench module in build-bench/, every benchmark, then the plot.
# Tables go to standard output and to bench/results/*.md.
#   npm --prefix bench run all      (or: bash bench/run-all.sh [--quick])
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --check
if ! command -v gnuplot >/dev/null; then
  if [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends gnuplot-nox
  else
    echo "gnuplot is missing (sudo apt-get install gnuplot-nox): no plot" >&2
  fi
fi
[ -d node_modules/node-api-headers ] || npm ci --no-audit --no-fund --ignore-scripts
[ -d bench/node_modules/sharp ] || (cd bench && npm ci --no-audit --no-fund)

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRACE_LABEL_BENCH=ON >/dev/null
cmake --build build-bench -j2 --target trace_label trace_label_bench

mkdir -p bench/results
{
  echo "Commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown), $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "nproc $(nproc); $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'); $(free -g | awk '/Mem:/ {print $2 " GiB memory"}')"
  echo "load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
} | tee bench/results/run.md
export BENCH_BUILD=build-bench
node bench/prepare.js "$@" | tee bench/results/prepare.md
node bench/encode.js | tee bench/results/encode.md
node bench/e2e.js | tee bench/results/e2e.md
node bench/memory.js | tee bench/results/memory.md
node bench/stall.js | tee bench/results/stall.md
node bench/crash.js | tee bench/results/crash.md
echo "load after the run: $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a bench/results/run.md
if command -v gnuplot >/dev/null; then node bench/plot.js; fi
