// File-system statistics against statvfs, each failure message, and the path conversion.
#include "JvmTest.h"

#include <langinfo.h>
#include <sys/statvfs.h>

#include <cstdint>

namespace fsstat::test {
namespace {

using GetFileSysStatFn = jobject (*)(JNIEnv *, jobject, jstring);

const char *const kFields[] = {"bsize", "files", "blocks", "bfree", "bavail", "frsize",
                               "ffree", "favail", "fsid", "flag", "namemax"};

std::vector<uint64_t> javaFigures(JNIEnv *env, jobject stat) {
    std::vector<uint64_t> figures;
    jclass cls = env->GetObjectClass(stat);
    for (const char *field : kFields) {
        jfieldID id = env->GetFieldID(cls, field, "J");
        figures.push_back(id != nullptr ? static_cast<uint64_t>(env->GetLongField(stat, id)) : 0xDEAD);
    }
    env->DeleteLocalRef(cls);
    return figures;
}

// Sets codepage to name (null: leaves it) for one scope, after its first fill from the locale.
class CodepageOverride {
public:
    CodepageOverride(JNIEnv *env, const char *name) {
        std::free(convert(env, env->NewStringUTF("/")));
        std::strcpy(saved_, codepage);
        if (name != nullptr) std::strcpy(codepage, name);
    }
    ~CodepageOverride() { std::strcpy(codepage, saved_); }

private:
    char saved_[sizeof codepage];
};

using FileSysStat = JniTest;

// getFileSysStat on js, which must fail printing only printed: the exception it raised.
Pending failedStat(JNIEnv *env, jstring js, const std::string &printed = "") {
    StdoutCapture out;
    EXPECT_EQ(getFileSysStat(env, nullptr, js), nullptr);
    EXPECT_EQ(out.finish(), printed);
    return takePending(env);
}

// Constructor order whatever struct statvfs's order, and wide fields keep all their bits.
TEST_F(FileSysStat, FiguresMatchStatvfsThroughEveryDeclaringClass) {
    const GetFileSysStatFn natives[] = {
        Java_com_durvo_ufe_fsutil_FileSystemStatFbd_getFileSysStat,
        Java_com_durvo_ufe_fsutil_FileSystemStatMac_getFileSysStat,
        Java_com_durvo_ufe_fsutil_FileSystemStatSos_getFileSysStat,
        Java_com_durvo_ufe_fsutil_FileSystemStatLin_getFileSysStat,
    };
    for (const char *path : {"/", "/tmp", "/dev/shm", "/proc"}) {
        for (GetFileSysStatFn native : natives) {
            jstring js = env->NewStringUTF(path);
            jobject stat = native(env, nullptr, js);
            ASSERT_NE(stat, nullptr) << path << ": " << takePending(env).message;
            struct statvfs st;
            ASSERT_EQ(statvfs(path, &st), 0);
            std::vector<uint64_t> got = javaFigures(env, stat);
            std::vector<uint64_t> want = {st.f_bsize, st.f_files, st.f_blocks, st.f_bfree, st.f_bavail, st.f_frsize,
                                          st.f_ffree, st.f_favail, st.f_fsid, st.f_flag, st.f_namemax};
            // Free counts move while other processes write; within 1% of the
            // total they still tell every field from its neighbours.
            for (size_t i : {3u, 4u, 6u, 7u}) {
                const uint64_t slack = (i < 6 ? st.f_blocks : st.f_files) / 100;
                if (got[i] + slack >= want[i] && got[i] <= want[i] + slack) want[i] = got[i];
            }
            EXPECT_EQ(got, want) << path;
            env->DeleteLocalRef(stat);
            env->DeleteLocalRef(js);
        }
    }
}

// The Java declaring class binds to the library and returns the same record.
TEST_F(FileSysStat, JavaApiReturnsFigures) {
    jclass iface = env->FindClass("com/durvo/ufe/fsutil/FileSystemStat");
    ASSERT_NE(iface, nullptr);
    jmethodID forOs = env->GetStaticMethodID(iface, "forCurrentOs", "()Lcom/durvo/ufe/fsutil/FileSystemStat;");
    ASSERT_NE(forOs, nullptr);
    jobject impl = env->CallStaticObjectMethod(iface, forOs);
    ASSERT_FALSE(env->ExceptionCheck());
    jmethodID get = env->GetMethodID(iface, "getFileSysStat", "(Ljava/lang/String;)Lcom/durvo/ufe/fsutil/FileSysStatUnix;");
    ASSERT_NE(get, nullptr);
    jobject stat = env->CallObjectMethod(impl, get, env->NewStringUTF("/"));
    Pending p = takePending(env);
    ASSERT_NE(stat, nullptr) << p.message;
    struct statvfs st;
    ASSERT_EQ(statvfs("/", &st), 0);
    std::vector<uint64_t> got = javaFigures(env, stat);
    EXPECT_EQ(got[0], st.f_bsize);
    EXPECT_EQ(got[2], st.f_blocks);
    EXPECT_EQ(got[8], st.f_fsid);

    jclass stClass = env->GetObjectClass(stat);
    jmethodID totalBytes = env->GetMethodID(stClass, "totalBytes", "()J");
    ASSERT_NE(totalBytes, nullptr);
    EXPECT_EQ(static_cast<uint64_t>(env->CallLongMethod(stat, totalBytes)), st.f_blocks * st.f_frsize);
    ASSERT_FALSE(env->ExceptionCheck());
}

// Each failing step names itself, the caller's path and the reason; long messages are cut.
TEST_F(FileSysStat, FailuresRaiseIOExceptionNamingTheStep) {
    const std::string prefix = "[UNIXFileSysUtil.getFileSysStat] ";
    const std::string longPath = "/" + std::string(3000, 'x');
    const std::string odd = "/tmp/caf\xC3\xA9/\xF0\x9F\x98\x80";
    const struct {
        const char *codeset;  // null: the locale's
        std::string path;     // "<null>" passes a null string
        std::string message;
    } cases[] = {
        {nullptr, "/no/such/path", prefix + "statvfs failed for '/no/such/path'. Error='" + strerror(ENOENT) + "'"},
        {nullptr, "", prefix + "statvfs failed for ''. Error='" + strerror(ENOENT) + "'"},
        {nullptr, "/etc/passwd/x", prefix + "statvfs failed for '/etc/passwd/x'. Error='" + strerror(ENOTDIR) + "'"},
        {nullptr, longPath, (prefix + "statvfs failed for '" + longPath).substr(0, 1023)},
        {nullptr, "<null>", prefix + "convert failed for '(null)'"},
        {"NO-SUCH-CHARSET", odd, prefix + "convert failed for '" + odd + "'"},
    };
    for (const auto &c : cases) {
        CodepageOverride cp(env, c.codeset);
        Pending p = failedStat(env, c.path == "<null>" ? nullptr : newJavaString(env, c.path));
        EXPECT_EQ(p.className, "java.io.IOException");
        EXPECT_EQ(p.message, c.message);
    }
}

// Modified UTF-8 only for the exact codeset name "UTF-8", Java's encoder for any other.
TEST_F(FileSysStat, ConvertFollowsTheCodesetName) {
    struct Case {
        const char *codeset;
        std::string path;    // UTF-8
        std::string native;  // expected bytes up to the first zero byte
    };
    const Case cases[] = {
        {"UTF-8", std::string("a\0b", 3), "a\xC0\x80"
                                          "b"},
        {"UTF-8", "\xF0\x9F\x98\x80", "\xED\xA0\xBD\xED\xB8\x80"},  // U+1F600 as two surrogates
        {"UTF-8", "\xC2\xB6", "\xC2\xB6"},                          // the escape mark is a plain character here
        {"utf-8", std::string("a\0b", 3), "a"},                     // real UTF-8: the zero ends the path
        {"utf-8", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"ISO-8859-1", "\xC3\xA9\xE2\x82\xAC", "\xE9?"},  // e-acute, euro sign
        {"ANSI_X3.4-1968", "\xC3\xA9z", "?z"},
    };
    for (const Case &c : cases) {
        CodepageOverride cp(env, c.codeset);
        jstring js = newJavaString(env, c.path);
        char *native = convert(env, js);
        ASSERT_NE(native, nullptr) << c.codeset;
        EXPECT_EQ(hex(native), hex(c.native)) << c.codeset;
        std::free(native);
        env->DeleteLocalRef(js);
    }
}

TEST_F(FileSysStat, CodepageHoldsTheLocaleCodeset) {
    std::free(convert(env, env->NewStringUTF("/")));
    EXPECT_STREQ(codepage, nl_langinfo(CODESET));
}

// In a process whose class path lacks FileSysStatUnix.
using IsolatedMissingStatClass = JniTest;
TEST_F(IsolatedMissingStatClass, PrintsAndRaisesFindClassMessage) {
    const std::string message =
        "[UNIXFileSysUtil.getFileSysStat] FindClass returns NULL for 'com/durvo/ufe/fsutil/FileSysStatUnix'";
    Pending p = failedStat(env, env->NewStringUTF("/"), message);  // no line end
    EXPECT_EQ(p.className, "java.io.IOException");
    EXPECT_EQ(p.message, message);
}

// In a process whose FileSysStatUnix lacks the eleven-long constructor.
using IsolatedStatClassWithoutCtor = JniTest;
TEST_F(IsolatedStatClassWithoutCtor, RaisesGetMethodIdMessageSilently) {
    Pending p = failedStat(env, env->NewStringUTF("/tmp"));
    EXPECT_EQ(p.className, "java.io.IOException");
    EXPECT_EQ(p.message, "[UNIXFileSysUtil.getFileSysStat] GetMethodID returns NULL for "
                         "'/tmp com/durvo/ufe/fsutil/FileSysStatUnix <init> (JJJJJJJJJJJ)V'");
}

} // namespace
} // namespace fsstat::test
