#!/usr/bin/env bash
# The public API's documentation is complete: any doclint warning or error
# fails, except in the files named by the first argument (comma-separated),
# whose warnings are listed but tolerated until their documentation is done.
set -u
pending=$1 out=$2
shift 2
log=$("$@" -d "$out" 2>&1)
status=$?
found=$(grep -E '^.*\.java:[0-9]+: (warning|error)' <<<"$log")
tolerated=$(grep -E "/(${pending//,/|}):[0-9]+: warning" <<<"$found")
failing=$(grep -vxF -f <(printf '%s\n' "$tolerated") <<<"$found")
if [ -n "$failing" ] || { [ $status -ne 0 ] && [ -z "$found" ]; }; then
  echo "FAIL: javadoc -Xdoclint:all:"; echo "${failing:-$log}"; exit 1
fi
echo "doclint: no warnings$([ -n "$tolerated" ] && echo "; tolerated in $pending: $(wc -l <<<"$tolerated")")"
