#!/usr/bin/env bash
# How often wine64 fails to start a Windows program with the address space
# randomized (plain wine64) and with it fixed (scripts/wine-run, what the tests
# use), in one run: N starts of each, alternated, of one quick case of the
# mingw64 build's util_tests.exe, with Wine's address-space errors shown.
# Usage: bench/wine_starts.sh [N]   (default 5000; a start takes about 0.15 s)
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-prefix
export WINEDEBUG=-all,err+virtual
starts=${1:-5000}
declare -A launcher=([randomized]=/usr/lib/wine/wine64 [fixed]=$wine) failed=([randomized]=0 [fixed]=0)
# One server for every start, as in scripts/test-windows, and started on first:
# Wine's own processes that the first start leaves running would otherwise hold
# that start's output open.
wineserver -p 2>/dev/null || true
"$wine" cmd /c exit </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
uptime
for i in $(seq 1 "$starts"); do
  for layout in randomized fixed; do
    if ! output=$("${launcher[$layout]}" build/mingw64/tests/util/util_tests.exe \
      --gtest_filter=Guid.FileSafeFormReplacesBracesAndHyphens 2>&1); then
      failed[$layout]=$((failed[$layout] + 1))
      echo "$layout, start $i: $(grep -m1 -v '^\[\|^Running\|^Note' <<<"$output")"
    fi
  done
done
uptime
for layout in randomized fixed; do echo "$layout: $starts starts, ${failed[$layout]} failed"; done
