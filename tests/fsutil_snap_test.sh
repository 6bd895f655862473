#!/usr/bin/env bash
# fsutil snap and diff: one line per change, names shown as the tool shows
# them, and the exit status says whether anything changed (2: trouble).
source "$(dirname "$0")/fsutil_common.sh"

t=$dir/tree
mkdir -p "$t/d" "$t/gone"
echo one >"$t/d/f"; echo two >"$t/gone/x"; echo three >"$t/"$'caf\xe9'
touch -d '2020-01-01' "$t/d/f" "$t/gone/x" "$t/"$'caf\xe9' "$t/d" "$t/gone" "$t"
fsu snap "$t" -o "$dir/before" 2>"$dir/err"
check "snap: status 0, quiet" [ $? -eq 0 -a ! -s "$dir/err" ]
out=$(fsu diff "$dir/before" "$t"); status=$?
check "nothing changed: status 0, no line ($out)" [ $status -eq 0 -a -z "$out" ]

rm -r "$t/gone"; mv "$t/d/f" "$t/moved"; echo new >"$t/d/new"; chmod 700 "$t/"$'caf\xe9'
expected='M caf\xE9
M d
A d/new
D gone
D gone/x
R d/f -> moved'
out=$(fsu diff "$dir/before" "$t"); status=$?
check "changes against ROOT: status 1, one line each in path order" [ $status -eq 1 -a "$out" = "$expected" ]
fsu snap "$t" -o "$dir/after"
check "against FILE2: the same lines" [ "$(fsu diff "$dir/before" "$dir/after")" = "$out" ]
check "FILE alone: against the root it records" [ "$(fsu diff "$dir/before")" = "$out" ]
out=$(fsu diff "$dir/after" "$dir/after"); status=$?
check "a file just written, against itself: possibly modified ($out)" [ $status -eq 1 -a "$out" = "M? d/new" ]

# Trouble: status 2 for diff (1 says "changed"), 1 for snap, and no file written.
fsu snap "$t/moved" -o "$dir/none" 2>"$dir/err"
check "snap of a file: status 1, nothing written" [ $? -eq 1 -a ! -e "$dir/none" ]
check "snap of a file: said why" grep -q "moved: Not a directory" "$dir/err"
for args in "$t/moved" "$dir/before $dir" "$dir/missing" ""; do
  fsu diff $args >/dev/null 2>&1
  check "diff $args: status 2" [ $? -eq 2 ]
done
finish "fsutil snap"
