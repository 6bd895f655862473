// File-system statistics against statvfs, each failure message, and the path conversion.
#include "JvmTest.h"

#include <langinfo.h>
#include <sys/statvfs.h>

namespace fsstat::test {
namespace {

const char *const kFields[] = {"bsize", "files", "blocks", "bfree", "bavail", "frsize",
                               "ffree", "favail", "fsid", "flag", "namemax"};

// codepage set to name (null: left as the locale filled it) for one scope.
class CodepageOverride {
public:
    CodepageOverride(JNIEnv *env, const char *name) {
        std::free(convert(env, env->NewStringUTF("/")));  // the first conversion fills codepage
        std::strcpy(saved_, codepage);
        if (name != nullptr) std::strcpy(codepage, name);
    }
    ~CodepageOverride() { std::strcpy(codepage, saved_); }

private:
    char saved_[sizeof codepage];
};

using FileSysStat = JniTest;

// getFileSysStat on js, which must fail printing only printed: the exception it raised.
std::string failedStat(JNIEnv *env, jstring js, const std::string &printed = "") {
    EXPECT_EQ(printedBy([&] { EXPECT_EQ(getFileSysStat(env, nullptr, js), nullptr); }), printed);
    return thrown(env);
}

// Constructor order whatever struct statvfs's order, wide fields with all their bits, and the Java side's choice.
TEST_F(FileSysStat, FiguresMatchStatvfsThroughEveryDeclaringClass) {
    using Native = jobject (*)(JNIEnv *, jobject, jstring);
    for (const char *path : {"/", "/tmp", "/dev/shm", "/proc"}) {
        struct statvfs st;
        if (statvfs(path, &st) != 0) continue;  // a minimal container may lack /dev/shm
        for (Native native : {Java_com_durvo_ufe_fsutil_FileSystemStatFbd_getFileSysStat,
                              Java_com_durvo_ufe_fsutil_FileSystemStatMac_getFileSysStat,
                              Java_com_durvo_ufe_fsutil_FileSystemStatSos_getFileSysStat,
                              Java_com_durvo_ufe_fsutil_FileSystemStatLin_getFileSysStat}) {
            env->PushLocalFrame(16);
            jobject stat = native(env, nullptr, env->NewStringUTF(path));
            EXPECT_NE(stat, nullptr) << path << ": " << thrown(env);
            std::vector<uint64_t> got, want = {st.f_bsize, st.f_files,  st.f_blocks, st.f_bfree, st.f_bavail, st.f_frsize,
                                               st.f_ffree, st.f_favail, st.f_fsid,   st.f_flag,  st.f_namemax};
            for (const char *field : kFields) {
                got.push_back(stat ? env->GetLongField(stat, env->GetFieldID(env->GetObjectClass(stat), field, "J")) : 0);
            }
            // Free counts move while other processes write; within 1% of the total they still tell every field
            // from its neighbours.
            for (size_t i : {3u, 4u, 6u, 7u}) {
                const uint64_t slack = (i < 6 ? st.f_blocks : st.f_files) / 100;
                if (got[i] + slack >= want[i] && got[i] <= want[i] + slack) want[i] = got[i];
            }
            EXPECT_EQ(got, want) << path;
            env->PopLocalFrame(nullptr);
        }
    }
    EXPECT_STREQ(codepage, nl_langinfo(CODESET));
}

// Each failing step names itself, the caller's path and the reason; long messages are cut.
TEST_F(FileSysStat, FailuresRaiseIOExceptionNamingTheStep) {
    const std::string prefix = "[UNIXFileSysUtil.getFileSysStat] ", longPath = "/" + std::string(3000, 'x');
    const std::string odd = "/tmp/caf\xC3\xA9/\xED\xA0\xBD\xED\xB8\x80";  // U+1F600 in modified UTF-8
    const struct {
        const char *codeset;  // null: the locale's
        std::string path;     // "<null>" passes a null string
        std::string message;
    } cases[] = {
        {nullptr, "/no/such", prefix + "statvfs failed for '/no/such'. Error='" + strerror(ENOENT) + "'"},
        {nullptr, longPath, (prefix + "statvfs failed for '" + longPath).substr(0, 1023)},
        {nullptr, "<null>", prefix + "convert failed for '(null)'"},
        {"NO-SUCH-CHARSET", odd, prefix + "convert failed for '/tmp/caf\xC3\xA9/\xF0\x9F\x98\x80'"},
    };
    for (const auto &c : cases) {
        CodepageOverride cp(env, c.codeset);
        jstring js = c.path == "<null>" ? nullptr : env->NewStringUTF(c.path.c_str());
        EXPECT_EQ(failedStat(env, js), "java.io.IOException: " + c.message);
    }
}

// Modified UTF-8 only for the exact codeset name "UTF-8", Java's encoder for any other.
TEST_F(FileSysStat, ConvertFollowsTheCodesetName) {
    const struct { const char *codeset, *path, *native; } cases[] = {  // path in modified UTF-8
        {"UTF-8", "a\xC0\x80" "b", "61 C0 80 62"},
        {"UTF-8", "\xED\xA0\xBD\xED\xB8\x80", "ED A0 BD ED B8 80"},  // U+1F600 stays two surrogates
        {"UTF-8", "\xC2\xB6", "C2 B6"},                              // the escape mark is a plain character here
        {"utf-8", "a\xC0\x80" "b", "61"},                             // real UTF-8: the zero ends the path
        {"utf-8", "\xED\xA0\xBD\xED\xB8\x80", "F0 9F 98 80"},
        {"ISO-8859-1", "\xC3\xA9\xE2\x82\xAC", "E9 3F"},  // e-acute, euro sign
    };
    for (const auto &c : cases) {
        CodepageOverride cp(env, c.codeset);
        char *native = convert(env, env->NewStringUTF(c.path));
        EXPECT_EQ(native != nullptr ? hex(native) : "<null>", c.native) << c.codeset;
        std::free(native);
    }
}

// In a process whose class path lacks FileSysStatUnix.
using IsolatedMissingStatClass = JniTest;
TEST_F(IsolatedMissingStatClass, PrintsAndRaisesFindClassMessage) {
    const std::string message =
        "[UNIXFileSysUtil.getFileSysStat] FindClass returns NULL for 'com/durvo/ufe/fsutil/FileSysStatUnix'";
    EXPECT_EQ(failedStat(env, env->NewStringUTF("/"), message), "java.io.IOException: " + message);  // no line end
}

// In a process whose FileSysStatUnix lacks the eleven-long constructor.
using IsolatedStatClassWithoutCtor = JniTest;
TEST_F(IsolatedStatClassWithoutCtor, RaisesGetMethodIdMessageSilently) {
    EXPECT_EQ(failedStat(env, env->NewStringUTF("/tmp")),
              "java.io.IOException: [UNIXFileSysUtil.getFileSysStat] GetMethodID returns NULL for "
              "'/tmp com/durvo/ufe/fsutil/FileSysStatUnix <init> (JJJJJJJJJJJ)V'");
}

} // namespace
} // namespace fsstat::test
