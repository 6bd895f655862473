#!/usr/bin/env bash
# The provider as the JVM's default, as users run it: the jar alone on the
# class path, extracting and loading its own library, for javac and for a
# program whose first file operation is Files.exists; then a content type, a
# listing and an asynchronous read.
set -u
java=$1 javac=$2 jar=$3 here=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
export XDG_CACHE_HOME=$work/cache
default=-Djava.nio.file.spi.DefaultFileSystemProvider=com.durvo.ufe.fsutil.FsFileSystemProvider

"$javac" -J-Xcheck:jni -J--enable-native-access=ALL-UNNAMED -J"$default" -J-cp -J"$jar" -d "$work/classes" -cp "$jar" "$here/UseJar.java" ||
  fail "javac with the provider as the default"
mkdir "$work/dir" "$work/dir/sub" && printf hello >"$work/dir/a.txt" && touch "$work/dir/b"
out=$("$java" -Xcheck:jni -XX:-UsePerfData --enable-native-access=ALL-UNNAMED "$default" -cp "$jar:$work/classes" \
      UseJar default "$work/dir" 2>&1) || fail "$out"
feature=$("$java" -XshowSettings:properties -version 2>&1 | sed -n 's/^ *java.specification.version = //p')
# The content type first: where the JDK refuses it, the rest must work after.
[ "$(sed 2d <<<"$out")" = "exists true com.durvo.ufe.fsutil.FsFileSystemProvider
list [a.txt, b, sub]
async hello" ] || fail "JDK $feature: $out"
type=$(sed -n 2p <<<"$out")
case $type in
  "type text/plain") ;;
  # Before JDK 25 the JDK's default detector casts the default provider to its own class (JDK-8346722).
  "type refused: java.lang.ClassCastException: class com.durvo.ufe.fsutil.FsFileSystemProvider cannot be cast to class sun.nio.fs.UnixFileSystemProvider"*)
    [ "$feature" -lt 25 ] || fail "JDK $feature: $type" ;;
  *) fail "JDK $feature: $type" ;;
esac
[ -z "$(ls -A "$work/cache/fsstat")" ] || fail "copies left: $(ls -A "$work/cache/fsstat")"
echo "default provider on JDK $feature: javac, then a program's first file operation, ${type%% (*}, a listing, an asynchronous read"
