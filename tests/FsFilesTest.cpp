// Single files from Java by the library's names: every listed name opens and
// reads back what was written, stat and lstat agree with the system's, links
// read back byte for byte, failures are the exceptions NIO uses, and a Path is
// given only where it names the same file.
#include "Listing.h"

#include <thread>

namespace fsstat::test {
namespace {

class FsFiles : public JniTest {
public:
    void SetUp() override {
        JniTest::SetUp();
        checks = env->FindClass("com/durvo/ufe/fsutil/FileChecks");
        ASSERT_NE(checks, nullptr) << takePending(env).className;
    }
    template <typename... Args>
    std::string call(const char *name, const char *sig, Args... args) {
        return callStatic(env, checks, name, sig, args...);
    }
    jstring str(const std::string &s) { return env->NewStringUTF(s.c_str()); }

    ScopedMode mode{utf8ModeForThisRun()};
    jclass checks = nullptr;
};

// The values FileChecks gives: the 13 the listing delivers, then the three nanoseconds.
std::vector<int64_t> sixteen(const struct stat &st) {
    std::vector<int64_t> v = statValues(st);
    v.insert(v.end(), {st.st_atim.tv_nsec, st.st_mtim.tv_nsec, st.st_ctim.tv_nsec});
    return v;
}

// Descriptors of this process open on path.
int descriptorsOn(const std::string &path) {
    int count = 0;
    char target[4096];
    for (int fd = 0; fd < 4096; fd++) {
        const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
        count += n > 0 && std::string(target, static_cast<size_t>(n)) == path;
    }
    return count;
}

TEST_F(FsFiles, EveryListedNameReadsBackWhatWasWrittenByStringEntryAndBytes) {
    TempDir dir;
    std::map<std::string, std::string> made;  // name -> content (of a link: of its target)
    std::map<std::string, std::string> links;  // name -> target
    auto add = [&](const std::string &name, const std::string &content) {
        dir.file(name, content);
        made[name] = content;
    };
    std::string all, longTarget;
    for (int b = 1; b < 256; b++) {
        if (b == '/') continue;
        add(b == '.' ? ".x" : std::string(1, static_cast<char>(b)), "byte " + std::to_string(b));
        if (b != '.') all += static_cast<char>(b);
    }
    add(all, "every byte");
    for (const char *name : {"\xC2\xB6", "a\xC2\xB6", "\xC2\xB6\xC2\xB6x", "\xB6\xB6z", "a\xED\xA0\x80",
                             "\xED\xBF\xBFz\xE9", "\xF0\x9F\x98\x80", "caf\xC3\xA9"}) {
        add(name, std::string("named ") + name);
    }
    while (longTarget.size() < 3000) longTarget += "./";  // past readLinkTarget's first buffer
    add(std::string(255, 'n'), "255 ASCII");
    add(std::string(255, '\xE9'), "255 Latin-1");
    add("caf\xE9", "latin-1 content");
    add("caf\xC2\xB6\xC3\xA9", "utf-8 pilcrow content");
    links = {{"link-latin1", "caf\xE9"}, {"link-pilcrow", "caf\xC2\xB6\xC3\xA9"},
             {"link-long", longTarget + "caf\xE9"}};
    for (const auto &[link, target] : links) {
        ASSERT_EQ(symlink(target.c_str(), dir.at(link).c_str()), 0);
        made[link] = made[target.substr(target.rfind('/') + 1)];
    }

    jmethodID readEach = env->GetStaticMethodID(checks, "readEach", "(Ljava/lang/String;)[Ljava/lang/Object;");
    ASSERT_NE(readEach, nullptr) << takePending(env).className;
    auto rows = static_cast<jobjectArray>(env->CallStaticObjectMethod(checks, readEach, str(dir.path())));
    ASSERT_EQ(takePending(env).message, "");
    // A string has two readings and the first wins when it names a file: in
    // US-ASCII every byte above 7F reads first as '?'. Under UTF-8 the JVM
    // replaces encoded surrogates. The entry and the bytes are always exact.
    // (Under UTF-8 the Latin-1 caf\xE9 is delivered as the natural spelling
    // of caf\xC2\xB6\xC3\xA9: its own content by string is the case of the issue.)
    auto knownMiss = [&](const std::string &name, const std::string &got) {
        std::string asAscii = name;
        bool surrogate = false;
        for (size_t i = 0; i < name.size(); i++) {
            if (static_cast<unsigned char>(name[i]) > 0x7F) asAscii[i] = '?';
            surrogate |= name[i] == '\xED' && i + 1 < name.size() && (name[i + 1] & 0xE0) == 0xA0;
        }
        return (utf8ModeForThisRun() && surrogate) ||
               (runEncoding() == "US-ASCII" && made.count(asAscii) != 0 && got == made[asAscii]);
    };
    std::set<std::string> seen;
    int misses = 0;
    for (jsize i = 0; i < env->GetArrayLength(rows); i++) {
        env->PushLocalFrame(16);
        auto row = static_cast<jobjectArray>(env->GetObjectArrayElement(rows, i));
        auto col = [&](jsize c) { return env->GetObjectArrayElement(row, c); };
        const std::string name = bytesOf(env, col(0));
        seen.insert(name);
        const std::string byString = bytesOf(env, col(1));
        const bool miss = byString != made[name] && knownMiss(name, byString);
        misses += miss;
        EXPECT_TRUE(byString == made[name] || miss) << hex(name) << " by its string gave " << byString;
        EXPECT_EQ(bytesOf(env, col(2)), made[name]) << "by the entry: " << hex(name);
        EXPECT_EQ(bytesOf(env, col(3)), made[name]) << "by the bytes: " << hex(name);
        struct stat st[2];
        ASSERT_EQ(lstat(dir.at(name).c_str(), &st[0]) | stat(dir.at(name).c_str(), &st[1]), 0);
        for (int follow = miss ? 1 : 0; follow < 2; follow++) {  // lstat by the string, stat by the bytes
            std::vector<int64_t> v(16);
            auto values = static_cast<jlongArray>(col(4 + follow));
            env->GetLongArrayRegion(values, 0, 16, reinterpret_cast<jlong *>(v.data()));
            EXPECT_EQ(v, sixteen(st[follow])) << (follow ? "stat of " : "lstat of ") << hex(name);
        }
        if (links.count(name) != 0) {
            EXPECT_EQ(hex(bytesOf(env, col(6))), hex(links[name]));
            EXPECT_EQ(hex(bytesOf(env, col(7))), hex(dir.at(links[name]))) << "the target's string";
        }
        env->PopLocalFrame(nullptr);
    }
    EXPECT_EQ(seen.size(), made.size());
    std::printf("%d of %zu names opened another file or none by their string (known misses)\n", misses,
                made.size());
}

TEST_F(FsFiles, FailuresAreTheExceptionsNioUsesOrTheLibrarysStatMessages) {
    TempDir dir;
    dir.file("f", "x");
    dir.file("secret", "x");
    chmod(dir.at("secret").c_str(), 0);
    ASSERT_EQ(symlink("loop", dir.at("loop").c_str()), 0);
    const std::string d = dir.path();
    const std::string getStat = "java.io.IOException: [JniUtil.getStat]  stat() failed on  '" + d;
    const std::string getLstat = "java.io.IOException: [JniUtil.getLstat]  stat() failed on  '" + d;
    const std::string noEntry = "/none'. A component of the path does not exist, or the path is an empty string.";
    const std::string shownE9 = runEncoding() == "ISO-8859-1" ? "\xC3\xA9" : "\\xE9";
    struct Row {
        const char *op;
        jobject path;
        std::string expected;  // the start of "Class: message"
    } rows[] = {
        {"open", javaBytes(env, d + "/none\xE9"),
         "java.nio.file.NoSuchFileException: " + d + "/none" + shownE9 + ": No such file"},
        {"open", str(d), "java.nio.file.FileSystemException: " + d + ": Is a directory"},
        {"open", str(d + "/f/x"), "java.nio.file.NotDirectoryException: " + d + "/f/x"},
        {"open", str(d + "/secret"), "java.nio.file.AccessDeniedException: " + d + "/secret"},
        {"stat", str(d + "/none"), getStat + noEntry},
        {"lstat", javaBytes(env, d + "/none"), getLstat + noEntry},
        {"stat", str(d + "/loop"), getStat + "/loop'. Too many symbolic links"},
        {"lstat", str(d + "/loop"), ""},
        {"readLink", str(d + "/f"), "java.nio.file.NotLinkException: " + d + "/f"},
        {"readLink", javaBytes(env, d + "/none"), "java.nio.file.NoSuchFileException: " + d + "/none"},
        {"open", newJavaString(env, d + std::string(1, '\0')), "java.nio.file.InvalidPathException: Nul"},
        {"stat", javaBytes(env, d + std::string(1, '\0')), "java.nio.file.InvalidPathException: Nul"},
        {"readLink", env->NewString(reinterpret_cast<const jchar *>(u"/tmp/\xDC00"), 6),
         "java.nio.file.InvalidPathException: Unpaired"},
        {"lstat", nullptr, "java.lang.NullPointerException"},
    };
    Unprivileged unprivileged;
    for (const Row &r : rows) {
        const std::string got = call("error", "(Ljava/lang/String;Ljava/lang/Object;)Ljava/lang/String;", str(r.op),
                                     r.path);
        EXPECT_EQ(got.substr(0, r.expected.size()), r.expected) << r.op << " gave " << got;
        EXPECT_TRUE(!r.expected.empty() || got.empty()) << r.op << " gave " << got;
    }
}

TEST_F(FsFiles, StreamsSkipReadAndEndAsInputStreamSaysAndNeverSeekAPipe) {
    TempDir dir;
    std::string content;
    for (int i = 0; i < 100; i++) content += static_cast<char>('A' + i % 26);
    dir.file("regular", content);
    ASSERT_EQ(mkfifo(dir.at("fifo").c_str(), 0600), 0);
    std::thread writer([&] {
        const int fd = open(dir.at("fifo").c_str(), O_WRONLY);
        EXPECT_EQ(write(fd, content.data(), content.size()), 100);
        close(fd);
    });
    StdoutCapture out;
    const char *sig = "(Ljava/lang/String;)Ljava/lang/String;";
    EXPECT_EQ(call("streamSteps", sig, str(dir.at("fifo"))), "65 9 75 0 89 -1 0 Stream closed");
    writer.join();
    EXPECT_EQ(call("streamSteps", sig, str(dir.at("regular"))), "65 9 75 89 89 -1 0 Stream closed");
    EXPECT_EQ(out.finish(), "") << "skipFile was asked to seek a pipe";
}

TEST_F(FsFiles, CloseRacingReadNeverReachesAReusedDescriptorAndDroppedStreamsClose) {
    TempDir dir;
    dir.file("a", std::string(1 << 20, 'a'));
    dir.file("b", std::string(1 << 16, 'b'));
    const char *sig = "(Ljava/lang/String;Ljava/lang/String;I)Ljava/lang/String;";
    EXPECT_EQ(call("raceClose", sig, str(dir.at("a")), str(dir.at("b")), 200), "");
    EXPECT_EQ(descriptorsOn(dir.at("a")) + descriptorsOn(dir.at("b")), 0);

    jmethodID drop = env->GetStaticMethodID(checks, "dropUnclosed", "(Ljava/lang/String;I)V");
    ASSERT_NE(drop, nullptr) << takePending(env).className;
    env->CallStaticVoidMethod(checks, drop, str(dir.at("a")), 20);
    ASSERT_EQ(takePending(env).message, "");
    EXPECT_EQ(descriptorsOn(dir.at("a")), 20);
    jclass system = env->FindClass("java/lang/System");
    for (int i = 0; i < 100 && descriptorsOn(dir.at("a")) > 0; i++) {
        env->CallStaticVoidMethod(system, env->GetStaticMethodID(system, "gc", "()V"));
        usleep(50000);
    }
    EXPECT_EQ(descriptorsOn(dir.at("a")), 0);
}

TEST_F(FsFiles, PathOnlyWhereTheJvmsFileNameCharsetCarriesTheExactBytes) {
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
