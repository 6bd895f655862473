// The Java API's listing engine: it must deliver what the one-at-a-time route
// delivers, plus what that route leaves out, and fail, close and walk as NIO does.
#include "Listing.h"

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/un.h>

namespace fsstat::test {
namespace {

struct BatchEntry {
    std::string name, bytes, path, pathBack;
    std::vector<int64_t> values;  // 13 lstat values, 3 nanoseconds, the type's ordinal
};

class ListingEngine : public ListingTest {
public:
    void SetUp() override {
        ListingTest::SetUp();
        checks = env->FindClass("com/durvo/ufe/fsutil/EngineChecks");
        ASSERT_NE(checks, nullptr) << takePending(env).className;
    }

    std::vector<BatchEntry> batchList(const std::string &dir) {
        std::vector<BatchEntry> out;
        auto all = static_cast<jobjectArray>(env->CallStaticObjectMethod(
            checks, env->GetStaticMethodID(checks, "list", "(Ljava/lang/String;)[Ljava/lang/Object;"),
            env->NewStringUTF(dir.c_str())));
        Pending p = takePending(env);
        EXPECT_EQ(p.className, "") << p.message;
        if (all == nullptr) return out;
        for (jsize i = 0; i < env->GetArrayLength(all); i++) {
            env->PushLocalFrame(8);
            auto row = static_cast<jobjectArray>(env->GetObjectArrayElement(all, i));
            BatchEntry e;
            e.name = utf8(env, static_cast<jstring>(env->GetObjectArrayElement(row, 0)));
            e.bytes = bytesOf(env, env->GetObjectArrayElement(row, 1));
            auto values = static_cast<jlongArray>(env->GetObjectArrayElement(row, 2));
            e.values.resize(static_cast<size_t>(env->GetArrayLength(values)));
            env->GetLongArrayRegion(values, 0, static_cast<jsize>(e.values.size()),
                                    reinterpret_cast<jlong *>(e.values.data()));
            e.path = bytesOf(env, env->GetObjectArrayElement(row, 3));
            e.pathBack = bytesOf(env, env->GetObjectArrayElement(row, 4));
            env->PopLocalFrame(nullptr);
            out.push_back(e);
        }
        return out;
    }

    template <typename... Args>
    std::string call(const char *name, const char *sig, Args... args) {
        return callStatic(env, checks, name, sig, args...);
    }
    std::string openError(jobject path) { return call("openError", "(Ljava/lang/Object;)Ljava/lang/String;", path); }

    void expectRoutesAgree(const std::string &dir, const std::set<std::string> &made);

