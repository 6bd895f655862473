// Java strings and exceptions: each conversion route in the run's charset, exception classes, and every routine
// on a JVM that refuses what it asks for.
#include "JvmTest.h"

#include <functional>

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

// A byte the charset lacks decodes as U+FFFD and comes back as its replacement; both routes carry the
// empty string, a zero character (as a zero byte) and null.
TEST_F(JavaStrings, EachRouteCarriesWhatItsCharsetCan) {
    const std::string all = bytesFrom(1, 255), ascii = bytesFrom(1, 127), charset = runEncoding();
    const std::string nativeBack = charset == "ISO-8859-1" ? all
                                   : charset == "US-ASCII" ? ascii + bytesFrom(128, 255, "?")
                                                           : ascii + bytesFrom(128, 255, "\xEF\xBF\xBD");
    EXPECT_EQ(hex(take(JNU_GetStringNativeChars(env, JNU_NewStringNative(env, all.c_str())))), hex(nativeBack));
    EXPECT_EQ(hex(take(JNU_GetStringISO8859_1Chars(env, JNU_NewStringISO8859_1(env, all.c_str())))), hex(all));
    // The euro sign and U+0100 have no ISO-8859-1 byte.
    EXPECT_EQ(take(JNU_GetStringISO8859_1Chars(env, env->NewStringUTF("\xE2\x82\xAC\xC4\x80"))), "??");
    jstring zero = env->NewStringUTF("a\xC0\x80" "b");
    using Route = std::pair<jstring (*)(JNIEnv *, const char *), char *(*)(JNIEnv *, jstring)>;
    for (auto [make, get] : {Route{JNU_NewStringNative, JNU_GetStringNativeChars},
                             Route{JNU_NewStringISO8859_1, JNU_GetStringISO8859_1Chars}}) {
        EXPECT_EQ(utf8(env, make(env, "")), "");
        EXPECT_EQ(take(get(env, make(env, ""))), "");
        EXPECT_EQ(make(env, nullptr), nullptr);
        EXPECT_EQ(get(env, nullptr), nullptr);
        char *buf = get(env, zero);  // n + 1 bytes: AddressSanitizer sees a shorter one
        EXPECT_EQ(hex(std::string(buf, 4)), "61 00 62 00");
        std::free(buf);
    }
}

// HotSpot never refuses so small a request: swap in a table whose EnsureLocalCapacity does.
TEST_F(JavaStrings, RefusedLocalCapacityPrintsTheRoutinesName) {
    jstring js = env->NewStringUTF("abc");
    const JNINativeInterface_ *saved = env->functions;
    JNINativeInterface_ refusing = *saved;
    refusing.EnsureLocalCapacity = [](JNIEnv *, jint) -> jint { return JNI_ERR; };
    bool made = true;
    const std::string printed = printedBy([&] {
        env->functions = &refusing;
        made = JNU_NewStringNative(env, "abc") || JNU_NewStringISO8859_1(env, "abc") ||
               JNU_GetStringNativeChars(env, js) || JNU_GetStringISO8859_1Chars(env, js);
        env->functions = saved;
    });
    EXPECT_FALSE(made);
    EXPECT_EQ(printed, "[JNU_NewStringNative] EnsureLocalCapacity failed[JNU_NewStringISO8859_1] EnsureLocalCapacity "
                       "failed[JNU_GetStringNativeChars] EnsureLocalCapacity failed[JNU_GetStringISO8859_1Chars] "
                       "EnsureLocalCapacity failed");
}

// The message is decoded with the default charset, unlike throwIOExpt's modified UTF-8.
TEST_F(JavaStrings, ExceptionOfTheNamedClassOrJavaLangException) {
    char cafe[] = "caf\xC3\xA9", empty[] = "", missing[] = "com/example/NoSuchException";
    char state[] = "java/lang/IllegalStateException";
    const std::string charset = runEncoding();
    const std::string cafeBack = charset == "ISO-8859-1" ? "caf\xC3\x83\xC2\xA9"
                                 : charset == "US-ASCII" ? "caf\xEF\xBF\xBD\xEF\xBF\xBD"
                                                         : cafe;
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { throwIOException(env, cafe); }, "java.io.IOException: " + cafeBack},
        {[&] { throwIOException(env, empty); }, "java.io.IOException: "},  // empty, not null
        {[&] { throwFileNotFoundException(env, cafe); }, "java.io.FileNotFoundException: " + cafeBack},
        {[&] { throwException(env, state, cafe); }, "java.lang.IllegalStateException: " + cafeBack},
        {[&] { throwException(env, missing, empty); }, "java.lang.Exception: "},
        {[&] { throwIOExpt(env, cafe); }, "java.io.IOException: caf\xC3\xA9"},
    };
    for (const auto &[raise, arrives] : cases) {
        raise();
        EXPECT_EQ(thrown(env), arrives);
    }
    EXPECT_EQ(isANSI(nullptr), 0);  // no locale here is named "ANSI"
}

