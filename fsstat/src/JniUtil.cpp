// The JNI utility layer: string conversions, exception raising, the file-name
// escape codec, stat wrappers, path bridging and raw file access.
#include "JniUtil.h"
#include "Guards.h"

// ---- Java string conversions ------------------------------------------------

// ---- Exception raising ------------------------------------------------------

// ---- File-name escape codec -------------------------------------------------

// ---- Stat wrappers ----------------------------------------------------------

// ---- Path bridging ----------------------------------------------------------

namespace {

// A failed conversion only moves on to the next route: what the JVM raised for
// it must not stay pending.
void clearFailedAttempt(JNIEnv *env) {
    if (env->ExceptionCheck()) env->ExceptionClear();
}

} // namespace

extern "C" jstring getJavaFilePath(JNIEnv *env, char *szNativeFilePath) {
    const bool bUtf8 = __atomic_load_n(&IS_UTF8_DEFAULT_CHARSET, __ATOMIC_RELAXED) != 0;
    MallocPtr szMarked(bUtf8 ? escapeEscapeChars(env, szNativeFilePath)
                             : escapeEscapeCharsNonUTF8(env, szNativeFilePath));
    if (!szMarked) return nullptr;  // no memory for the mark step: no route can work

    {
        LocalRef<jstring> jsFileName(env, JNU_NewStringNative(env, szMarked.get()));
        if (jsFileName) {
            MallocPtr szReverted(JNU_GetStringNativeChars(env, jsFileName.get()));
            if (szReverted && std::strcmp(szReverted.get(), szMarked.get()) == 0) return jsFileName.release();
        }
        clearFailedAttempt(env);
    }

    if (__atomic_load_n(&IS_UTF8_DEFAULT_CHARSET, __ATOMIC_RELAXED) != 0) {
        MallocPtr szEscaped(escapeUTFString(env, szMarked.get()));
        if (szEscaped && std::strlen(szEscaped.get()) > std::strlen(szMarked.get())) {
            jstring jsEscaped = JNU_NewStringNative(env, szEscaped.get());
            if (jsEscaped != nullptr) return jsEscaped;
            clearFailedAttempt(env);
        }
    }
    return JNU_NewStringISO8859_1(env, szMarked.get());
}

extern "C" char *getNativeFilePath(JNIEnv *env, jstring jsFilePath) {
    if (jsFilePath == nullptr) return nullptr;  // callers treat null as a path that cannot be opened
    MallocPtr szFirst;
    {
        MallocPtr szBytes(JNU_GetStringNativeChars(env, jsFilePath));
        if (!szBytes) return nullptr;
        szFirst.reset(unescapeNativeString(env, szBytes.get()));
    }
    if (!szFirst) return nullptr;
    struct stat statbuf;
    if (getLstat(env, szFirst.get(), &statbuf, 0) == 0) return szFirst.release();

    MallocPtr szSecond;
    {
        MallocPtr szBytes(JNU_GetStringISO8859_1Chars(env, jsFilePath));
        if (szBytes) szSecond.reset(unescapeString(env, szBytes.get(), 0));
    }
    clearFailedAttempt(env);  // the first candidate stands without it
    if (szSecond && getLstat(env, szSecond.get(), &statbuf, 0) == 0) return szSecond.release();
    return szFirst.release();
}

// ---- Raw file access --------------------------------------------------------
