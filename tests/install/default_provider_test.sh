#!/usr/bin/env bash
# The provider as the JVM's default, as users run it: the jar alone on the
# class path, extracting and loading its own library, for javac and for a
# program whose first file operation is Files.exists; then a content type, a
# listing and an asynchronous read. Once more with the shared temporary
# directory's default taken by someone else, so that the loader makes one.
set -u
java=$1 javac=$2 jar=$3 here=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
export XDG_CACHE_HOME=$work/cache
default=-Djava.nio.file.spi.DefaultFileSystemProvider=com.durvo.ufe.fsutil.nio.FsFileSystemProvider

"$javac" -J-Xcheck:jni -J--enable-native-access=ALL-UNNAMED -J"$default" -J-cp -J"$jar" -d "$work/classes" -cp "$jar" \
  "$here/UseJar.java" || fail "javac with the provider as the default"
[ -z "$(ls -A "$work/cache/fsstat")" ] || fail "javac left copies: $(ls -A "$work/cache/fsstat")"
mkdir "$work/dir" "$work/dir/sub" && printf hello >"$work/dir/a.txt" && touch "$work/dir/b"
feature=$("$java" -XshowSettings:properties -version 2>&1 | sed -n 's/^ *java\.version = \([0-9]*\).*/\1/p')
mkdir -p "$work/tmp/fsstat-$(id -un)" && chmod 777 "$work/tmp/fsstat-$(id -un)"
[ "$(id -u)" = 0 ] && chown nobody "$work/tmp/fsstat-$(id -un)" && chmod 700 "$work/tmp/fsstat-$(id -un)"
for place in cache tmp; do
  options=()
  [ $place = tmp ] && options=(-Djava.io.tmpdir="$work/tmp" -Duser.home=/nonexistent)
  out=$([ $place = tmp ] && unset XDG_CACHE_HOME
        "$java" -Xcheck:jni -XX:-UsePerfData --enable-native-access=ALL-UNNAMED "$default" "${options[@]}" \
          -cp "$jar:$work/classes" UseJar default "$work/dir" 2>&1) || fail "extracting to $place: $out"
  # The content type first: where the JDK refuses it, the rest must work after.
  [ "$(sed 2d <<<"$out")" = "exists true com.durvo.ufe.fsutil.nio.FsFileSystemProvider
list [a.txt, b, sub]
async hello" ] || fail "JDK $feature, extracting to $place: $out"
  type=$(sed -n 2p <<<"$out")
  case $type in
    "type text/plain") ;;
    # Before JDK 25 the JDK's default detector casts the default provider to its own class (JDK-8346722).
    "type refused: java.lang.ClassCastException: class com.durvo.ufe.fsutil.nio.FsFileSystemProvider cannot be cast to class sun.nio.fs.UnixFileSystemProvider"*)
      [ "$feature" -lt 25 ] || fail "JDK $feature: $type" ;;
    *) fail "JDK $feature: $type" ;;
  esac
done
[ -z "$(ls -A "$work/cache/fsstat")" ] || fail "copies left: $(ls -A "$work/cache/fsstat")"
[ "$(ls "$work/tmp")" = "fsstat-$(id -un)" ] || fail "left in the temporary directory: $(ls "$work/tmp")"
echo "default provider on JDK $feature: javac, then a program's first file operation, ${type%% (*}, a listing, an asynchronous read; the same with the temporary directory's default taken"
