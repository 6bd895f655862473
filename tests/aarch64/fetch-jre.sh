#!/usr/bin/env bash
# fetch-jre.sh DIR: unpacks Debian's arm64 Java 17 runtime and the few
# libraries its JVM loads into DIR, for qemu-aarch64-static -L DIR. Nothing is
# installed: the machine's own JDK and libraries stay as they are. Needs the
# arm64 architecture in dpkg (dpkg --add-architecture arm64; apt-get update).
set -euo pipefail
dir=$(realpath -m "$1")
[ -x "$dir/usr/lib/jvm/java-17-openjdk-arm64/bin/java" ] && exit 0
debs=$(mktemp -d)
trap 'rm -rf "$debs"' EXIT
chmod 755 "$debs"  # apt downloads as its own user
(cd "$debs" && apt-get download -qq openjdk-17-jre-headless:arm64 libc6:arm64 libgcc-s1:arm64 libstdc++6:arm64 zlib1g:arm64)
mkdir -p "$dir"
for deb in "$debs"/*.deb; do dpkg -x "$deb" "$dir"; done
# The package's absolute links (conf -> /etc/java-17-openjdk, ...) would leave
# the directory; they point inside it instead, relative, so it can be moved.
find "$dir" -type l -lname '/*' | while read -r link; do
  ln -sfnr "$dir$(readlink "$link")" "$link"
done
