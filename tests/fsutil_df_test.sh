#!/usr/bin/env bash
# fsutil df against GNU df: the same rows, columns and header for every option
# set; figures that change while the tests run (used, available, use%) within a
# tolerance. Names are compared where GNU's form of them is plain ASCII: for
# others (control characters, bytes past ASCII) the two tools show different
# spellings, so such rows are compared by their figures. As root, one mount of
# our own has such a name.
source "$(dirname "$0")/fsutil_common.sh"

if [ "$(id -u)" = 0 ]; then
  mnt=$dir/$'mnt a\tb\\c\xe9'
  mkdir "$mnt"
  if mount -t tmpfs -o size=1m fsstat-df "$mnt"; then
    trap 'umount "$mnt"; chmod -R u+rwx "$dir"; rm -rf "$dir"' EXIT
  else  # root without the right to mount, as in many containers
    echo "note: cannot mount a tmpfs here; the odd-named mount point is not checked"
    unset mnt
  fi
fi

# rows LABEL OPTION...: our table and GNU's agree line for line. Each table is
# cut up by its own header: the mount point starts under "Mounted on", the
# fields before it are the figures (and type) from the right, the rest is the
# source, whatever spaces the names hold.
rows() {
  local label=$1 ours gnu tries=0 before
  shift
  while :; do  # another process may mount or unmount between the two runs
    before=$(cat /proc/self/mountinfo)
    gnu=$(df "$@" 2>/dev/null); ours=$(fsu df "$@" 2>/dev/null)
    [ "$before" = "$(cat /proc/self/mountinfo)" ] || [ $((tries += 1)) -ge 3 ] || continue
    break
  done
  awk -v typed="$([[ " $* " == *" -T "* ]] && echo 1 || echo 0)" '
    function bytes(v,   n, u) {  # 12G, 4.0K, 17%, 12345 as a number
      n = v + 0; u = substr(v, length(v))
      return n * (u == "K" || u == "k" ? 1e3 : u == "M" ? 1e6 : u == "G" ? 1e9 : u == "T" ? 1e12 : 1)
    }
    function cut(line, side,   n, t, i, at) {
      at = index(line, "Mounted on") ? index(line, "Mounted on") : start[side]
      if (FNR == 1) { start[side] = at; k[side] = split(substr(line, 1, at - 1), t, " ") - 1; return }
      target[side, FNR] = substr(line, start[side])
      n = split(substr(line, 1, start[side] - 1), t, " ")
      for (i = 1; i <= k[side]; i++) field[side, FNR, i] = t[n - k[side] + i]
      source[side, FNR] = substr(line, 1, start[side] - 1)
      sub(/ *$/, "", source[side, FNR])
      for (i = 1; i <= k[side]; i++) sub(/ *[^ ]+ *$/, "", source[side, FNR])
    }
    function plain(s) { return s ~ /^[ -~]*$/ && s !~ /[?]/ }
    NR == FNR { header = FNR == 1 ? $0 : header; cut($0, "o"); n = FNR; next }
    FNR == 1 { cut($0, "g"); if (header != $0) bad = bad "\nheader: " header; next }
    { m = FNR; cut($0, "g")
      if (plain(source["g", FNR]) && source["o", FNR] != source["g", FNR] ||
          plain(target["g", FNR]) && target["o", FNR] != target["g", FNR])
        bad = bad "\nline " FNR ": " source["o", FNR] " on " target["o", FNR] " vs " source["g", FNR] " on " target["g", FNR]
      size = 1 + typed
      for (i = 1; i <= k["g"]; i++) {
        o = field["o", FNR, i]; g = field["g", FNR, i]
        loose = i > size && i <= size + 3
        tol = i == size + 3 ? 0 : bytes(field["g", FNR, size]) / 100 + bytes(field["g", FNR, size]) / 1e6 + 1
        d = bytes(o) - bytes(g)
        if (loose ? (d > tol || -d > tol || (o ~ /^-$/) != (g ~ /^-$/)) : o != g)
          bad = bad "\nline " FNR " (" target["g", FNR] ") figure " i ": " o " vs " g
      } }
    END { if (n != m) bad = bad "\n" n " rows, GNU " m; if (bad != "") { print bad; exit 1 } }
  ' <(echo "$ours") <(echo "$gnu") || { echo "FAIL: $label"; failures=$((failures + 1)); }
}

for opts in "" -h -H -i -T -hi "-T -H"; do
  rows "df $opts, every mount" $opts
done
rows "df on named paths, /proc too" /proc "$dir" /dev/shm /
rows "df -hT on named paths" -hT /proc "$dir" /

if [ -n "${mnt:-}" ]; then
  rows "df on a mount point with a space, a tab, a backslash and a Latin-1 byte" "$mnt"
  out=$(fsu df "$mnt" | tail -1)
  check "that mount point shown as $dir/mnt a\\x09b\\\\c\\xE9 ($out)" [ "${out#* 0% }" = "$dir/mnt a\\x09b\\\\c\\xE9" ]
fi

# Failures: GNU's line under our name, the same status, and no header over no rows.
mkdir "$dir/d1" && touch "$dir/d1/f1"
for operand in "$dir/d1/f1/" "$dir/none"; do
  gnu=$(df "$operand" 2>&1); gnu_status=$?
  ours=$(fsu df "$operand" 2>&1); ours_status=$?
  check "df $operand: '$ours' ($ours_status), GNU '$gnu' ($gnu_status)" \
    [ "$ours" = "fsutil $gnu" -a "$ours_status" = "$gnu_status" ]
done

# -v: the eleven figures under each row, the steady ones equal to stat -f's.
out=$(fsu df -v /dev/shm | sed -n 3p)
expected=$(stat -f -c 'bsize=%s frsize=%S blocks=%b files=%c namemax=%l' /dev/shm)
got=$(echo "$out" | tr ' ' '\n' | grep -E '^(bsize|frsize|blocks|files|namemax)=' | paste -sd' ')
check "df -v figures ($got; stat: $expected)" [ "$got" = "$expected" ]

fsu df "$dir/none" / >"$dir/out" 2>/dev/null  # its message: the failures above
check "df with a missing path: status 1" [ $? -eq 1 ]
check "df with a missing path: the others still print" grep -q ' /$' "$dir/out"
"$java" -XX:-UsePerfData -Dfsstat.library.path=/nonexistent/libfsstat.so -jar "$jar" df / >/dev/null 2>"$dir/err"
check "a missing library says what to set" grep -q 'fsstat.library.path' "$dir/err"
finish "fsutil df"
