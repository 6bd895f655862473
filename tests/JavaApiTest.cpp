// The Java API: a listing delivers what the one-at-a-time route delivers and
// what that route leaves out; every listed name opens, stats and reads back;
// failures, closes and walks behave as NIO's do; a Path is given only where it
// names the same file.
#include "JvmTest.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>

#include <thread>

namespace fsstat::test {
namespace {

class JavaApi : public ChecksTest {
public:
    JavaApi() : ChecksTest("ApiChecks") {}
    void expectRoutesAgree(const std::string &dir, const std::map<std::string, std::string> &made,
                           const std::map<std::string, std::string> &links = {});
};

std::vector<int64_t> longs(JNIEnv *env, jobject array) {
    auto a = static_cast<jlongArray>(array);
    std::vector<int64_t> v(a != nullptr ? static_cast<size_t>(env->GetArrayLength(a)) : 0);
    if (a != nullptr) env->GetLongArrayRegion(a, 0, static_cast<jsize>(v.size()), reinterpret_cast<jlong *>(v.data()));
    return v;
}

// The Java side's values but the type: the 13 the one-at-a-time route delivers, then the three nanoseconds.
std::vector<int64_t> sixteen(const struct stat &st) {
    std::vector<int64_t> v = statValues(st);
    v.insert(v.end(), {st.st_atim.tv_nsec, st.st_mtim.tv_nsec, st.st_ctim.tv_nsec});
    return v;
}
std::vector<int64_t> firstSixteen(const std::vector<int64_t> &v) { return {v.begin(), v.begin() + std::min<size_t>(16, v.size())}; }

// One listing of dir through each route, in the same order: entry for entry
// the same name and attributes, and the Java API's exact bytes and nanoseconds
// besides, and the fsstat: file system's unix:* (the system's lstat and statx
// are the oracle). Every file and link (made: name
// -> content, of a link its target's; every other entry made too) reads back
// by the entry and by its bytes, and its path's string leads back to its bytes
// unless that string has another reading.
void JavaApi::expectRoutesAgree(const std::string &dir, const std::map<std::string, std::string> &made,
                                const std::map<std::string, std::string> &links) {
    // Under UTF-8 the JVM replaces encoded surrogates, so such a name has no
    // string that reads back.
    auto knownMiss = [&](const std::string &name) {
        bool surrogate = false;
        for (size_t i = 0; i + 1 < name.size(); i++) surrogate |= name[i] == '\xED' && (name[i + 1] & 0xE0) == 0xA0;
        return utf8ModeForThisRun() && surrogate;
    };
    // Reading a file moves its access time unless that lies past its change time: set it so, with
    // nanoseconds of its own.
    const struct timespec later[2] = {{time(nullptr) + 100, 123456789}, {0, UTIME_OMIT}};
    for (const auto &m : made) utimensat(AT_FDCWD, (dir + "/" + m.first).c_str(), later, AT_SYMLINK_NOFOLLOW);
    std::vector<Entry> compat = listDir(env, dir);
    jmethodID list = env->GetStaticMethodID(checks, "list", "(Ljava/lang/String;)[Ljava/lang/Object;");
    auto rows = static_cast<jobjectArray>(env->CallStaticObjectMethod(checks, list, str(dir)));
    ASSERT_EQ(thrown(env), "");
    std::set<std::string> seen;
    size_t c = 0;
    for (jsize i = 0; i < env->GetArrayLength(rows); i++) {
        env->PushLocalFrame(16);
        auto row = static_cast<jobjectArray>(env->GetObjectArrayElement(rows, i));
        auto col = [&](jsize k) { return env->GetObjectArrayElement(row, k); };
        const std::string name = bytesOf(env, col(1)), path = dir + "/" + name;
        const std::vector<int64_t> values = longs(env, col(2));
        seen.insert(name);
        struct stat st[2];
        ASSERT_EQ(lstat(path.c_str(), &st[0]), 0) << hex(name);
        EXPECT_EQ(firstSixteen(values), sixteen(st[0])) << hex(name);
        EXPECT_EQ(hex(bytesOf(env, col(3))), hex(path));
        if (S_ISDIR(st[0].st_mode)) {
            struct statvfs fs;
            ASSERT_EQ(statvfs(dir.c_str(), &fs), 0);
            EXPECT_EQ(call("error", "(Ljava/lang/String;Ljava/lang/Object;)Ljava/lang/String;", str("statistics"),
                           newJavaString(env, dir + "/" + utf8(env, static_cast<jstring>(col(0))))),
                      std::to_string(fs.f_bsize) + " " + std::to_string(fs.f_blocks) + " " + std::to_string(fs.f_files))
                << "statistics of " << hex(name);
        }
        if (!knownMiss(name)) {
            EXPECT_EQ(hex(bytesOf(env, col(4))), hex(path)) << "the path's string read back";
        }
        if (S_ISREG(st[0].st_mode) || S_ISLNK(st[0].st_mode)) {
            ASSERT_EQ(stat(path.c_str(), &st[1]), 0) << hex(name);
            EXPECT_EQ(bytesOf(env, col(5)), made.at(name)) << "by the entry: " << hex(name);
            EXPECT_EQ(bytesOf(env, col(6)), made.at(name)) << "by the bytes: " << hex(name);
            EXPECT_EQ(firstSixteen(longs(env, col(7))), sixteen(st[1])) << "stat by the bytes " << hex(name);
        }
        struct statx stx;
        ASSERT_EQ(statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &stx), 0) << hex(name);
        std::vector<int64_t> unix = sixteen(st[0]);
        const bool btime = (stx.stx_mask & STATX_BTIME) != 0;
        unix.insert(unix.end(), {btime ? stx.stx_btime.tv_sec : -1, btime ? stx.stx_btime.tv_nsec : -1});
        EXPECT_EQ(longs(env, col(10)), unix) << "unix:* of " << hex(name);
        if (links.count(name) != 0) {
            EXPECT_EQ(hex(bytesOf(env, col(8))), hex(links.at(name)));
            EXPECT_EQ(hex(bytesOf(env, col(9))), hex(dir + "/" + links.at(name))) << "the target's string";
        }
        if (S_ISSOCK(st[0].st_mode)) {
            EXPECT_EQ(values[16], 4) << "a socket's type";
        } else {  // the one-at-a-time route leaves sockets out
            ASSERT_LT(c, compat.size()) << "more entries than the one-at-a-time route: " << hex(name);
            const Entry &e = compat[c++];
            EXPECT_EQ(hex(utf8(env, static_cast<jstring>(col(0)))), hex(e.java)) << "name of " << hex(name);
            EXPECT_EQ(std::vector<int64_t>(values.begin(), values.begin() + 13), e.values) << hex(name);
        }
        env->PopLocalFrame(nullptr);
    }
    EXPECT_EQ(c, compat.size());
    EXPECT_EQ(seen.size(), made.size());
}

TEST_F(JavaApi, HostileNamesListAsTheOneAtATimeRouteListsThemAndReadBack) {
    TempDir dir;
    std::map<std::string, std::string> made;  // name -> content (of a link: of its target)
    auto add = [&](const std::string &name) {
        dir.file(name, name);
        made[name] = name;
    };
    std::string all, longTarget;
    for (int b = 1; b < 256; b++) {
        if (b != '/') add(b == '.' ? std::string(".x") : std::string(1, static_cast<char>(b)));
        if (b != '/' && b != '.') all += static_cast<char>(b);
    }
    add(all);
    for (const char *name : {"\xC2\xB6", "a\xC2\xB6", "\xC2\xB6\xC2\xB6x", "\xB6\xB6z", "a\xED\xA0\x80",
                             "\xED\xBF\xBFz\xE9", "caf\xE9", "caf\xC2\xB6\xC3\xA9", "\xF0\x9F\x98\x80", "\xC3\xA9"}) {
        add(name);
    }
    add(std::string(255, 'n'));
    add(std::string(255, '\xE9'));
    while (longTarget.size() < 3000) longTarget += "./";  // past readLinkTarget's first buffer
    const std::map<std::string, std::string> links = {
        {"link-latin1", "caf\xE9"}, {"link-pilcrow", "caf\xC2\xB6\xC3\xA9"}, {"link-long", longTarget + "caf\xE9"}};
    for (const auto &[link, target] : links) {
        ASSERT_EQ(symlink(target.c_str(), dir.at(link).c_str()), 0);
        made[link] = made[target.substr(target.rfind('/') + 1)];
    }
    ASSERT_EQ(mkfifo(dir.at("fifo").c_str(), 0600), 0);
    for (const char *sub : {"sub", "d\xE9", "\xF0\x9F\x98\x80" "d"}) {  // statistics take their delivered names too
        ASSERT_EQ(mkdir(dir.at(sub).c_str(), 0700), 0);
        made[sub] = "";
    }
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", dir.at("sock").c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr), 0);
    close(sock);
    made["fifo"] = made["sock"] = "";
    expectRoutesAgree(dir.path(), made, links);
}

TEST_F(JavaApi, FailuresAreTheExceptionsNioUsesOrTheLibrarysStatMessages) {
    TempDir dir;
    dir.file("f", "x");
    ASSERT_EQ(mkdir(dir.at("locked").c_str(), 0) | symlink("loop", dir.at("loop").c_str()), 0);
    const std::string d = dir.path();
    const std::string shownE9 = runEncoding() == "ISO-8859-1" ? "\xC3\xA9" : "\\xE9";
    const std::string nul = d + std::string(1, '\0') + "b";
    jstring unpaired = env->NewString(reinterpret_cast<const jchar *>(u"/tmp/\xDC00"), 6);
    struct Row {
        const char *op;
        jobject path;
        std::string expected;  // the start of "Class: message"
    } rows[] = {
        {"list", javaBytes(env, d + "/none\xE9"), "java.nio.file.NoSuchFileException: " + d + "/none" + shownE9},
        {"list", str(d + "/f"), "java.nio.file.NotDirectoryException: " + d + "/f"},
        {"open", str(d), "java.nio.file.FileSystemException: " + d + ": Is a directory"},
        {"open", str(d + "/f/x"), "java.nio.file.NotDirectoryException: " + d + "/f/x"},
        {"list", str(d + "/locked"), "java.nio.file.AccessDeniedException: " + d + "/locked"},
        {"listGone", nullptr, "java.io.UncheckedIOException: java.nio.file.NoSuchFileException: /proc/"},
        {"statistics", str(d + "/none"), "java.nio.file.NoSuchFileException: " + d + "/none: No such file or directory"},
        {"stat", str(d + "/none"), "java.nio.file.NoSuchFileException: " + d + "/none: No such file or directory"},
        {"stat", str(d + "/loop"), "java.nio.file.FileSystemException: " + d + "/loop: Too many levels of symbolic links"},
        {"lstat", str(d + "/loop"), ""},
        {"readLink", str(d + "/f"), "java.nio.file.NotLinkException: " + d + "/f"},
        {"list", newJavaString(env, nul), "java.nio.file.InvalidPathException: Nul"},
        {"stat", javaBytes(env, nul), "java.nio.file.InvalidPathException: Nul"},
        {"list", unpaired, "java.nio.file.InvalidPathException: Unpaired"},
        {"list", nullptr, "java.lang.NullPointerException"},
    };
    const char *sig = "(Ljava/lang/String;Ljava/lang/Object;)Ljava/lang/String;";
    Unprivileged unprivileged;
    for (const Row &r : rows) {
        const std::string got = call("error", sig, str(r.op), r.path);
        EXPECT_EQ(got.substr(0, r.expected.size()), r.expected) << r.op << " gave " << got;
        EXPECT_TRUE(!r.expected.empty() || got.empty()) << r.op << " gave " << got;
    }
    // Out of descriptors: the system's text, not an empty listing. A JVM thread closing a descriptor
    // below the limit meanwhile hands the listing one, so a few tries are allowed.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const std::string expected = "java.nio.file.FileSystemException: " + d + ": Too many open files";
    std::string got;
    for (int attempt = 0; attempt < 5 && got != expected; attempt++) {
        const int lowest = dup(0);
        close(lowest);
        struct rlimit tight = saved;
        tight.rlim_cur = static_cast<rlim_t>(lowest);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
        got = call("error", sig, str("list"), str(d));
        setrlimit(RLIMIT_NOFILE, &saved);
    }
    EXPECT_EQ(got, expected);
}

TEST_F(JavaApi, StreamsSkipReadAndEndAsInputStreamSaysAndNeverSeekAPipe) {
    TempDir dir;
    std::string content;
    for (int i = 0; i < 100; i++) content += static_cast<char>('A' + i % 26);
    dir.file("regular\xE9", content);
    ASSERT_EQ(mkfifo(dir.at("fifo\xE9").c_str(), 0600), 0);
    std::thread writer([&] {
        const int fd = open(dir.at("fifo\xE9").c_str(), O_WRONLY);
        EXPECT_EQ(write(fd, content.data(), content.size()), 100);
        close(fd);
    });
    const char *sig = "([B)Ljava/lang/String;";
    EXPECT_EQ(call("streamSteps", sig, javaBytes(env, dir.at("fifo\xE9"))), "65 9 75 0 89 -1 0 ClosedChannelException");
    writer.join();
    EXPECT_EQ(call("streamSteps", sig, javaBytes(env, dir.at("regular\xE9"))),
              "65 9 75 89 89 -1 0 ClosedChannelException");
}

TEST_F(JavaApi, CloseRacingUseNeverReachesAReusedDescriptorAndDroppedStreamsClose) {
    TempDir dir;
    dir.file("a", std::string(1 << 20, 'a'));
    dir.file("b", std::string(1 << 16, 'b'));
    const char *sig = "(Ljava/lang/String;Ljava/lang/String;I)Ljava/lang/String;";
    expectNoFailedCases(call("closeStreamMidway", sig, str(dir.at("a")), str(dir.at("b")), 200));
    EXPECT_EQ(descriptorsOn(dir.path()), 0);
    ASSERT_EQ(mkdir(dir.at("many").c_str(), 0700), 0);
    for (int i = 0; i < 2000; i++) dir.file("many/entry" + std::to_string(i));
    expectNoFailedCases(call("closeListingMidway", "(Ljava/lang/String;)Ljava/lang/String;", str(dir.at("many"))));
    EXPECT_EQ(descriptorsOn(dir.path()), 0);

    ASSERT_EQ(call("dropUnclosed", "(Ljava/lang/String;I)Ljava/lang/String;", str(dir.at("a")), 20), "");
    EXPECT_EQ(descriptorsOn(dir.at("a")), 20);
    jclass system = env->FindClass("java/lang/System");
    jmethodID gc = env->GetStaticMethodID(system, "gc", "()V");
    for (int i = 0; i < 100 && descriptorsOn(dir.at("a")) > 0; i++) {
        env->CallStaticVoidMethod(system, gc);
        ASSERT_EQ(thrown(env), "");
        usleep(50000);
    }
    EXPECT_EQ(descriptorsOn(dir.at("a")), 0);
}

TEST_F(JavaApi, EntriesRemovedMidListingAreSkipped) {
    TempDir dir;
    for (int i = 0; i < 1000; i++) dir.file("entry" + std::to_string(i));
    expectNoFailedCases(call("vanishing", "(Ljava/lang/String;)Ljava/lang/String;", str(dir.path())));
}

TEST_F(JavaApi, WalkIsPreOrderAsFilesWalkAndNeverFollowsLinks) {
    TempDir dir;
    for (const char *d : {"a", "a/b", "a/b/c", "a/e", "f", "g"}) ASSERT_EQ(mkdir(dir.at(d).c_str(), 0700), 0);
    for (const char *f : {"a/1", "a/b/2", "a/b/c/3", "a/b/c/4", "g/5", "top"}) dir.file(f);
    ASSERT_EQ(symlink("../a", dir.at("f/up").c_str()), 0);
    ASSERT_EQ(symlink(dir.path().c_str(), dir.at("loop").c_str()), 0);
    expectNoFailedCases(call("walk", "(Ljava/lang/String;)Ljava/lang/String;", str(dir.path())));
    EXPECT_EQ(descriptorsOn(dir.path()), 0);
    EXPECT_EQ(call("walkPastVanishedDirectory", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;",
                   str(dir.path()), str("a/e")),
              "14");  // every entry, a/e itself included
    EXPECT_EQ(descriptorsOn(dir.path()), 0);
}

TEST_F(JavaApi, PathAndEmptyPathReachWhatBytesReachAndAClosedListingRefusesIteration) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.at("d\xE9").c_str(), 0700), 0);
    for (const char *f : {"d\xE9/1", "top", "caf\xC3\xA9"}) dir.file(f);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const std::string got = call("pathForms", "(Ljava/lang/String;)Ljava/lang/String;", str(dir.path()));
    ASSERT_EQ(chdir(cwd), 0);
    expectNoFailedCases(got);
}

