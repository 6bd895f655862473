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
for opts in "" -a -A -R -l -n -la -lA -lR -laR -lh -lhR --full-time "-l --full-time -a" \
    "--almost -l --numeric --recur" "--hum -l --all"; do
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

# Names as shown, in a UTF-8, an ASCII and a Latin-1 locale: each character of the locale that
# shows as itself, a backslash as \\, any other byte as \xNN, so that two names never look alike and
# no byte of a name is a control on the terminal (the Latin-1 column is converted to UTF-8 here).
#      name (printf)       C.UTF-8               C                     en_US.ISO-8859-1
names=('caf\xe9'           'caf\xE9'             'caf\xE9'             'café'
       'caf\\xE9'          'caf\\xE9'            'caf\\xE9'            'caf\\xE9'
       'c1-\xc2\x9b'       'c1-\xC2\x9B'         'c1-\xC2\x9B'         'c1-Â\x9B'
       'esc\x1b[31m\t'     'esc\x1B[31m\x09'     'esc\x1B[31m\x09'     'esc\x1B[31m\x09'
       '\xc3\xa9'          'é'                   '\xC3\xA9'            'Ã©'
       'e\xcc\x81'         'e\xCC\x81'           'e\xCC\x81'           'eÌ\x81'
       '\xcc\x81lead'      '\xCC\x81lead'        '\xCC\x81lead'        'Ì\x81lead'
       'rlo\xe2\x80\xaex'  'rlo\xE2\x80\xAEx'    'rlo\xE2\x80\xAEx'    'rloâ\x80®x'
       'nb\xc2\xa0sp'      'nb\xC2\xA0sp'        'nb\xC2\xA0sp'        'nbÂ\xA0sp'
       '\xff\xfe'          '\xFF\xFE'            '\xFF\xFE'            'ÿþ')
u=$dir/$'caf\xe9'
mkdir "$u"
for ((i = 0; i < ${#names[@]}; i += 4)); do touch "$u/$(printf "${names[i]}")"; done
ln -s $'target\xe9\\' "$u/link"
column=1
for locale in C.UTF-8 C en_US.ISO-8859-1; do
  if [ "$locale" = en_US.ISO-8859-1 ]; then
    export LOCPATH=${FSSTAT_LOCPATH:-}
    [ "$(LC_ALL=$locale locale charmap 2>/dev/null)" = ISO-8859-1 ] || { echo "no $locale: column skipped"; break; }
  fi
  export LC_ALL=$locale
  out=$(fsu ls "$u" | iconv -f "$(locale charmap)" -t UTF-8)
  for ((i = 0; i < ${#names[@]}; i += 4)); do
    check "'${names[i]}' shown as '${names[i + column]}' ($locale)" grep -qxF -- "${names[i + column]}" <<<"$out"
  done
  check "one line a name ($locale)" [ "$(wc -l <<<"$out")" -eq $((${#names[@]} / 4 + 1)) ]
  out=$(fsu ls -l "$u" | iconv -f "$(locale charmap)" -t UTF-8 | grep ' link ')
  target="target${names[column]#caf}\\\\"  # its E9 byte shown as in the first name
  check "link target $target ($locale)" [ "${out##* link -> }" = "$target" ]
  column=$((column + 1))
done
unset LOCPATH
export LC_ALL=C.UTF-8
out=$(fsu ls -R "$dir" | grep -F 'caf\xE9:')
check "non-UTF-8 directory header" [ "$out" = "$dir/caf\\xE9:" ]
export LC_ALL=C

# Failures and bad options (a long one may be any prefix that no other shares): GNU's first line
# under our name, and its status.
touch "$dir/plain"
for args in "$dir/plain/" "$dir/none" --al --al=x --all=x --zzz=3 -y; do
  ls $args >/dev/null 2>"$dir/err"; gnu_status=$? gnu=$(head -1 "$dir/err")
  fsu ls $args >/dev/null 2>"$dir/err"; ours_status=$? ours=$(head -1 "$dir/err")
  check "ls $args: '$ours' ($ours_status), GNU '$gnu' ($gnu_status)" \
    [ "$ours" = "fsutil $gnu" -a "$ours_status" = "$gnu_status" ]
done
finish "fsutil ls"
