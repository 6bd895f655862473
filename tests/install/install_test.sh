#!/usr/bin/env bash
# The install as its users meet it: the layout, a CMake project and a
# pkg-config build calling the library, the jar alone on a class path (its own
# library extracted by racing JVMs, with no descriptor left), the tool, the
# Maven repository, and the loader's messages for libraries and directories it
# must refuse. The shared temporary directory's default taken by someone else
# is default_provider_test.sh's.
set -u
build=$1 here=$2 java=$3 javac=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
p=$work/prefix
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$p" >"$work/install.log" || { cat "$work/install.log"; fail "install"; }
for f in lib/libfsstat.so include/fsstat/JniUtil.h lib/cmake/fsstat/fsstatConfig.cmake lib/pkgconfig/fsstat.pc \
         share/java/fsstat.jar bin/fsutil; do
  [ -e "$p/$f" ] || fail "$f not installed"
done
soname=$(readelf -d "$p/lib/libfsstat.so" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[ -n "$soname" ] && [ -e "$p/lib/$soname" ] || fail "SONAME '$soname' is not an installed file"
jar=$p/share/java/$(readlink "$p/share/java/fsstat.jar")
[[ $jar == */fsstat-[0-9]*.jar && -f $jar ]] || fail "fsstat.jar does not link to a versioned jar"
[ -f "${jar%.jar}-javadoc.jar" ] || fail "no javadoc jar beside $jar"

# Native users: CMake's find_package and pkg-config.
printf 'hello world' >"$work/file"
ln -s target "$work/link"
cmake -S "$here/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$p" >"$work/consumer.log" 2>&1 &&
  cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "consumer project"; }
"$work/consumer/consumer" "$work/file" "$work/link" || fail "consumer program (CMake package)"
flags=$(PKG_CONFIG_PATH=$p/lib/pkgconfig pkg-config --cflags --libs fsstat) || fail "pkg-config"
# shellcheck disable=SC2086
cc "$here/consumer/consumer.c" $flags -o "$work/pc-consumer" || fail "build with: $flags"
LD_LIBRARY_PATH=$p/lib "$work/pc-consumer" "$work/file" "$work/link" || fail "consumer program (pkg-config)"

# Java users: the jar alone, no property; the library comes out of the jar.
"$javac" -d "$work/classes" -cp "$jar" "$here/UseJar.java" || fail "UseJar does not compile against the jar"
mkdir "$work/dir" "$work/dir/sub" && touch "$work/dir/a" "$work/dir/b"
# As the README tells applications on JDK 24 and later to run it.
use() { "$java" -XX:-UsePerfData --enable-native-access=ALL-UNNAMED -cp "$jar:$work/classes" ${option:+"$option"} UseJar "$@"; }
out=$(XDG_CACHE_HOME=$work/cache use mapped "$work/dir") || fail "listing with the jar alone: $out"
[ "$(head -3 <<<"$out" | sort | tr '\n' ' ')" = "a b sub " ] || fail "listing gave: $out"
[ "$(stat -c %a "$work/cache/fsstat")" = 700 ] || fail "cache directory is not owner-only"
# Loaded through the descriptor the copy was checked on: its name is gone before the load.
[[ $(tail -1 <<<"$out") == "$work/cache/fsstat/libfsstat-"*".partial (deleted)" ]] || fail "mapped from: $(tail -1 <<<"$out")"
[ -z "$(ls -A "$work/cache/fsstat")" ] || fail "copies left: $(ls -A "$work/cache/fsstat")"

# Four JVMs extracting into one empty directory at once.
for i in 1 2 3 4; do option=-Dfsstat.cache.dir=$work/race use list "$work/dir" >"$work/race.$i" 2>"$work/err.$i" & done
wait
for i in 1 2 3 4; do [ "$(wc -l <"$work/race.$i")" = 3 ] || fail "racing JVMs $i: $(cat "$work/race.$i" "$work/err.$i")"; done
[ -z "$(ls -A "$work/race")" ] || fail "racing JVMs left: $(ls -A "$work/race")"

# A copy left by a killed JVM goes; the directory may be a link to one of the user's own.
mkdir -m 700 "$work/own" && ln -s own "$work/own-link"
touch -d '1 hour ago' "$work/own/libfsstat-0123456789abcdef.partial"
out=$(option=-Dfsstat.cache.dir=$work/own-link use list "$work/dir" 2>&1) || fail "cache directory through a link: $out"
[ -z "$(ls -A "$work/own")" ] || fail "a stale copy stays: $(ls -A "$work/own")"

# No descriptor left: that call fails saying so, and the next one loads.
out=$(option=-Dfsstat.cache.dir=$work/race use emfile "$work/dir" 2>&1)
grep -q '^first: .*too many open files: close some, or raise the limit' <<<"$out" &&
  [ "$(grep -cv '^first' <<<"$out")" = 3 ] || fail "out of descriptors, then again: $out"