TEST_F(JavaApi, PathOnlyWhereTheJvmsFileNameCharsetCarriesTheExactBytes) {
    TempDir dir;
    const std::string jnu = runEncoding().empty() ? "UTF-8" : runEncoding();  // each run's locale matches it
    const struct {
        std::string name, content;
        std::set<std::string> carriedBy;  // the charsets whose Path names the file
    } rows[] = {
        {"plain", "plain", {"UTF-8", "ISO-8859-1", "US-ASCII"}},
        {"caf\xE9", "latin-1 content", {"ISO-8859-1"}},
        {"caf\xC3\xA9", "utf-8 content", {"UTF-8", "ISO-8859-1"}},
        {"caf\xC2\xB6\xC3\xA9", "utf-8 pilcrow content", {"UTF-8", "ISO-8859-1"}},
        {"a\xED\xA0\x80", "encoded surrogate", {"ISO-8859-1"}},
    };
    for (const auto &r : rows) dir.file(r.name, r.content);
    for (const auto &r : rows) {
        for (jboolean asName : {JNI_FALSE, JNI_TRUE}) {
            const std::string got =
                call("throughPath", "([BZ)Ljava/lang/String;", javaBytes(env, dir.at(r.name)), asName);
            const std::string expected = r.carriedBy.count(jnu) ? r.content : "refused: its bytes are not a name in ";
            EXPECT_EQ(got.substr(0, r.carriedBy.count(jnu) ? std::string::npos : expected.size()), expected)
                << hex(r.name) << (asName ? " by name" : " by bytes");
        }
    }
}

} // namespace
} // namespace fsstat::test
