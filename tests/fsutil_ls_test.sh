#!/usr/bin/env bash
# fsutil ls against GNU ls (C locale) on a tree built here: every option set
# field for field, dates on both sides of six months, names with bytes that are
# not valid UTF-8, and the errors.
source "$(dirname "$0")/fsutil_common.sh"
t=$dir/tree
mkdir -p "$t"/d/sub/deep "$t"/.hidden "$t"/empty
now=$(date +%s)
for size in 0 1023 1024 1025 1536 10239 10240 999999 1048575 1048576 5000000000; do
  truncate -s "$size" "$t/size$size"
done
echo hello >"$t/d/sub/deep/f"
ln "$t/size1023" "$t/d/hard"
ln -s size1024 "$t/link"
ln -s /nonexistent "$t/dangling"
ln -s d "$t/dirlink"
mkfifo "$t/fifo"
touch "$t/.dotfile" "$t/-dash" "$t/sp ace"
touch -d '2020-01-05 10:00:00.5' "$t/old"
touch -d '2040-03-04 05:06:07' "$t/future"
touch -d "@$((now - 15778476 + 3600))" "$t/just-recent"
touch -d "@$((now - 15778476 - 3600))" "$t/just-old"
touch -d '2026-01-02 03:04:05.123456789' "$t/nanos"
chmod 4755 "$t/old"; chmod 2710 "$t/d/sub"; chmod 1777 "$t/d"
if [ "$(id -u)" = 0 ]; then
  chown 12345:54321 "$t/size0"   # ids without names show as numbers
  chown daemon:bin "$t/size1023"
  mknod "$t/cdev" c 4 64 && mknod "$t/bdev" b 254 1000
fi

# A zone with summer time, where the system knows it: without tzdata GNU ls
# reads an unknown zone as UTC while Java carries its own zone rules.
export TZ=UTC
[ -e /usr/share/zoneinfo/Europe/Berlin ] && export TZ=Europe/Berlin
for opts in "" -a -A -R -l -n -la -lA -lR -laR -lh -lhR --full-time "-l --full-time -a"; do
  same "ls $opts" ls $opts "$t" -- ls $opts "$t"
done
same "ls with file and directory operands" ls -l "$t/link" "$t/d" "$t/size1024" "$t/empty" -- \
  ls -l "$t/link" "$t/d" "$t/size1024" "$t/empty"
same "ls follows a named link to a directory without -l" ls "$t/dirlink" -- ls "$t/dirlink"
cd "$t/d" && same "ls with no operand lists ." ls -la -- ls -la && cd - >/dev/null
same "ls . and .. inside the path" ls -la "$t/d/." "$t/d/sub/.." -- ls -la "$t/d/." "$t/d/sub/.."
same "ls on a missing path" ls "$t/none" "$t/d" -- ls "$t/none" "$t/d"
# Root reads every directory: both tools run without the capabilities that allow it.
[ "$(id -u)" = 0 ] && as=(setpriv --bounding-set=-dac_override,-dac_read_search)
chmod 000 "$t/d/sub"
same "ls -R past an unreadable directory" ls -R "$t/d" -- "${as[@]}" ls -R "$t/d"
same "ls of an unreadable directory among others" ls "$t/d/sub" "$t/empty" -- "${as[@]}" ls "$t/d/sub" "$t/empty"
chmod 2710 "$t/d/sub"
as=()

# Bytes that are not valid UTF-8, in names, operands and link targets, shown as \xNN.
export LC_ALL=C.UTF-8
u=$dir/$'caf\xe9'
mkdir "$u"
touch "$u/"$'\xff\xfe' "$u/plain" "$u/"$'tab\there'
ln -s $'target\xe9' "$u/link"
out=$(fsu ls "$u") || echo "FAIL: ls of a non-UTF-8 operand: status $?"
check "non-UTF-8 names" [ "$out" = $'link\nplain\ntab\\x09here\n\\xFF\\xFE' ]
out=$(fsu ls -l "$u" | grep ' link ')
check "non-UTF-8 link target" [ "${out##* link }" = '-> target\xE9' ]
out=$(fsu ls -R "$dir" | grep -F 'caf\xE9:')
check "non-UTF-8 directory header" [ "$out" = "$dir/caf\\xE9:" ]

# Failures: GNU's line under our name, and its status.
touch "$dir/plain"
for operand in "$dir/plain/" "$dir/none"; do
  gnu=$(LC_ALL=C ls "$operand" 2>&1); gnu_status=$?
  ours=$(fsu ls "$operand" 2>&1); ours_status=$?
  check "ls $operand: '$ours' ($ours_status), GNU '$gnu' ($gnu_status)" \
    [ "$ours" = "fsutil $gnu" -a "$ours_status" = "$gnu_status" ]
done
finish "fsutil ls"
