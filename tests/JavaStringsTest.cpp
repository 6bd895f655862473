// Java strings and exceptions: each conversion route in the run's charset, and exception classes.
#include "JvmTest.h"

namespace fsstat::test {
namespace {

using JavaStrings = JniTest;

std::string bytesFrom(int first, int last, const std::string &each = "") {
    std::string s;
    for (int b = first; b <= last; b++) s += each.empty() ? std::string(1, static_cast<char>(b)) : each;
    return s;
}

std::string take(char *buf) {
    std::string s = buf != nullptr ? buf : "<null>";
    std::free(buf);
    return s;
}

struct Route {
    jstring (*make)(JNIEnv *, const char *);
    char *(*get)(JNIEnv *, jstring);
};
const Route kRoutes[] = {{JNU_NewStringNative, JNU_GetStringNativeChars},
                         {JNU_NewStringISO8859_1, JNU_GetStringISO8859_1Chars}};

// A byte the charset lacks decodes as U+FFFD and comes back as its replacement.
TEST_F(JavaStrings, EachRouteCarriesWhatItsCharsetCan) {
    const std::string all = bytesFrom(1, 255), ascii = bytesFrom(1, 127), charset = runEncoding();
    if (charset.empty()) GTEST_SKIP() << "run without FSSTAT_FILE_ENCODING";
    const std::string nativeBack = charset == "UTF-8"      ? ascii + bytesFrom(128, 255, "\xEF\xBF\xBD")
                                   : charset == "US-ASCII" ? ascii + bytesFrom(128, 255, "?")
                                                           : all;
    EXPECT_EQ(hex(take(JNU_GetStringNativeChars(env, JNU_NewStringNative(env, all.c_str())))), hex(nativeBack));
    EXPECT_EQ(hex(take(JNU_GetStringISO8859_1Chars(env, JNU_NewStringISO8859_1(env, all.c_str())))), hex(all));
    // The euro sign and U+0100 have no ISO-8859-1 byte.
    EXPECT_EQ(take(JNU_GetStringISO8859_1Chars(env, newJavaString(env, "\xE2\x82\xAC\xC4\x80"))), "??");
}

TEST_F(JavaStrings, EmptyNullAndZeroCharacterOnBothRoutes) {
    jstring zero = newJavaString(env, std::string("a\0b", 3));
    for (const Route &r : kRoutes) {
        jstring empty = r.make(env, "");
        ASSERT_NE(empty, nullptr);
        EXPECT_EQ(env->GetStringLength(empty), 0);
        EXPECT_EQ(take(r.get(env, empty)), "");
        EXPECT_EQ(r.make(env, nullptr), nullptr);
        EXPECT_EQ(r.get(env, nullptr), nullptr);
        char *buf = r.get(env, zero);  // n + 1 bytes: AddressSanitizer sees a shorter one
        ASSERT_NE(buf, nullptr);
        EXPECT_EQ(hex(std::string(buf, 4)), "61 00 62 00");
        std::free(buf);
    }
}

// -Xcheck:jni prints once a frame outgrows its plan: one forgotten reference per call shows.
TEST_F(JavaStrings, ThousandsOfConversionsInOneFrameLeaveNoReference) {
    jstring js = env->NewStringUTF("abc");
    StdoutCapture out;
    for (int i = 0; i < 5000; i++) {
        for (const Route &r : kRoutes) {
            env->DeleteLocalRef(r.make(env, "abc"));
            std::free(r.get(env, js));
        }
    }
    EXPECT_EQ(out.finish().substr(0, 200), "");
}

// HotSpot never refuses so small a request: swap in a table whose EnsureLocalCapacity does.
TEST_F(JavaStrings, RefusedLocalCapacityPrintsTheRoutinesName) {
    jstring js = env->NewStringUTF("abc");
    const JNINativeInterface_ *saved = env->functions;
    JNINativeInterface_ refusing = *saved;
    refusing.EnsureLocalCapacity = [](JNIEnv *, jint) -> jint { return JNI_ERR; };
    StdoutCapture out;
    env->functions = &refusing;
    const bool made = JNU_NewStringNative(env, "abc") || JNU_NewStringISO8859_1(env, "abc") ||
                      JNU_GetStringNativeChars(env, js) || JNU_GetStringISO8859_1Chars(env, js);
    env->functions = saved;
    EXPECT_FALSE(made);
    EXPECT_EQ(out.finish(), "[JNU_NewStringNative] EnsureLocalCapacity failed"
                            "[JNU_NewStringISO8859_1] EnsureLocalCapacity failed"
                            "[JNU_GetStringNativeChars] EnsureLocalCapacity failed"
                            "[JNU_GetStringISO8859_1Chars] EnsureLocalCapacity failed");
}

TEST_F(JavaStrings, ExceptionOfTheNamedClassOrJavaLangException) {
    const struct {
        std::string className, message;  // "IO" and "FNF": the two shorthands
        const char *arrives;
    } cases[] = {
        {"IO", "disk gone", "java.io.IOException"},
        {"IO", "", "java.io.IOException"},  // empty, not null
        {"FNF", "/no/such/file", "java.io.FileNotFoundException"},
        {"java/lang/IllegalStateException", "state", "java.lang.IllegalStateException"},
        {"com/example/NoSuchException", "kept", "java.lang.Exception"},
        {"java/lang/Object", "no String constructor", "java.lang.NoSuchMethodError"},
    };
    for (auto c : cases) {
        if (c.className == "IO") throwIOException(env, c.message.data());
        else if (c.className == "FNF") throwFileNotFoundException(env, c.message.data());
        else throwException(env, c.className.data(), c.message.data());
        Pending p = takePending(env);
        EXPECT_EQ(p.className, c.arrives) << c.className;
        if (p.className != "java.lang.NoSuchMethodError") {
            EXPECT_EQ(p.message, c.message);
        }
    }
}

// Decoded with the default charset, unlike throwIOExpt's modified UTF-8.
TEST_F(JavaStrings, ExceptionMessageBytesUseTheDefaultCharset) {
    const std::string charset = runEncoding();
    if (charset.empty()) GTEST_SKIP() << "run without FSSTAT_FILE_ENCODING";
    char message[] = "caf\xC3\xA9";
    throwIOException(env, message);
    EXPECT_EQ(hex(takePending(env).message), hex(charset == "UTF-8"        ? "caf\xC3\xA9"
                                                 : charset == "ISO-8859-1" ? "caf\xC3\x83\xC2\xA9"
                                                                           : "caf\xEF\xBF\xBD\xEF\xBF\xBD"));
    throwIOExpt(env, message);
    EXPECT_EQ(takePending(env).message, "caf\xC3\xA9");
}

} // namespace
} // namespace fsstat::test
