#!/usr/bin/env bash
# The 32-bit library really is i386 code and exports exactly what the 64-bit
# one does.
set -u
lib64=$1 lib32=$2
header=$(readelf -h "$lib32") || { echo "FAIL: cannot read $lib32"; exit 1; }
grep -Eq 'Class: +ELF32' <<<"$header" && grep -Eq 'Machine: +Intel 80386' <<<"$header" ||
  { echo "FAIL: $lib32 is not 32-bit x86:"; echo "$header"; exit 1; }
exports() { nm -D --defined-only "$1" | awk '{print $NF}' | sort; }
differences=$(diff <(exports "$lib64") <(exports "$lib32")) ||
  { echo "FAIL: exports differ (< 64-bit, > 32-bit):"; echo "$differences"; exit 1; }
echo "m32: ELF32 i386, $(exports "$lib32" | wc -l) exports, the same as the 64-bit library's"
