#!/usr/bin/env bash
# Runs the JDK's own java.nio.file tests, unchanged, with the fsstat provider as
# the JVM's default file system provider, and each once more with the JDK's own
# provider, so that a test that fails either way (root user, this JDK's release,
# the machine) is told apart from a fault of ours. Each runs under the three
# charsets the unit tests use, with -Xcheck:jni; a JNI warning fails a run.
#
#   tests/jdk/run-nio-tests.sh <dir> [jar]
#
# <dir> holds OpenJDK's test tree as laid out there: <dir>/test/jdk/java/nio/file
# and <dir>/test/lib. [jar] defaults to build/default/java/fsstat-0.1.0.jar.
# Tests run as plain main(), JUnit 5 or TestNG by their @run line; the runners
# come from Debian's jtreg7 package. Logs stay in $WORK (default: a new
# directory under /tmp), one per test, charset and provider.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 <dir-with-the-jdk-tests> [jar]" >&2; exit 2; }
nio=$1/test/jdk/java/nio/file
lib=$1/test/lib
jar=$(realpath "${2:-$root/build/default/java/fsstat-0.1.0.jar}")
[ -f "$nio/TestUtil.java" ] || { echo "no $nio/TestUtil.java" >&2; exit 2; }
[ -f "$jar" ] || { echo "no $jar" >&2; exit 2; }
work=${WORK:-$(mktemp -d /tmp/nio-tests.XXXXXX)}
mkdir -p "$work"
# NIO_USER=nobody runs the tests as that user: as root, permission checks
# pass that the tests expect to fail.
as=()
if [ -n "${NIO_USER:-}" ]; then
  as=(setpriv --reuid="$NIO_USER" --regid="$(id -g "$NIO_USER")" --clear-groups)
  chmod 755 "$work"
fi

runners=/usr/share/jtreg/lib
junit=$runners/junit-platform-console-standalone.jar
testng=$runners/testng.jar:$runners/jcommander.jar:$runners/guice.jar:$runners/slf4j-api.jar
[ -f "$junit" ] && [ -f "$runners/testng.jar" ] || { echo "install jtreg7 (apt-get install jtreg7)" >&2; exit 2; }

# TestNG alone prints only totals: this listener names each failed test.
mkdir -p "$work/listener"
cat >"$work/listener/FailedTests.java" <<'JAVA'
public class FailedTests extends org.testng.TestListenerAdapter {
    @Override
    public void onTestFailure(org.testng.ITestResult r) {
        System.out.println("FAILED: " + r.getName());
        r.getThrowable().printStackTrace(System.out);
    }
}
JAVA
javac -d "$work/listener" -cp "$testng" "$work/listener/FailedTests.java" || exit 2
testng=$testng:$work/listener

# The en_US.ISO-8859-1 locale the build makes for its own charset runs.
locpath=${LOCPATH:-$(dirname "$(dirname "$jar")")/tests/locale}
if [ ! -d "$locpath/en_US.ISO-8859-1" ]; then
  locpath=$work/locale
  mkdir -p "$locpath"
  localedef -i en_US -f ISO-8859-1 "$locpath/en_US.ISO-8859-1" 2>/dev/null ||
    { echo "cannot make en_US.ISO-8859-1" >&2; exit 2; }
fi

tests=(
  Path/PathOps.java Path/Misc.java Path/UriImportExport.java Path/ToRealPath.java
  Files/Misc.java Files/CopyAndMove.java Files/Links.java Files/SBC.java
  Files/DeleteOnClose.java Files/CreateDirectories.java Files/TemporaryFiles.java
  Files/InputStreamTest.java Files/BytesAndLines.java Files/NotADirectory.java
  Files/IsSameFile.java Files/SetLastModifiedTime.java Files/walkFileTree/MaxDepth.java
  DirectoryStream/Basic.java DirectoryStream/SecureDS.java
  FileStore/Basic.java FileSystem/Basic.java PathMatcher/Basic.java
  attribute/BasicFileAttributeView/Basic.java attribute/PosixFileAttributeView/Basic.java
  attribute/UserDefinedFileAttributeView/Basic.java WatchService/Basic.java
)
# NIO_TESTS="Files/SBC.java ..." runs only those.
[ -n "${NIO_TESTS:-}" ] && read -ra tests <<<"$NIO_TESTS"
charsets=("UTF-8 C.UTF-8" "ISO-8859-1 en_US.ISO-8859-1" "US-ASCII C")
jni_warnings='WARNING in native method|WARNING: JNI local refs|JNI call made'
provider=-Djava.nio.file.spi.DefaultFileSystemProvider=com.durvo.ufe.fsutil.nio.FsFileSystemProvider