    jclass checks = nullptr;
};

// Both routes read the same directory in the same order: entry for entry the
// same name and attributes, and the batch route's exact bytes and nanoseconds
// besides (the system's lstat is the oracle).
void ListingEngine::expectRoutesAgree(const std::string &dir, const std::set<std::string> &made) {
    std::vector<Entry> compat = lister->list(dir);
    std::vector<BatchEntry> batch = batchList(dir);
    std::set<std::string> seen;
    size_t c = 0;
    for (const BatchEntry &b : batch) {
        seen.insert(b.bytes);
        struct stat st;
        ASSERT_EQ(lstat((dir + "/" + b.bytes).c_str(), &st), 0) << hex(b.bytes);
        EXPECT_EQ(b.values[13], st.st_atim.tv_nsec) << hex(b.bytes);
        EXPECT_EQ(b.values[14], st.st_mtim.tv_nsec) << hex(b.bytes);
        EXPECT_EQ(b.values[15], st.st_ctim.tv_nsec) << hex(b.bytes);
        EXPECT_EQ(hex(b.path), hex(dir + "/" + b.bytes));
        EXPECT_EQ(std::vector<int64_t>(b.values.begin(), b.values.begin() + 13), statValues(st)) << hex(b.bytes);
        if (S_ISDIR(st.st_mode)) {
            struct statvfs fs;
            ASSERT_EQ(statvfs(dir.c_str(), &fs), 0);
            EXPECT_EQ(call("stat", "(Ljava/lang/String;)Ljava/lang/String;",
                           newJavaString(env, dir + "/" + b.name)),
                      std::to_string(fs.f_bsize) + " " + std::to_string(fs.f_blocks) + " " + std::to_string(fs.f_files))
                << "statistics of " << hex(b.bytes);
        }
        if (S_ISSOCK(st.st_mode)) {
            EXPECT_EQ(b.values[16], 4) << "a socket's type";
            continue;  // the one-at-a-time route leaves sockets out
        }
        ASSERT_LT(c, compat.size()) << "more entries than the one-at-a-time route: " << hex(b.bytes);
        const Entry &e = compat[c++];
        EXPECT_EQ(hex(b.name), hex(e.java)) << "name of " << hex(b.bytes);
        EXPECT_EQ(std::vector<int64_t>(b.values.begin(), b.values.begin() + 13), e.values) << hex(b.bytes);
        if (e.native != "<elsewhere>") {
            EXPECT_EQ(hex(b.pathBack), hex(dir + "/" + e.native)) << hex(b.bytes);
        }
    }
    EXPECT_EQ(c, compat.size());
    EXPECT_EQ(seen, made);
}

TEST_F(ListingEngine, DeliversWhatTheOneAtATimeRouteDeliversForHostileNames) {
    TempDir dir;
    std::set<std::string> made;
    auto add = [&](const std::string &name) {
        dir.file(name, name);
        made.insert(name);
    };
    std::string all;
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
    ASSERT_EQ(mkfifo(dir.at("fifo").c_str(), 0600) | symlink("fifo", dir.at("link").c_str()) |
                  symlink("none", dir.at("dangling").c_str()),
              0);
    made.insert({"fifo", "link", "dangling"});
    for (const char *sub : {"sub", "d\xE9", "\xF0\x9F\x98\x80" "d"}) {  // statistics take their delivered names too
        ASSERT_EQ(mkdir(dir.at(sub).c_str(), 0700), 0);
        made.insert(sub);
    }
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", dir.at("sock").c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr), 0);
    close(sock);
    made.insert("sock");
    expectRoutesAgree(dir.path(), made);

    // Past the one-at-a-time route's 1024-byte path buffer.
    std::string deep = dir.path();
    while (deep.size() < 1100) {
        deep += "/" + std::string(200, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    for (const char *name : {"x", "caf\xE9"}) dir.file(deep.substr(dir.path().size() + 1) + "/" + name);
    expectRoutesAgree(deep, {"x", "caf\xE9"});
}

TEST_F(ListingEngine, OpenFailuresAreNioExceptionsNamingThePath) {
    TempDir dir;
    dir.file("file");
    ASSERT_EQ(mkdir(dir.at("locked").c_str(), 0), 0);
    const bool utf8Run = utf8ModeForThisRun();
    struct Row {
        jobject path;
        std::string expected;  // the start of "Class: message"
    } rows[] = {
        {javaBytes(env, dir.at("none\xE9")), "java.nio.file.NoSuchFileException: " + dir.at(utf8Run ? "none\\xE9" : "none")},
        {env->NewStringUTF(dir.at("file").c_str()), "java.nio.file.NotDirectoryException: " + dir.at("file")},
        {newJavaString(env, dir.at("a") + std::string(1, '\0') + "b"), "java.nio.file.InvalidPathException: Nul"},
        {javaBytes(env, dir.path() + std::string(1, '\0')), "java.nio.file.InvalidPathException: Nul"},
        {env->NewString(reinterpret_cast<const jchar *>(u"/tmp/\xD800"), 6), "java.nio.file.InvalidPathException: Unpaired"},
        {nullptr, "java.lang.NullPointerException"},
        {env->NewStringUTF(dir.at("locked").c_str()), "java.nio.file.AccessDeniedException: " + dir.at("locked")},
    };
    Unprivileged unprivileged;
    for (const Row &r : rows) {
        const std::string got = openError(r.path);
        EXPECT_EQ(got.substr(0, r.expected.size()), r.expected) << got;
    }
    // Out of descriptors: the system's text, not an empty listing.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowest = dup(0);
    close(lowest);
    struct rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const std::string got = openError(env->NewStringUTF(dir.path().c_str()));
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(got, "java.nio.file.FileSystemException: " + dir.path() + ": Too many open files");
    EXPECT_EQ(call("stat", "(Ljava/lang/String;)Ljava/lang/String;", env->NewStringUTF(dir.at("none").c_str())),
              "java.nio.file.NoSuchFileException: " + dir.at("none") + ": No such file or directory");
}

TEST_F(ListingEngine, CloseFromAnotherThreadEndsIterationAndFreesOnce) {
    TempDir dir;
    for (int i = 0; i < 2000; i++) dir.file("entry" + std::to_string(i));
    const int before = openDescriptors();
    EXPECT_EQ(call("raceClose", "(Ljava/lang/String;)Ljava/lang/String;", env->NewStringUTF(dir.path().c_str())), "");
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(ListingEngine, EntriesRemovedMidListingAreSkipped) {
    TempDir dir;
    for (int i = 0; i < 1000; i++) dir.file("entry" + std::to_string(i));
    EXPECT_EQ(call("vanishing", "(Ljava/lang/String;)Ljava/lang/String;", env->NewStringUTF(dir.path().c_str())), "");
}

TEST_F(ListingEngine, WalkIsPreOrderAsFilesWalkAndNeverFollowsLinks) {
    TempDir dir;
    for (const char *d : {"a", "a/b", "a/b/c", "a/e", "f", "g"}) ASSERT_EQ(mkdir(dir.at(d).c_str(), 0700), 0);
    for (const char *f : {"a/1", "a/b/2", "a/b/c/3", "a/b/c/4", "g/5", "top"}) dir.file(f);
    ASSERT_EQ(symlink("../a", dir.at("f/up").c_str()), 0);
    ASSERT_EQ(symlink(dir.path().c_str(), dir.at("loop").c_str()), 0);
    const int before = openDescriptors();
    EXPECT_EQ(call("walk", "(Ljava/lang/String;)Ljava/lang/String;", env->NewStringUTF(dir.path().c_str())), "");
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(call("walkPastVanishedDirectory", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;",
                   env->NewStringUTF(dir.path().c_str()), env->NewStringUTF("a/e")),
              "14");  // every entry, a/e itself included
    EXPECT_EQ(openDescriptors(), before);
}

} // namespace
} // namespace fsstat::test
