#!/usr/bin/env bash
# fsutil df against GNU df on this machine's mounts: the same rows, columns and
# header for every option set; figures that change while the tests run (used,
# available, use%) within a tolerance.
source "$(dirname "$0")/fsutil_common.sh"

# rows LABEL OPTION...: our table and GNU's agree line for line.
rows() {
  local label=$1 ours gnu
  shift
  gnu=$(df "$@" 2>/dev/null); ours=$(fsu df "$@" 2>/dev/null)
  awk -v typed="$([[ " $* " == *" -T "* ]] && echo 1 || echo 0)" '
    function bytes(v,   n, u) {  # 12G, 4.0K, 17%, 12345 as a number
      n = v + 0; u = substr(v, length(v))
      return n * (u == "K" || u == "k" ? 1e3 : u == "M" ? 1e6 : u == "G" ? 1e9 : u == "T" ? 1e12 : 1)
    }
    NR == FNR { ours[FNR] = $0; n = FNR; next }
    { m = FNR
      if (FNR == 1 || ours[FNR] == $0) { if (ours[FNR] != $0) bad = bad "\nheader: " ours[FNR]; next }
      split(ours[FNR], o); size = 2 + typed
      for (i = 1; i <= NF; i++) {
        loose = i > size && i <= size + 3
        tol = i == size + 3 ? 0 : bytes($size) / 100 + bytes($size) / 1e6 + 1
        d = bytes(o[i]) - bytes($i)
        if (loose ? (d > tol || -d > tol || (o[i] ~ /^-$/) != ($i ~ /^-$/)) : o[i] != $i)
          bad = bad "\nline " FNR " field " i ": " o[i] " vs " $i
      } }
    END { if (n != m) bad = bad "\n" n " rows, GNU " m; if (bad != "") { print bad; exit 1 } }
  ' <(echo "$ours") <(echo "$gnu") || { echo "FAIL: $label"; failures=$((failures + 1)); }
}

for opts in "" -h -H -i -T -hi "-T -H"; do
  rows "df $opts, every mount" $opts
done
rows "df on named paths, /proc too" /proc "$dir" /dev/shm /
rows "df -hT on named paths" -hT /proc "$dir" /

# -v: the eleven figures under each row, the steady ones equal to stat -f's.
out=$(fsu df -v /dev/shm | sed -n 3p)
expected=$(stat -f -c 'bsize=%s frsize=%S blocks=%b files=%c namemax=%l' /dev/shm)
got=$(echo "$out" | tr ' ' '\n' | grep -E '^(bsize|frsize|blocks|files|namemax)=' | paste -sd' ')
check "df -v figures ($got; stat: $expected)" [ "$got" = "$expected" ]

fsu df "$dir/none" / >"$dir/out" 2>"$dir/err"
check "df with a missing path: status 1" [ $? -eq 1 ]
check "df with a missing path: the others still print" grep -q ' /$' "$dir/out"
check "df with a missing path: message" grep -q "$dir/none: No such file or directory" "$dir/err"
"$java" -XX:-UsePerfData -Dfsstat.library.path=/nonexistent/libfsstat.so -jar "$jar" df / >/dev/null 2>"$dir/err"
check "a missing library says what to set" grep -q 'fsstat.library.path' "$dir/err"
finish "fsutil df"
