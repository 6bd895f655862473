#!/usr/bin/env bash
# Extraction into a noexec file system: the message names the cause and the
# property that moves the extraction; for a library named by its path, the
# cause and the move that helps. Mounting needs root; skipped otherwise.
set -u
java=$1 jar=$2
mnt=$(mktemp -d)
trap 'umount "$mnt" 2>/dev/null; rmdir "$mnt"' EXIT
[ "$(id -u)" = 0 ] || { echo "SKIP: mounting a noexec tmpfs needs root"; exit 77; }
why=$(mount -t tmpfs -o noexec,size=16m,mode=700 fsstat-noexec "$mnt" 2>&1) ||
  { echo "SKIP: cannot mount a noexec tmpfs: $why"; exit 77; }
out=$("$java" -XX:-UsePerfData -Dfsstat.cache.dir="$mnt" -jar "$jar" ls / 2>&1) && { echo "FAIL: loaded from a noexec mount"; exit 1; }
for expected in "cannot load libfsstat from $mnt/libfsstat-" "is mounted noexec" "set -Dfsstat.cache.dir"; do
  grep -qF -- "$expected" <<<"$out" || { echo "FAIL: message lacks '$expected':"; echo "$out"; exit 1; }
done
# A library named by -Dfsstat.library.path on that mount: moving the extraction would not help.
unzip -p "$jar" "com/durvo/ufe/fsutil/native/linux-$(uname -m)/libfsstat.so" >"$mnt/libfsstat.so"
out=$("$java" -XX:-UsePerfData -Dfsstat.library.path="$mnt/libfsstat.so" -jar "$jar" ls / 2>&1) &&
  { echo "FAIL: loaded $mnt/libfsstat.so from a noexec mount"; exit 1; }
grep -qF "the file system holding it is mounted noexec; copy it to one where code may run" <<<"$out" &&
  ! grep -q "fsstat.cache.dir" <<<"$out" || { echo "FAIL: message for a named library:"; echo "$out"; exit 1; }
echo "noexec: $(grep -o 'cannot load.*' <<<"$out" | head -1)"
