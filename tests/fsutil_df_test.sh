#!/usr/bin/env bash
# fsutil df end to end: good paths print, a bad one gives the library's message
# on stderr and exit status 1 without stopping the others.
set -u
java=$1 jar=$2 lib=$3
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$out"; echo "--- stderr"; cat "$err"; exit 1; }

"$java" -Dfsstat.library.path="$lib" -jar "$jar" df -v / /no/such/path /tmp >"$out" 2>"$err"
status=$?
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
grep -q ' /$' "$out" || fail "no line for /"
grep -q ' /tmp$' "$out" || fail "no line for /tmp"
grep -q 'bsize=.*namemax=' "$out" || fail "-v printed no raw figures"
expected="/no/such/path: No such file or directory"
[ "$(cat "$err")" = "$expected" ] || fail "stderr is not the library's message"

"$java" -Dfsstat.library.path="$lib" -jar "$jar" df / >"$out" 2>"$err" || fail "df / failed"
"$java" -Dfsstat.library.path=/nonexistent/libfsstat.so -jar "$jar" df / >"$out" 2>"$err" && fail "loaded a missing library"
grep -q 'fsstat.library.path' "$err" || fail "load error does not say what to set"
echo "fsutil df: 1 passed, 0 failed"
