#!/usr/bin/env bash
# Extraction into a file system that refuses the copy (noexec, full,
# read-only): the message names the cause and the property that moves the
# extraction; for a library named by its path on a noexec one, the cause and
# the move that helps. Mounting needs root; skipped otherwise.
set -u
java=$1 jar=$2
mnt=$(mktemp -d)
trap 'umount "$mnt" 2>/dev/null; rmdir "$mnt"' EXIT
[ "$(id -u)" = 0 ] || { echo "SKIP: mounting a tmpfs needs root"; exit 77; }
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
umount "$mnt"

# Room for the directory and part of the library (a short write, then ENOSPC); no room to write at all.
while IFS='|' read -r options cause; do
  mount -t tmpfs -o "$options,mode=700" fsstat-cache "$mnt" || { echo "FAIL: cannot mount a tmpfs -o $options"; exit 1; }
  out=$("$java" -XX:-UsePerfData -Dfsstat.cache.dir="$mnt" -jar "$jar" ls / 2>&1) && { echo "FAIL: loaded from -o $options"; exit 1; }
  for expected in "cannot extract libfsstat to $mnt/libfsstat-" "$cause" "choose another -Dfsstat.cache.dir"; do
    grep -qF -- "$expected" <<<"$out" || { echo "FAIL: -o $options: message lacks '$expected':"; echo "$out"; exit 1; }
  done
  [ -z "$(ls -A "$mnt")" ] || { echo "FAIL: -o $options: left $(ls -A "$mnt")"; exit 1; }
  umount "$mnt"
done <<END
size=16k|No space left on device
ro|Read-only file system
END
echo "full, read-only: the cause named"