# Libraries and directories the loader refuses, each message naming the file and the way out that applies.
cp "$p/lib/$soname" "$work/wide.so" && printf '\001' | dd of="$work/wide.so" bs=1 seek=4 conv=notrunc status=none
mkdir -m 775 "$work/shared"
while IFS='|' read -r option expected; do
  out=$(use list "$work/dir" 2>&1) && fail "$option: loaded"
  grep -qF -- "$expected" <<<"$out" || fail "$option: message lacks '$expected': $out"
done <<EOF
-Dfsstat.library.path=$work/consumer/consumer|$work/consumer/consumer (-Dfsstat.library.path=$work/consumer/consumer): it is some other library
-Dfsstat.library.path=$work/wide.so|$work/wide.so (-Dfsstat.library.path=$work/wide.so): it is a 32-bit x86_64 library, this JVM is 64-bit
-Dfsstat.library.path=$work/none.so|$work/none.so (-Dfsstat.library.path=$work/none.so): cannot read it
-Dfsstat.library.path=$work/dir|$work/dir (-Dfsstat.library.path=$work/dir): it is a directory, not the library file
-Dfsstat.cache.dir=$work/shared|refusing to load libfsstat from $work/shared: it belongs to $(id -un) with permissions rwxrwxr-x, so others could replace the library; chmod 700 it, or choose another -Dfsstat.cache.dir
EOF
# Each class loader has a copy of the jar's library; one named by path serves one class loader.
out=$(option=-Dfsstat.cache.dir=$work/race use twice "$jar" "$work/dir")
[ "$out" = $'loader 1: listed\nloader 2: listed' ] || fail "two class loaders: $out"
out=$(option=-Dfsstat.library.path=$p/lib/$soname use twice "$jar" "$work/dir")
[ "$(head -1 <<<"$out")" = "loader 1: listed" ] || fail "first class loader: $out"
grep -q "^loader 2: libfsstat is already loaded by another class loader" <<<"$out" || fail "second class loader: $out"

# On the module path: the API packages read from an application, and the tool as the module's own.
out=$("$java" -XX:-UsePerfData --enable-native-access=com.durvo.ufe.fsutil -p "$jar" --add-modules com.durvo.ufe.fsutil \
      -cp "$work/classes" -Dfsstat.cache.dir="$work/race" UseJar list "$work/dir" 2>&1) &&
  [ "$(sort <<<"$out" | tr '\n' ' ')" = "a b sub " ] || fail "module path: $out"
out=$("$java" -XX:-UsePerfData --enable-native-access=com.durvo.ufe.fsutil -p "$jar" -Dfsstat.cache.dir="$work/race" \
      -m com.durvo.ufe.fsutil/com.durvo.ufe.fsutil.tool.FsUtil ls "$work/dir" 2>&1) &&
  [ "$(tr '\n' ' ' <<<"$out")" = "a b sub " ] || fail "the tool as a module: $out"

# The installed tool runs on the installed jar and library.
"$p/bin/fsutil" ls "$work/dir" >"$work/tool.out" 2>&1 && [ "$(tr '\n' ' ' <"$work/tool.out")" = "a b sub " ] ||
  fail "bin/fsutil ls: $(cat "$work/tool.out")"

# Maven resolves the artifact offline from the repository (as a core
# extension, which needs no plugins).
if command -v mvn >/dev/null; then
  mkdir -p "$work/mvn/.mvn" && cp -r "$p/share/maven-repo" "$work/m2"
  version=${jar##*/fsstat-} version=${version%.jar}
  printf '<extensions><extension><groupId>com.durvo.ufe</groupId><artifactId>fsstat</artifactId><version>%s</version></extension></extensions>' \
    "$version" >"$work/mvn/.mvn/extensions.xml"
  printf '<project><modelVersion>4.0.0</modelVersion><groupId>t</groupId><artifactId>t</artifactId><version>1</version><packaging>pom</packaging></project>' \
    >"$work/mvn/pom.xml"
  (cd "$work/mvn" && mvn -B -X -o -Dmaven.repo.local="$work/m2" validate) >"$work/mvn.log" 2>&1 &&
    grep -q "Included $work/m2/com/durvo/ufe/fsstat/$version/fsstat-$version.jar" "$work/mvn.log" ||
    { tail -20 "$work/mvn.log"; fail "Maven cannot resolve com.durvo.ufe:fsstat:$version offline"; }
  maven="Maven resolved it offline"
else
  maven="mvn not installed, Maven check skipped"
fi
echo "install: layout, SONAME $soname, CMake package, pkg-config, jar alone, 4 racing JVMs, a stale copy, no descriptor left, 5 refusals, a second class loader, the module path, the tool; $maven"
