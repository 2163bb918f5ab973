#!/usr/bin/env bash
# The nearest check of a macOS toolchain this machine allows: clang with libc++
# (no libstdc++ anywhere in the link) builds the native module and the C++
# tests, the tests pass, and the add-on loads in node. GoogleTest is built
# here with the same library, since Debian's libgtest is built for libstdc++.
# Run as root it installs what it lacks; needs `npm ci` first (node-api-headers).
#   scripts/libcxx-build.sh [BUILD-DIR]    default: build-libcxx
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build-libcxx}
need=(clang libc++-dev libc++abi-dev googletest cmake ninja-build libcups2-dev)
missing=()
for pkg in "${need[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "libcxx-build: missing packages; run: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

flags=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
  "-DCMAKE_CXX_FLAGS=-stdlib=libc++" "-DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++"
  "-DCMAKE_SHARED_LINKER_FLAGS=-stdlib=libc++")
if [ ! -e "$out/gtest/lib/libgtest.a" ] && [ ! -e "$out/gtest/lib64/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B "$out/gtest-build" "${flags[@]}" -DCMAKE_INSTALL_PREFIX="$PWD/$out/gtest" \
    -DBUILD_GMOCK=OFF >/dev/null
  cmake --build "$out/gtest-build" --parallel 2 >/dev/null
  cmake --install "$out/gtest-build" >/dev/null
fi
cmake -S . -B "$out" "${flags[@]}" -DTRACE_LABEL_TESTS=ON -DCMAKE_PREFIX_PATH="$PWD/$out/gtest" >/dev/null
cmake --build "$out" --parallel 2

# Every binary must take its C++ library from libc++ alone.
for bin in "$out"/Release/*.node "$out"/test/cpp/unit_tests; do
  libs=$(objdump -p "$bin" | awk '/NEEDED/ { print $2 }')
  if grep -q 'libstdc++' <<<"$libs" || ! grep -q 'libc++' <<<"$libs"; then
    echo "libcxx-build: $bin does not link libc++ alone: $(echo $libs)" >&2
    exit 1
  fi
done
ctest --test-dir "$out" --output-on-failure
node -e "
  const addon = require('./$out/Release/trace_label.node');
  if (typeof addon.printTraceCode !== 'function' || typeof addon.renderTraceCode !== 'function') process.exit(1);
"
echo "libcxx-build: clang++ -stdlib=libc++ builds the module and the C++ tests; they pass and the module loads"
