#!/usr/bin/env bash
# Every class in the jar is Java 17 bytecode (class file version 61) or older.
set -u
jar=$1 jartool=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
(cd "$dir" && "$jartool" xf "$jar") || { echo "FAIL: cannot unpack $jar"; exit 1; }
n=0
while IFS= read -r -d '' class; do
  version=$(od -An -j6 -N2 -tu1 "$class" | awk '{print $1 * 256 + $2}')
  [ "$version" -le 61 ] || { echo "FAIL: ${class#"$dir"/} has class file version $version"; exit 1; }
  n=$((n + 1))
done < <(find "$dir" -name '*.class' -print0)
[ "$n" -gt 0 ] || { echo "FAIL: no classes in $jar"; exit 1; }
echo "jar: $n classes, none newer than Java 17"
