#!/usr/bin/env bash
# AddressSanitizer + UndefinedBehaviorSanitizer run: builds the core, the C++
# tests and the add-on in build-asan, runs CTest there (leak checking on), then
# the JavaScript suite against the sanitizer build of the add-on, with the
# sanitizer runtimes preloaded into node (leak checking off: Node's own
# allocations at exit are not ours).
#   scripts/sanitize.sh          both
#   scripts/sanitize.sh --cpp    only the C++ suite
#   scripts/sanitize.sh --js     only the JavaScript suite (build-asan must exist)
# Every report halts the process that made it, so the test that ran it fails.
# ASan reports also go to log files that are checked last, which catches one
# from a child whose test did not look; UBSan ignores log_path when preloaded
# beside ASan, so its reports stay on that process's standard error.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-all}
status=0
build=build-asan
logs=$(mktemp -d /tmp/label-sanitize-XXXXXX)
trap 'rm -rf "$logs"' EXIT

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=1:log_path=$logs/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$logs/ubsan"

check_reports() {
  local found
  found=$(find "$logs" -type f | sort)
  if [ -n "$found" ]; then
    for f in $found; do
      echo "==== $f" >&2
      cat "$f" >&2
    done
    echo "sanitizer reports: $(echo "$found" | wc -l)" >&2
    exit 1
  fi
}

if [ "$mode" != --js ]; then
  bash scripts/setup.sh --check
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTRACE_LABEL_SANITIZE=ON -DTRACE_LABEL_TESTS=ON >/dev/null
  ninja -C "$build" -j2
  ctest --test-dir "$build" --output-on-failure || status=$?
  check_reports
  [ "$status" -eq 0 ] || exit "$status"
fi

if [ "$mode" != --cpp ]; then
  addon="$PWD/$build/Release/trace_label.node"
  [ -f "$addon" ] || { echo "$addon missing: run scripts/sanitize.sh first" >&2; exit 1; }
  js_tests=$(ls test/js/*.test.js)
  preload="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
  LD_PRELOAD="$preload" ASAN_OPTIONS="${ASAN_OPTIONS/detect_leaks=1/detect_leaks=0}" \
    TRACE_LABEL_ADDON="$addon" \
    node --test $js_tests || status=$?
  check_reports
  [ "$status" -eq 0 ] || exit "$status"
fi
echo "sanitizers: no reports"
