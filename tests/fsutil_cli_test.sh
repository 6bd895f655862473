#!/usr/bin/env bash
# The fsutil command line: a closed pipe, operands that are not valid in the
# locale's charset, cat, --version and bad options.
source "$(dirname "$0")/fsutil_common.sh"

# A reader that goes away ends the tool at once, silently, with SIGPIPE's status as GNU's tools.
mkdir "$dir/many"
(cd "$dir/many" && seq -f 'entry%06g' 30000 | xargs touch)
head -c 3000000 /dev/urandom >"$dir/big"
for cmd in "ls -l $dir/many" "du -a $dir/many" "cat $dir/big"; do
  fsu $cmd 2>"$dir/err" | head -c 100 >/dev/null
  check "$cmd | head: status ${PIPESTATUS[0]}, stderr empty" [ "${PIPESTATUS[0]}" -eq 141 -a ! -s "$dir/err" ]
done

# Operands with bytes that are not valid UTF-8 (nor ASCII): the JVM's own arguments would lose them.
for locale in C.UTF-8 C; do
  export LC_ALL=$locale
  d=$dir/$'d\xe9'
  mkdir -p "$d/sub"
  printf 'latin-1\n' >"$d/"$'caf\xe9'
  printf 'utf-8\n' >"$d/caf"$'\xc2\xb6\xc3\xa9'   # the natural spelling of the other file's Java name
  same "ls of a non-UTF-8 directory ($locale)" ls "$d/sub" -- ls "$d/sub"
  out=$(fsu du -s "$d"); gnu=$(du -s "$d")
  check "du -s of a non-UTF-8 directory ($locale)" [ "${out%%$'\t'*}" = "${gnu%%$'\t'*}" \
    -a "${out#*$'\t'}" = "$dir/d\xE9" ]
  out=$(fsu df "$d" | tail -1); gnu=$(df "$d" | tail -1)
  check "df of a non-UTF-8 directory ($locale)" [ "${out%% *}" = "${gnu%% *}" ]
  check "cat of a Latin-1 name opens that file ($locale)" [ "$(fsu cat "$d/"$'caf\xe9')" = latin-1 ]
done
export LC_ALL=C

# cat: bytes unchanged; a file that fails is reported and the others still print.
for i in $(seq 0 255); do printf "\\$(printf %o "$i")"; done >"$dir/all-bytes"
fsu cat "$dir/all-bytes" "$dir/none" "$dir/all-bytes" >"$dir/out" 2>"$dir/err"
check "cat with a missing file: status 1" [ $? -eq 1 ]
check "cat: bytes unchanged" cmp -s "$dir/out" <(cat "$dir/all-bytes" "$dir/all-bytes")
check "cat: the failing file named" grep -q "$dir/none: No such file or directory" "$dir/err"
# Standard input for no FILE and for each "-", read on from where the last "-" stopped, as GNU cat.
for args in "" "-" "- $dir/all-bytes -" "-- -"; do
  gnu=$(cat $args <"$dir/all-bytes" | od -c); ours=$(fsu cat $args <"$dir/all-bytes" | od -c)
  check "cat $args from standard input" [ "$ours" = "$gnu" ]
done
fsu cat - <"$dir" 2>"$dir/err"
check "cat - from a directory: status 1, GNU's message" [ $? -eq 1 -a "$(cat "$dir/err")" = "fsutil cat: -: Is a directory" ]

# A write error: GNU's status for each command (ls 2, the others 1), and the reason.
for cmd in "ls $dir" "du -s $dir" "df /" "cat $dir/all-bytes"; do
  $cmd >/dev/full 2>/dev/null; gnu_status=$?
  fsu $cmd >/dev/full 2>"$dir/err"; status=$?
  check "$cmd >/dev/full: status $status, GNU $gnu_status" [ "$status" -eq "$gnu_status" ]
  check "$cmd >/dev/full: $(cat "$dir/err")" [ "$(cat "$dir/err")" = "fsutil ${cmd%% *}: write error: No space left on device" ]
done

version=$(unzip -p "$jar" META-INF/MANIFEST.MF 2>/dev/null | sed -n 's/^Implementation-Version: *//p' | tr -d '\r')
check "--version gives the manifest's version" [ "$(fsu --version)" = "fsutil ${version:-unknown}" ]
fsu ls -Z "$dir" 2>/dev/null; check "ls with a bad option: status 2 as GNU ls" [ $? -eq 2 ]
fsu du --threads 0 "$dir" 2>/dev/null; check "du --threads 0 is refused" [ $? -eq 1 ]
finish "fsutil cli"
