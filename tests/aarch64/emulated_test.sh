#!/usr/bin/env bash
# The jar on linux-aarch64, under qemu-aarch64-static with Debian's arm64 Java
# runtime (fetch-jre.sh): the same program dumps what the library says of a
# hostile tree and of "/" on the host's JVM and on the emulated one, each
# loading its own architecture's library from the jar; the dumps must be equal,
# under UTF-8 and under US-ASCII.
set -u
java=$1 jar=$2 classes=$3 jre=$4
arm_java=$jre/usr/lib/jvm/java-17-openjdk-arm64/bin/java
[ -x "$arm_java" ] || { echo "SKIPPED: no arm64 Java runtime in $jre (tests/aarch64/fetch-jre.sh $jre)"; exit 77; }
command -v qemu-aarch64-static >/dev/null || { echo "SKIPPED: qemu-aarch64-static (package qemu-user-static) is missing"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Every byte but NUL, '/' and '.' as a one-byte name, each file holding its name;
# escape marks, an encoded surrogate, a Latin-1 name beside its UTF-8 spelling,
# a 255-byte name, a link, a FIFO and nested directories for the walk.
t=$work/tree
mkdir -p "$t/sub/deeper"
for i in $(seq 1 255); do
  [ "$i" = 46 ] || [ "$i" = 47 ] && continue
  name=$(printf "\\x$(printf %02x "$i")x"); name=${name%x}
  printf '%s' "$name" >"$t/$name"
done
for name in $'caf\xe9' $'caf\xc2\xb6\xc3\xa9' $'\xc2\xb6' $'\xb6\xe9' $'\xed\xa0\x80' "$(printf 'n%.0s' $(seq 255))" plain; do
  printf '%s' "$name" >"$t/$name"
done
ln -s $'target\xe9' "$t/link"
mkfifo "$t/fifo"
printf deep >"$t/sub/deeper/"$'f\xff'
touch -d '2020-02-03 04:05:06.123456789' "$t/plain"

run() {  # run LOCALE JAVA...: the dump, the library extracted from the jar into a cache of the run's own
  local locale=$1
  shift
  LC_ALL=$locale "$@" -XX:-UsePerfData -Dfsstat.cache.dir="$work/cache.$RANDOM" -cp "$jar:$classes" \
    com.durvo.ufe.fsutil.Dump "$t"
}
for locale in C.UTF-8 C; do
  run $locale "$java" >"$work/host" 2>&1 || fail "host JVM ($locale): $(tail -5 "$work/host")"
  start=$SECONDS
  run $locale qemu-aarch64-static -L "$jre" "$arm_java" -XX:TieredStopAtLevel=1 >"$work/arm" 2>&1 ||
    fail "emulated aarch64 JVM ($locale): $(tail -5 "$work/arm")"
  [ "$(wc -l <"$work/host")" -gt 500 ] || fail "short dump ($locale): $(head -5 "$work/host")"
  diff "$work/host" "$work/arm" >"$work/diff" || { head -20 "$work/diff"; fail "aarch64 differs from x86_64 ($locale)"; }
  echo "aarch64 ($locale): $(wc -l <"$work/arm") lines equal to x86_64's, emulated run $((SECONDS - start)) s"
done
