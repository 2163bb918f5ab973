#!/usr/bin/env bash
# The symbol floors of shipped Linux binaries: no glibc symbol version newer
# than GLIBC_2.28 and no GLIBCXX_ newer than 3.4.25 (objdump -T), so they load
# on Debian 10, Ubuntu 20.04, RHEL 8 and later.
#   scripts/symbol-floor.sh FILE...
set -euo pipefail
[ $# -gt 0 ] || { echo "symbol-floor: no binaries given" >&2; exit 1; }
status=0
for file in "$@"; do
  # "2.28" -> 2028, "3.4.25" -> 3004025: compared as numbers.
  over=$(objdump -T "$file" | awk '
    function num(v,  p, n, i) { n = split(v, p, "."); v = 0; for (i = 1; i <= 3; i++) v = v * 1000 + (i <= n ? p[i] : 0); return v }
    match($0, /\((GLIBC|GLIBCXX)_[0-9.]+\)/) {
      tag = substr($0, RSTART + 1, RLENGTH - 2); split(tag, kv, "_")
      limit = kv[1] == "GLIBC" ? num("2.28") : num("3.4.25")
      if (num(kv[2]) > limit) print tag, $NF
    }' | sort -u)
  newest=$(objdump -T "$file" | grep -oE '\((GLIBC|GLIBCXX)_[0-9.]+\)' | tr -d '()' | sort -uV | awk -F_ '{ n[$1] = $0 } END { for (k in n) printf "%s ", n[k] }')
  if [ -n "$over" ]; then
    echo "symbol-floor: $file needs symbols above GLIBC_2.28 / GLIBCXX_3.4.25:" >&2
    sed 's/^/  /' <<<"$over" >&2
    status=1
  else
    echo "symbol-floor: $(basename "$(dirname "$file")")/$(basename "$file"): newest ${newest:-none}"
  fi
done
exit $status
