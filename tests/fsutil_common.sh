# Sourced by the fsutil_*_test.sh scripts: arguments java jar lib, a scratch
# directory $dir removed at exit, `fsu ARGS` to run the tool, `same` to
# compare its output and status with a GNU tool's.
set -u
java=$1 jar=$(realpath "$2") lib=$(realpath "$3")
dir=$(mktemp -d)
trap 'chmod -R u+rwx "$dir"; rm -rf "$dir"' EXIT
export LC_ALL=C
failures=0
as=()  # a command that runs the tool, e.g. with fewer capabilities
fsu() { "${as[@]}" "$java" -XX:-UsePerfData -Dfsstat.library.path="$lib" -jar "$jar" "$@"; }

# same LABEL FSUTIL_ARGS -- GNU_COMMAND...: equal stdout and equal exit status.
same() {
  local label=$1 ours=() gnu status ours_status
  shift
  while [ "$1" != -- ]; do ours+=("$1"); shift; done
  shift
  gnu=$("$@" 2>/dev/null); status=$?
  out=$(fsu "${ours[@]}" 2>/dev/null); ours_status=$?
  if [ "$out" != "$gnu" ] || [ "$ours_status" != "$status" ]; then
    echo "FAIL: $label (status $ours_status, GNU $status)"
    diff <(echo "$out") <(echo "$gnu") | head -20
    failures=$((failures + 1))
  fi
}

check() {  # check LABEL CONDITION...
  local label=$1
  shift
  if ! "$@"; then echo "FAIL: $label"; failures=$((failures + 1)); fi
}

finish() {
  [ "$failures" -eq 0 ] || { echo "$1: $failures failed"; exit 1; }
  echo "$1: all passed"
}
