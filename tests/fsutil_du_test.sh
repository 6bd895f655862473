#!/usr/bin/env bash
# fsutil du against GNU du on a tree built here: hard links counted once (also
# across operands), a sparse file by its blocks, links not followed, and the
# same totals with several threads.
source "$(dirname "$0")/fsutil_common.sh"
t=$dir/tree
mkdir -p "$t"/a/b/c "$t"/empty "$t"/other
head -c 100000 /dev/urandom >"$t/a/data"
ln "$t/a/data" "$t/a/b/data-again"
ln "$t/a/data" "$t/other/data-elsewhere"
truncate -s 1G "$t/a/b/sparse"
dd if=/dev/urandom of="$t/a/b/sparse" bs=4096 count=3 seek=1000 conv=notrunc status=none
head -c 5000000 /dev/urandom >"$dir/outside"
ln -s "$dir/outside" "$t/a/b/c/link"
ln -s .. "$t/a/b/c/loop"
for i in $(seq 50); do echo "$i" >"$t/a/b/c/f$i"; done

for opts in -s -sh "" -a -h; do
  same "du $opts" du $opts "$t" -- du $opts "$t"
  same "du $opts, several operands" du $opts "$t/other" "$t/a" "$t/a/b" -- du $opts "$t/other" "$t/a" "$t/a/b"
done
# With threads the link met first, and so the directory it counts in, varies: totals must not.
same "du -s --threads 2" du -s --threads 2 "$t" "$t/other" -- du -s "$t" "$t/other"
out=$(fsu du -a --threads 3 "$t/a/b" | sort); gnu=$(du -a "$t/a/b" | sort)
check "du -a with threads has GNU's lines" [ "$out" = "$gnu" ]
same "du of a file, a link and a missing path" du "$t/a/data" "$t/a/b/c/link" "$t/none" -- \
  du "$t/a/data" "$t/a/b/c/link" "$t/none"
if [ "$(id -u)" != 0 ]; then
  chmod 000 "$t/a/b/c"
  same "du past an unreadable directory" du "$t" -- du "$t"
  chmod 755 "$t/a/b/c"
fi
finish "fsutil du"
