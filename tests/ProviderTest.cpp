// The fsstat: file system's paths and operations through java.nio.file: path
// operations and Files steps agree with the default file system's on bytes that
// are no text; strings read back to their bytes or are refused; every operation
// on hostile names does to the disk what the system's own calls (the oracle
// here) then report.
#include "JvmTest.h"

#include <sys/stat.h>

namespace fsstat::test {
namespace {

class Provider : public ChecksTest {
public:
    Provider() : ChecksTest("nio/PathChecks") {}
    // What readBack answers for path (a String or byte[]): a byte[] as its bytes, a String as itself.
    std::string readBack(jobject path) {
        jmethodID m = env->GetStaticMethodID(checks, "readBack", "(Ljava/lang/Object;)Ljava/lang/Object;");
        jobject r = env->CallStaticObjectMethod(checks, m, path);
        const std::string failed = thrown(env);
        if (!failed.empty()) return failed;
        jclass bytes = env->FindClass("[B");
        return env->IsInstanceOf(r, bytes) ? bytesOf(env, r) : utf8(env, static_cast<jstring>(r));
    }
    std::string op(const std::string &name, const std::string &a, const std::string &b = "") {
        env->PushLocalFrame(8);
        const std::string got = call("op", "(Ljava/lang/String;[B[B)Ljava/lang/String;", env->NewStringUTF(name.c_str()),
                                     javaBytes(env, a), b.empty() ? nullptr : javaBytes(env, b));
        env->PopLocalFrame(nullptr);
        return got;
    }
};

std::string linkOf(const std::string &path) {
    char buf[4096];
    const ssize_t n = readlink(path.c_str(), buf, sizeof buf);
    return n >= 0 ? std::string(buf, static_cast<size_t>(n)) : "<no link>";
}

TEST_F(Provider, PathOperationsAndBadInputOnBytesAgreeWithTheDefaultFileSystems) {
    expectNoFailedCases(call("pathOperations", "()Ljava/lang/String;"));
    expectNoFailedCases(call("badInput", "()Ljava/lang/String;"));
}

TEST_F(Provider, StringsReadBackToTheirBytesAndAStringNamingTwoFilesIsRefused) {
    const std::string run = runEncoding().empty() ? "UTF-8" : runEncoding();
    const std::string surrogate = "a\xED\xA0\x80", lookalike = "a\xC3\xAD\xC2\xA0\xC2\x80";  // its UTF-8 misreading
    // With a byte the escape carries, an encoded surrogate is delivered as U+FFFD, whose own bytes look alike.
    const std::string escaped = "\xED\xA0\x80\xFF", replaced = "\xEF\xBF\xBD\xFF";
    const std::string refused = "java.nio.file.InvalidPathException: the string names two existing files";
    auto spelled = [](const std::string &bytes) {  // as the refusal spells a name: \xNN beyond printable ASCII
        std::string out;
        char esc[8];
        for (const unsigned char c : bytes) {
            if (c >= 0x20 && c < 0x7F && c != '\\') {
                out += static_cast<char>(c);
            } else {
                std::snprintf(esc, sizeof esc, "\\x%02X", c);
                out += esc;
            }
        }
        return out;
    };
    struct Row {
        std::vector<std::string> files;  // made first
        std::string name;                // read back through the library's string for dir/name ...
        const char *literal;             // ... or through this string, as real UTF-8
        std::map<std::string, std::string> expected;  // per charset (absent: the name's own bytes)
    } rows[] = {
        // The reproducer: under C the JDK opens caf? for the library's string of caf\xE9.
        {{"caf\xE9", "caf?"}, "caf\xE9", nullptr, {}},
        {{"caf\xE9", "caf\xC2\xB6\xC3\xA9"}, "caf\xE9", nullptr, {}},
        {{"caf\xE9", "caf\xC2\xB6\xC3\xA9"}, "caf\xC2\xB6\xC3\xA9", nullptr, {}},
        {{surrogate, lookalike}, surrogate, nullptr, {{"UTF-8", refused}}},
        {{surrogate, lookalike}, lookalike, nullptr, {{"UTF-8", refused}}},
        {{surrogate}, surrogate, nullptr, {}},  // the only reading that exists is taken
        {{escaped, replaced}, escaped, nullptr, {{"UTF-8", refused}}},
        {{escaped, replaced}, replaced, nullptr, {{"UTF-8", refused}}},
        {{"caf\xE9"}, "", "caf\xC3\xA9", {{"UTF-8", "caf\xE9"}, {"ISO-8859-1", "caf\xE9"}, {"US-ASCII", "caf\xE9"}}},
        // Under UTF-8 the mark's own name reads as B6 in ISO-8859-1, but the library delivers B6 otherwise.
        {{"\xC2\xB6", "\xB6"}, "\xC2\xB6", nullptr, {}},
        {{"\xC2\xB6", "\xB6"}, "\xB6", nullptr, {}},
        // Neither reading exists: the natural one in the charset, never a lossy one.
        {{}, "", "new-caf\xC3\xA9", {{"UTF-8", "new-caf\xC3\xA9"}, {"ISO-8859-1", "new-caf\xE9"}, {"US-ASCII", "new-caf\xE9"}}},
        {{}, "", "euro-\xE2\x82\xAC",
         {{"UTF-8", "euro-\xE2\x82\xAC"},
          {"ISO-8859-1", "java.nio.file.InvalidPathException: Malformed input"},
          {"US-ASCII", "java.nio.file.InvalidPathException: Malformed input"}}},
    };
    for (const Row &r : rows) {
        TempDir dir;
        for (const std::string &f : r.files) dir.file(f, f);
        env->PushLocalFrame(16);
        std::string got, expected;
        if (r.literal != nullptr) {
            got = readBack(newJavaString(env, dir.path() + "/" + r.literal));
            expected = r.expected.at(run);
            if (expected.rfind("java.", 0) != 0) expected = dir.path() + "/" + expected;
        } else {
            got = readBack(javaBytes(env, dir.at(r.name)));
            expected = r.expected.count(run) != 0 ? r.expected.at(run) : dir.at(r.name);
        }
        if (expected.rfind("java.", 0) == 0) {
            EXPECT_EQ(got.substr(0, expected.size()), expected) << hex(r.name) << r.literal;
            if (expected == refused) {  // both spellings shown, and what to use instead
                for (const std::string &f : r.files) EXPECT_NE(got.find(spelled(f)), std::string::npos) << got;
                EXPECT_NE(got.find("as bytes"), std::string::npos) << got;
            }
        } else {
            EXPECT_EQ(hex(got), hex(expected)) << "read back " << hex(r.name) << " " << got;
        }
        env->PopLocalFrame(nullptr);
    }
}

TEST_F(Provider, OperationsChangeTheDiskAsTheSystemCallsThenSeeIt) {
    TempDir dir, other;
    const std::string e9 = runEncoding() == "ISO-8859-1" ? "\xC3\xA9" : "\\xE9";  // \xE9 as display shows it
    const std::string d = dir.path(), f = dir.at("f\xE9"), shownF = d + "/f" + e9;
    dir.file("f\xE9", "content");
    EXPECT_EQ(op("createDirectory", dir.at("d\xE9")), "path " + d + "/d" + e9);
    struct stat st;
    ASSERT_EQ(lstat(dir.at("d\xE9").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0710u & ~static_cast<unsigned>(umask(umask(0))));
    EXPECT_EQ(op("createSymbolicLink", dir.at("l\xE9"), "f\xE9"), "path " + d + "/l" + e9);
    EXPECT_EQ(hex(linkOf(dir.at("l\xE9"))), hex("f\xE9"));
    EXPECT_EQ(op("readSymbolicLink", dir.at("l\xE9")), "path f" + e9);
    EXPECT_EQ(op("createLink", dir.at("h\xE9"), f), "path " + d + "/h" + e9);
    ASSERT_EQ(lstat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 2u);
    dir.file("g.f");
    dir.file("\xE9.f");
    EXPECT_EQ(op("list", d), runEncoding() == "ISO-8859-1" ? "g.f \xC3\xA9.f" : "\\xE9.f g.f") << "a glob on the strings";
    // attributes, changed and read back by the system
    EXPECT_EQ(op("setTimesNoFollow", dir.at("l\xE9")), "");
    ASSERT_EQ(lstat(dir.at("l\xE9").c_str(), &st), 0);
    EXPECT_EQ(std::vector<long>({st.st_atim.tv_sec, st.st_atim.tv_nsec, st.st_mtim.tv_sec, st.st_mtim.tv_nsec}),
              std::vector<long>({1, 7, 2, 9}));
    EXPECT_EQ(op("setMode", f), "path " + shownF);
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 04751u);
    EXPECT_EQ(op("setPermissions", f), "path " + shownF);
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0521u) << "as chmod: the set-user-id bit goes";
    EXPECT_EQ(op("setMode", f), "path " + shownF);
    EXPECT_EQ(op("setPermissionsNoFollow", dir.at("l\xE9")),
              "java.nio.file.FileSystemException: " + d + "/l" + e9 +
                  ": Too many levels of symbolic links or unable to access attributes of symbolic link");
    if (geteuid() == 0) {  // owners by number, of a link itself
        EXPECT_EQ(op("setOwnerByNumber", f, "70001"), "path " + shownF);
        EXPECT_EQ(op("setGroupNoFollow", dir.at("l\xE9"), "70002"), "");
        ASSERT_EQ(lstat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 70001u);
        ASSERT_EQ(lstat(dir.at("l\xE9").c_str(), &st), 0);
        EXPECT_EQ(st.st_gid, 70002u);
        EXPECT_EQ(op("owner", f), "70001:root");
        EXPECT_EQ(op("lookupUser", f, "root"), "root");
        EXPECT_EQ(op("lookupUser", f, "no-such-user-here"),
                  "java.nio.file.attribute.UserPrincipalNotFoundException: null");
    }
    // copy with every attribute, then move within the file system and across to another
    const struct timespec times[2] = {{1000, 111}, {2000, 222}};
    ASSERT_EQ(utimensat(AT_FDCWD, f.c_str(), times, 0), 0);
    EXPECT_EQ(op("copyAll", f, dir.at("c\xE9")), "path " + d + "/c" + e9);
    struct stat src, dst;
    ASSERT_EQ(stat(f.c_str(), &src) | stat(dir.at("c\xE9").c_str(), &dst), 0);
    EXPECT_EQ(contentOf(dir.at("c\xE9")), "content");
    EXPECT_EQ(std::vector<long>({dst.st_mode, dst.st_uid, dst.st_atim.tv_nsec, dst.st_mtim.tv_sec, dst.st_mtim.tv_nsec}),
              std::vector<long>({src.st_mode, src.st_uid, 111, 2000, 222}));
    EXPECT_EQ(op("copyAll", dir.at("l\xE9"), dir.at("cl")), "path " + d + "/cl");
    EXPECT_EQ(hex(linkOf(dir.at("cl"))), hex("f\xE9")) << "a link copied as a link";
    ASSERT_EQ(mkfifo(dir.at("p\xE9").c_str(), 0640), 0);
    EXPECT_EQ(op("copyAll", dir.at("p\xE9"), dir.at("cp")), "path " + d + "/cp");
    ASSERT_EQ(lstat(dir.at("cp").c_str(), &dst), 0);
    EXPECT_EQ(dst.st_mode, static_cast<mode_t>(S_IFIFO | 0640)) << "a FIFO copied as a FIFO";
    struct stat shm;
    if (stat("/dev/shm", &shm) == 0 && lstat(d.c_str(), &st) == 0 && shm.st_dev != st.st_dev) {
        char name[] = "/dev/shm/fsstat-test-XXXXXX";
        const std::string across = std::string(mkdtemp(name)) + "/x\xE9";
        const std::string atomic = "java.nio.file.AtomicMoveNotSupportedException: " + d + "/h" + e9 + " -> /dev/shm/";
        EXPECT_EQ(op("moveAtomic", dir.at("h\xE9"), across).substr(0, atomic.size()), atomic);
        EXPECT_EQ(op("move", dir.at("h\xE9"), across).substr(0, 6), "path /");
        EXPECT_EQ(contentOf(across) + contentOf(dir.at("h\xE9")), "content<none>");
        ASSERT_EQ(lstat(across.c_str(), &dst), 0);
        EXPECT_EQ(std::vector<long>({dst.st_mtim.tv_sec, dst.st_mtim.tv_nsec}), std::vector<long>({2000, 222}));
        unlink(across.c_str());
        rmdir(name);
    }
    EXPECT_EQ(op("delete", dir.at("d\xE9")), "");
    EXPECT_EQ(op("delete", dir.at("l\xE9")), "");
    EXPECT_EQ(contentOf(f), "content") << "deleting a link leaves its target";
    EXPECT_EQ(lstat(dir.at("d\xE9").c_str(), &st) == 0 || lstat(dir.at("l\xE9").c_str(), &st) == 0, false);
}

// The failures FilesChecks.failuresAsDefault compares with the JDK's on ASCII names, here on names shown
// escaped, cut nowhere, refused to a user without privileges, or without a working directory.
TEST_F(Provider, FailuresAreTheDefaultProvidersExceptionsNamingThePathUncut) {
    TempDir dir;
    dir.file("f");
    dir.file("secret");
    chmod(dir.at("secret").c_str(), 0);
    std::string longName = dir.path();
    while (longName.size() < 5000) longName += "/" + std::string(200, '\xE9');  // longer than any message buffer
    ASSERT_EQ(mkdir(dir.at("locked").c_str(), 0) | symlink("loop", dir.at("loop").c_str()), 0);
    const std::string d = dir.path(), e9 = runEncoding() == "ISO-8859-1" ? "\xC3\xA9" : "\\xE9";
    std::string shownLong;
    for (size_t i = d.size(); i < longName.size(); i++) shownLong += longName[i] == '/' ? "/" : e9;
    struct Row {
        const char *op;
        std::string a, b, expected;
    } rows[] = {
        {"delete", d + "/none\xE9", "", "java.nio.file.NoSuchFileException: " + d + "/none" + e9},
        {"delete", d + "/tab\tdel\x7F", "", "java.nio.file.NoSuchFileException: " + d + "/tab\\x09del\\x7F"},
        {"createFile", d + "/locked/x", "", "java.nio.file.AccessDeniedException: " + d + "/locked/x"},
        {"checkWrite", d + "/secret", "", "java.nio.file.AccessDeniedException: " + d + "/secret"},
        {"checkRead", d + "/secret", "", "false"},
        {"realPath", d + "/loop", "", "java.nio.file.FileSystemException: " + d + "/loop: Too many levels of symbolic links"},
        {"realPathNoFollow", d + "/loop/..", "", "java.nio.file.FileSystemException: " + d + "/loop/..: Too many levels"},
        {"createFile", longName, "", "java.nio.file.FileSystemException: " + d + shownLong + ": File name too long"},
    };
    Unprivileged unprivileged;
    for (const Row &r : rows) {
        const std::string got = op(r.op, r.a, r.b);
        EXPECT_EQ(got.substr(0, r.expected.size()), r.expected) << r.op << " " << hex(r.a);
    }
    // No working directory: the error toAbsolutePath's contract names, the IOException toRealPath declares.
    const int home = open(".", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(home, 0);
    ASSERT_EQ(mkdir(dir.at("gone").c_str(), 0700) | chdir(dir.at("gone").c_str()) | rmdir(dir.at("gone").c_str()), 0);
    const std::string absolute = op("absolute", "f"), real = op("realPath", "f");
    ASSERT_EQ(fchdir(home), 0);
    close(home);
    EXPECT_EQ(absolute, "IOError: java.nio.file.NoSuchFileException: .");
    EXPECT_EQ(real, "java.nio.file.NoSuchFileException: .");
}

struct Files : ChecksTest {
    Files() : ChecksTest("nio/FilesChecks") {}
};

TEST_F(Files, StepsAndTheirFailuresAreTheDefaultFileSystems) {
    TempDir theirs, ours;
    expectNoFailedCases(call("sameAsDefault", "(Ljava/lang/String;[B)Ljava/lang/String;", str(theirs.path()),
                             javaBytes(env, ours.path())));
    TempDir failTheirs, failOurs;
    for (const TempDir *d : {&failTheirs, &failOurs}) {
        d->file("f", "x");
        ASSERT_EQ(mkdir(d->at("d").c_str(), 0755) | symlink("loop", d->at("loop").c_str()) |
                      symlink("f", d->at("l").c_str()),
                  0);
        d->file("d/e");
    }
    expectNoFailedCases(call("failuresAsDefault", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;",
                             str(failTheirs.path()), str(failOurs.path())));
}

// The provider as the JVM's default, in a process of its own (see CMakeLists.txt).
using IsolatedDefaultProvider = Provider;
TEST_F(IsolatedDefaultProvider, PathsKeepTheirBytesWhileStringsAndUrisAreTheJdksOwn) {
    TempDir dir;
    std::vector<std::string> names = {"caf\xE9", "caf\xC3\xA9", "a\xED\xA0\x80", "\xF0\x9F\x98\x80", "\xC2\xB6", "a;b c%"};
    for (int b = 1; b < 256; b++) {
        if (b != '/' && b != '.') names.push_back(std::string(1, static_cast<char>(b)));
    }
    for (const std::string &name : names) dir.file(name, name);
    ASSERT_EQ(mkdir(dir.at("d\xE9").c_str(), 0700), 0);
    EXPECT_EQ(call("asDefault", "([B)Ljava/lang/String;", javaBytes(env, dir.path())),
              std::to_string(names.size() + 1) + "\n");
}

} // namespace
} // namespace fsstat::test
