#!/usr/bin/env bash
# Fails when a C++ file of src/, test/, bench/ or fuzz/ differs from what
# clang-format makes of it with the root .clang-format; fix with
#   clang-format -i FILE...
# Debian 12's clang-format (14) is the reference: other versions format some
# constructs differently.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "clang-format missing: apt-get install clang-format" >&2; exit 1; }
mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'test/*.cpp' 'test/*.h' \
  'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h')
unclean=()
for file in "${files[@]}"; do
  clang-format --style=file "$file" | cmp -s - "$file" || unclean+=("$file")
done
if ((${#unclean[@]})); then
  printf 'not clang-format clean: %s\n' "${unclean[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} C++ files clean"