# One run: $1 test path, $2 classes, $3 charset, $4 locale, $5 jdk|ours. Prints PASS or FAIL.
run() {
  local test=$1 classes=$2 charset=$3 locale=$4 which=$5
  local name; name=$(basename "$test" .java)
  local log=$work/${test//\//_}.$charset.$which.log scratch=$work/scratch
  local opts=(-Xcheck:jni "-Dfile.encoding=$charset")
  [ "$which" = ours ] && opts+=("$provider")
  local cp=$classes:$jar
  local kind=main
  grep -q '@run junit' "$nio/$test" && kind=junit
  grep -q '@run testng' "$nio/$test" && kind=testng
  local cmd=(java "${opts[@]}" "-Dtest.java.opts=${opts[*]}" "-Dtest.src=$nio/$(dirname "$test")"
             "-Dtest.classes=$classes")
  case $kind in
    main) cmd+=(-cp "$cp" "-Dtest.class.path=$cp" "$name") ;;
    junit) cmd+=(-cp "$cp:$junit" "-Dtest.class.path=$cp" org.junit.platform.console.ConsoleLauncher
                 --disable-banner --details=tree --fail-if-no-tests --select-class "$name") ;;
    testng) cmd+=(-cp "$cp:$testng" "-Dtest.class.path=$cp" org.testng.TestNG -usedefaultlisteners false
                  -listener FailedTests -testclass "$name") ;;
  esac
  rm -rf "$scratch" && mkdir -p "$scratch" && chmod 1777 "$scratch"
  (cd "$scratch" && LC_ALL=$locale LOCPATH=$locpath timeout 600 "${as[@]}" "${cmd[@]}") >"$log" 2>&1
  local rc=$?
  if [ $rc -eq 0 ] && ! grep -Eq "$jni_warnings" "$log" &&
     { [ $kind != testng ] || grep -Eq 'Failures: 0, Skips: 0' "$log"; }; then
    # A test that finds its feature missing passes having checked nothing.
    if grep -q 'not supported - skip test' "$log"; then echo SKIP; else echo PASS; fi
  else
    echo FAIL
  fi
}

# What failed in a log: JUnit's failed tests (a parameterized one by its index,
# as its shown arguments hold temporary names) and TestNG's, or a main test's
# first frame in its own classes.
failures() {
  sed 's/\x1b\[[0-9;]*m//g' "$1" |
    grep -E '✘|^FAILED: |^[[:space:]]+at [A-Za-z0-9_$]+\.[A-Za-z0-9_$<>]+\(' |
    sed -E 's/✘.*//; s/^[│├└─ ]*//; s/^(\[[0-9]+\]).*/\1/; s/[0-9]{5,}/N/g' | { grep -v '^[[:space:]]*at ' || true; } | sort
  sed 's/\x1b\[[0-9;]*m//g' "$1" | grep -m1 -E '^[[:space:]]+at [A-Za-z0-9_$]+\.[A-Za-z0-9_$<>]+\(' || true
}

printf '%-50s' "test (jdk/ours)"
for c in "${charsets[@]}"; do printf ' %-11s' "${c%% *}"; done
echo
failed=0 differ=0
for test in "${tests[@]}"; do
  printf '%-50s' "$test"
  if [ ! -f "$nio/$test" ]; then echo " (not in $1)"; continue; fi
  classes=$work/classes/${test%.java}
  mkdir -p "$classes"
  if ! javac -nowarn -d "$classes" -cp "$junit:$testng" -sourcepath "$nio/$(dirname "$test"):$nio:$lib" \
       "$nio/$test" >"$work/${test//\//_}.javac.log" 2>&1; then
    echo " does not compile on this JDK"
    continue
  fi
  for c in "${charsets[@]}"; do
    jdk=$(run "$test" "$classes" ${c%% *} ${c##* } jdk)
    ours=$(run "$test" "$classes" ${c%% *} ${c##* } ours)
    [ "$jdk" = PASS ] && [ "$ours" = FAIL ] && failed=$((failed + 1))
    log=$work/${test//\//_}.${c%% *}
    if [ "$jdk$ours" = FAILFAIL ] && [ "$(failures "$log.jdk.log")" != "$(failures "$log.ours.log")" ]; then
      ours='FAIL*'
      differ=$((differ + 1))
    fi
    printf ' %-11s' "$jdk/$ours"
  done
  echo
done
echo "logs in $work; $failed run(s) pass with the JDK's provider and fail with ours;" \
     "$differ fail with both but not in the same places (FAIL*)"
