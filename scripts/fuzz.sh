#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang (ASan + UBSan) in
# build-fuzz (the root project with TRACE_LABEL_FUZZ=ON) and runs each one for
# a bounded time over the seed corpus that fuzz/seeds.js writes, plus what
# earlier local runs kept in build-fuzz/corpus.
#   scripts/fuzz.sh [SECONDS_PER_HARNESS]     default 20 (or $FUZZ_SECONDS)
# A crash or a failed property fails the run; the input is kept in
# build-fuzz/crashes/<harness>/ and becomes a case in the C++ test of the code it broke.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${FUZZ_SECONDS:-20}}
build=build-fuzz

missing=()
command -v clang++ >/dev/null || missing+=(clang)
dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'install ok installed' ||
  missing+=(libclang-rt-14-dev)
if ((${#missing[@]})); then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages. Run:  sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A build-fuzz configured from fuzz/ alone (before the harnesses joined the root build).
grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$PWD" "$build/CMakeCache.txt" 2>/dev/null ||
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTRACE_LABEL_FUZZ=ON >/dev/null
ninja -C "$build" -j2 fuzzers
rm -rf "$build/seeds"
node fuzz/seeds.js "$build/seeds"

total=0
crashed=()
for harness in "$build"/fuzz/fuzz_*; do
  [ -x "$harness" ] || continue
  name=$(basename "$harness")
  name=${name#fuzz_}
  mkdir -p "$build/corpus/$name" "$build/crashes/$name"
  log="$build/$name.log"
  status=0
  # The first folder takes the new inputs; the seeds are only read.
  "$harness" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
    -artifact_prefix="$build/crashes/$name/" "$build/corpus/$name" "$build/seeds/$name" \
    >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  total=$((total + ${runs:-0}))
  echo "fuzz_$name: ${runs:-0} inputs in ${seconds}s, exit $status"
  if [ "$status" -ne 0 ]; then
    crashed+=("$name")
    grep -E 'ERROR|SUMMARY|property failed|Test unit written' "$log" >&2 || tail -20 "$log" >&2
  fi
done
echo "fuzz: $total inputs tried, ${#crashed[@]} harness(es) crashed${crashed:+: ${crashed[*]}}"
[ ${#crashed[@]} -eq 0 ]
