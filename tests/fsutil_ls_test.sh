#!/usr/bin/env bash
# fsutil ls end to end: sorted names, -l columns, undecodable bytes shown as
# \xNN, and a folder that cannot be listed reported without stopping the rest.
set -u
java=$1 jar=$2 lib=$3
dir=$(mktemp -d) out=$(mktemp) err=$(mktemp)
trap 'rm -rf "$dir" "$out" "$err"' EXIT
fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$out"; echo "--- stderr"; cat "$err"; exit 1; }
export LC_ALL=C.UTF-8
run() { "$java" -Dfile.encoding=UTF-8 -Dfsstat.library.path="$lib" -jar "$jar" "$@" >"$out" 2>"$err"; }

mkdir "$dir/sub"
printf 'hello' >"$dir/b"
touch "$dir/a" "$(printf "$dir/caf\xe9")" "$dir/café"
ln -s b "$dir/link"

run ls "$dir" || fail "ls failed"
[ "$(cat "$out")" = "$(printf 'a\nb\ncafé\ncaf\\xE9\nlink\nsub')" ] || fail "names not sorted by bytes, or bytes not shown"

run ls -l "$dir" || fail "ls -l failed"
grep -Eq "^-[rwx-]{9} +1 +$(id -u) +$(id -g) +5 [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2} b$" "$out" || fail "-l line of b"
grep -Eq '^d[rwx-]{9} .* sub$' "$out" || fail "-l line of sub"
grep -Eq '^l[rwx-]{9} .* link -> b$' "$out" || fail "-l line of link"

run ls "$dir/none" "$dir/sub" "$dir"
[ $? -eq 1 ] || fail "exit status not 1 with a missing folder"
[ "$(cat "$err")" = "fsutil ls: cannot list '$dir/none': No such file or directory" ] || fail "error line"
grep -q '^link$' "$out" || fail "the listable folder was not listed"
echo "fsutil ls: 1 passed, 0 failed"