// A request refused as a JVM out of memory refuses it: a null or zero answer with an OutOfMemoryError pending.
const JNINativeInterface_ *gRealJni = nullptr;
jclass gRefusal = nullptr;
template <typename R, typename... A>
R refused(JNIEnv *env, A...) {
    const JNINativeInterface_ *refusing = env->functions;
    env->functions = gRealJni;
    env->ThrowNew(gRefusal, "refused");
    env->functions = refusing;
    return R{};
}

// Each routine on a JVM that refuses one kind of request gives up cleanly: no crash, and no further JNI call
// while the refusal is pending (-Xcheck:jni reports one "in native method").
TEST_F(JavaStrings, EveryRoutineGivesUpCleanlyWhenTheJvmRefuses) {
    ScopedMode utf8(true);  // the mode with every route
    const jclass savedClass = jclsChildFile;
    const jmethodID savedSetBasic = jmidSetBasic;
    TempDir dir;
    dir.file("plain");
    jstring jsDir = env->NewStringUTF(dir.path().c_str()), jsName = env->NewStringUTF("caf\xC3\xA9");
    jobject child = env->AllocObject(env->FindClass("com/durvo/ufe/fsutil/ChildFile"));
    DIR *stream = opendir(dir.path().c_str());
    char name[] = "caf\xE9", escaped[] = "\xC2\xB6\xC3\xA9", message[] = "m", cls[] = "java/lang/IllegalStateException";
    const std::pair<const char *, std::function<void()>> calls[] = {
        {"JNU_NewStringISO8859_1", [&] { env->DeleteLocalRef(JNU_NewStringISO8859_1(env, name)); }},
        {"JNU_GetStringISO8859_1Chars", [&] { std::free(JNU_GetStringISO8859_1Chars(env, jsName)); }},
        {"throwException", [&] { throwException(env, cls, message); }},
        {"throwIOExpt", [&] { throwIOExpt(env, message); }},
        {"escapeUTFString", [&] { std::free(escapeUTFString(env, name)); }},
        {"unescapeString", [&] { std::free(unescapeString(env, escaped, 1)); }},
        {"getJavaFilePath", [&] { env->DeleteLocalRef(getJavaFilePath(env, name)); }},
        {"getNativeFilePath", [&] { std::free(getNativeFilePath(env, jsName)); }},
        {"getFileSysStat", [&] { env->DeleteLocalRef(getFileSysStat(env, nullptr, jsDir)); }},
        {"getNextFileN with its folder", [&] {
             rewinddir(stream);
             const jlong handle = static_cast<jlong>(reinterpret_cast<intptr_t>(stream));
             Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, jsDir, child);
         }},
        {"getNextFileN", [&] {
             rewinddir(stream);  // a search handle is the stream's address
             const jlong handle = static_cast<jlong>(reinterpret_cast<intptr_t>(stream));
             jclsChildFile = nullptr;  // looked up afresh, so that every lookup meets the refusal
             jmidSetBasic = nullptr;
             Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, nullptr, child);
             if (jclsChildFile != nullptr) env->DeleteGlobalRef(jclsChildFile);
         }},
    };
    gRealJni = env->functions;
    gRefusal = static_cast<jclass>(env->NewGlobalRef(env->FindClass("java/lang/OutOfMemoryError")));
    JNINativeInterface_ refusing[12];
    for (JNINativeInterface_ &table : refusing) table = *gRealJni;
    refusing[0].FindClass = refused<jclass, const char *>;
    refusing[1].GetMethodID = refused<jmethodID, jclass, const char *, const char *>;
    refusing[2].NewStringUTF = refused<jstring, const char *>;
    refusing[3].NewByteArray = refused<jbyteArray, jsize>;
    refusing[4].NewObjectV = [](JNIEnv *e, jclass, jmethodID, va_list) { return refused<jobject>(e); };
    refusing[5].CallObjectMethodV = [](JNIEnv *e, jobject, jmethodID, va_list) { return refused<jobject>(e); };
    refusing[6].GetStringUTFChars = refused<const char *, jstring, jboolean *>;
    refusing[7].NewString = refused<jstring, const jchar *, jsize>;
    refusing[8].GetStringChars = refused<const jchar *, jstring, jboolean *>;
    refusing[9].GetByteArrayElements = refused<jbyte *, jbyteArray, jboolean *>;
    refusing[10].GetObjectClass = refused<jclass, jobject>;
    refusing[11].NewGlobalRef = refused<jobject, jobject>;
    for (size_t t = 0; t < std::size(refusing); t++) {
        for (const auto &[routine, call] : calls) {
            const std::function<void()> &run = call;  // clang 14 captures no structured binding
            const std::string printed = printedBy([&] {
                env->functions = &refusing[t];
                run();
                env->functions = gRealJni;
            });
            thrown(env);  // the refusal, or the routine's own exception
            EXPECT_EQ(printed.find("in native method"), std::string::npos) << routine << ", table " << t << printed;
        }
    }
    env->DeleteGlobalRef(gRefusal);
    closedir(stream);
    jclsChildFile = savedClass;
    jmidSetBasic = savedSetBasic;
}

} // namespace
} // namespace fsstat::test
