#!/usr/bin/env bash
# Runs the 32-bit check natively when the kernel executes i386 code, else under
# qemu-i386 (package qemu-user); with neither it is skipped (77), saying why.
set -u
check=$1
"$check" 2>/dev/null
rc=$?
[ "$rc" -ne 126 ] && exit "$rc"  # 126: the kernel refused to execute it
if command -v qemu-i386 >/dev/null; then
  echo "(the kernel does not run i386 code: under qemu-i386)"
  exec qemu-i386 "$check"
fi
echo "SKIPPED: the kernel does not run i386 code and qemu-i386 (package qemu-user) is missing"
exit 77
