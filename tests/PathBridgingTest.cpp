// Path bridging: the Java string a name on disk becomes, and the file a Java path leads to.
#include "JvmTest.h"

namespace fsstat::test {
namespace {

class PathBridging : public JniTest {
protected:
    std::string toJava(const std::string &name) {
        std::string copy = name;
        jstring js = getJavaFilePath(env, copy.data());
        EXPECT_EQ(copy, name) << "input changed";
        std::string out = utf8(env, js);
        env->DeleteLocalRef(js);
        return out;
    }
    std::string toNative(const std::string &javaUtf8) {
        jstring js = env->NewStringUTF(javaUtf8.c_str());
        char *native = getNativeFilePath(env, js);
        std::string bytes = native != nullptr ? native : "<null>";
        std::free(native);
        env->DeleteLocalRef(js);
        return bytes;
    }
    const std::string encoding = runEncoding();
};

// Rows that this platform can produce, each under the default charset it needs.
TEST_F(PathBridging, WorkedExamplesRoundTripThroughExistingFiles) {
    const struct { const char *encoding; bool utf8Mode; std::string onDisk, java; } rows[] = {
        {"UTF-8", true, "a\xC2\xB6" "b", "a\xC2\xB6\xC3\x82\xC2\xB6\xC2\xB6" "b"},
        {"UTF-8", true, "a\xC2\xB6", "a\xC2\xB6"},
        {"UTF-8", true, "caf\xE9", "caf\xC2\xB6\xC3\xA9"},
        {"UTF-8", true, "\xE2\x80\x93\xFF", "\xC2\xB6\xC3\xA2\xC2\xB6\xC2\x80\xC2\xB6\xC2\x93\xC2\xB6\xC3\xBF"},
        // Nothing to escape, yet Java's decoder does not keep it: carried as ISO-8859-1.
        {"UTF-8", true, "a\xED\xA0\x80", "a\xC3\xAD\xC2\xA0\xC2\x80"},
        {"ISO-8859-1", false, "a\xB6" "b", "a\xC2\xB6\xC2\xB6" "b"},
        {"US-ASCII", false, "caf\xE9", "caf\xC3\xA9"},
        {"US-ASCII", false, "a\xB6", "a\xC2\xB6\xC2\xB6"},  // doubled, then carried as ISO-8859-1
    };
    for (const auto &row : rows) {
        if (encoding != row.encoding) continue;
        ScopedMode mode(row.utf8Mode);
        TempDir dir;
        dir.file(row.onDisk);
        EXPECT_EQ(hex(toJava(row.onDisk)), hex(row.java)) << hex(row.onDisk);
        EXPECT_EQ(hex(toNative(dir.path() + "/" + row.java)), hex(dir.at(row.onDisk))) << hex(row.onDisk);
    }
}

// The default-charset bytes win whenever they name something, even a dangling link.
TEST_F(PathBridging, FirstCandidateWinsWhenItExists) {
    if (encoding == "ISO-8859-1") GTEST_SKIP() << "the two candidates coincide under " << encoding;
    ScopedMode mode(encoding != "US-ASCII");
    const std::string first = encoding != "US-ASCII" ? "caf\xC3\xA9" : "caf?", second = "caf\xE9";
    TempDir dir;
    const std::string java = dir.path() + "/caf\xC3\xA9";  // c, a, f, U+00E9
    EXPECT_EQ(hex(toNative(java)), hex(dir.at(first))) << "neither exists: the first candidate";
    dir.file(second);
    EXPECT_EQ(hex(toNative(java)), hex(dir.at(second)));
    ASSERT_EQ(symlink("nowhere", dir.at(first).c_str()), 0);
    EXPECT_EQ(hex(toNative(java)), hex(dir.at(first))) << "a dangling link counts as existing";
}

} // namespace
} // namespace fsstat::test
