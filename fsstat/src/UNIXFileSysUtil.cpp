// The native methods of the Java side: file-system statistics and the charset
// mode switch, and the process-wide variables they share with the utility
// layer.
#include "JniUtil.h"
#include "Guards.h"

#include <langinfo.h>
#include <sys/statvfs.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

using fsstat::LocalRef;
using fsstat::MallocPtr;

extern "C" {
int IS_UTF8_DEFAULT_CHARSET = 0;
char codepage[1024] = {0};
}

namespace {

constexpr const char kStatClass[] = "com/durvo/ufe/fsutil/FileSysStatUnix";
constexpr const char kStatCtorSig[] = "(JJJJJJJJJJJ)V";

// 0: codepage empty; 1: one thread is filling it; 2: filled for good.
std::atomic<int> gCodepageState{0};

// The codeset name a conversion must use. Once codepage is filled it is that;
// until then each call looks the name up, and the first to find a non-empty
// one fills codepage. A reader only touches codepage after it is complete, so
// a concurrent first fill is never seen half-written, and an empty lookup
// leaves codepage empty to be retried next time.
const char *currentCodeset() {
    if (gCodepageState.load(std::memory_order_acquire) == 2) return codepage;
    const char *szName = nl_langinfo(CODESET);
    if (szName == nullptr || szName[0] == '\0') return "";
    int iExpected = 0;
    if (gCodepageState.compare_exchange_strong(iExpected, 1, std::memory_order_acq_rel)) {
        // A name of more than 1023 bytes is kept cut to 1023.
        std::snprintf(codepage, sizeof codepage, "%s", szName);
        gCodepageState.store(2, std::memory_order_release);
        return codepage;
    }
    // Another thread is filling codepage right now; use our own lookup.
    return szName;
}

// statvfs fields are unsigned: a narrower one is zero-extended to 64 bits and
// a 64-bit one passes bit for bit (2^63 and above arrive negative in Java).
template <typename T>
jlong widenUnsigned(T value) {
    static_assert(std::is_unsigned_v<T>, "statvfs fields are unsigned");
    return static_cast<jlong>(static_cast<std::uint64_t>(value));
}

} // namespace

extern "C" {

void throwIOExpt(JNIEnv *env, char *cErrMsg) {
    LocalRef<jstring> jsMsg(env, env->NewStringUTF(cErrMsg));
    if (!jsMsg) return;  // out of memory is pending
    LocalRef<jclass> jcls(env, env->FindClass("java/io/IOException"));
    if (!jcls) return;
    jmethodID jmidCtor = env->GetMethodID(jcls.get(), "<init>", "(Ljava/lang/String;)V");
    if (jmidCtor == nullptr) return;
    LocalRef<jthrowable> jExc(env, static_cast<jthrowable>(env->NewObject(jcls.get(), jmidCtor, jsMsg.get())));
    if (!jExc) return;
    env->Throw(jExc.get());
}

char *convert(JNIEnv *env, jstring jsPath) {
    if (jsPath == nullptr) return nullptr;
    const char *szCodeset = currentCodeset();

    if (std::strcmp(szCodeset, "UTF-8") == 0) {
        // Modified UTF-8: U+0000 is C0 80, so the path is never cut short.
        const char *szUtf = env->GetStringUTFChars(jsPath, nullptr);
        if (szUtf == nullptr) return nullptr;
        size_t iLen = std::strlen(szUtf);
        char *szPath = static_cast<char *>(std::malloc(iLen + 1));
        if (szPath != nullptr) std::memcpy(szPath, szUtf, iLen + 1);
        env->ReleaseStringUTFChars(jsPath, szUtf);
        return szPath;
    }

    LocalRef<jclass> jclsString(env, env->FindClass("java/lang/String"));
    if (!jclsString) return nullptr;
    jmethodID jmidGetBytes = env->GetMethodID(jclsString.get(), "getBytes", "(Ljava/lang/String;)[B");
    if (jmidGetBytes == nullptr) return nullptr;
    LocalRef<jstring> jsCodeset(env, env->NewStringUTF(szCodeset));
    if (!jsCodeset) return nullptr;
    LocalRef<jbyteArray> jBytes(
        env, static_cast<jbyteArray>(env->CallObjectMethod(jsPath, jmidGetBytes, jsCodeset.get())));
    if (env->ExceptionCheck() || !jBytes) return nullptr;  // e.g. a codeset Java does not know

    jbyte *pElems = env->GetByteArrayElements(jBytes.get(), nullptr);
    if (pElems == nullptr) return nullptr;
    jsize iLen = env->GetArrayLength(jBytes.get());
    char *szPath = static_cast<char *>(std::malloc(static_cast<size_t>(iLen) + 1));
    if (szPath != nullptr) {
        std::memcpy(szPath, pElems, static_cast<size_t>(iLen));
        szPath[iLen] = '\0';
    }
    env->ReleaseByteArrayElements(jBytes.get(), pElems, 0);
    return szPath;
}

jobject getFileSysStat(JNIEnv *env, jobject /*jobj*/, jstring jsPath) {
    // Messages longer than the buffer are cut to its 1023 bytes.
    char szMsg[1024];

    MallocPtr szPath(convert(env, jsPath));
    if (!szPath) {
        // Whatever the JVM raised while converting gives way to our IOException.
        if (env->ExceptionCheck()) env->ExceptionClear();
        const char *szUtf = jsPath != nullptr ? env->GetStringUTFChars(jsPath, nullptr) : nullptr;
        if (szUtf == nullptr && env->ExceptionCheck()) env->ExceptionClear();
        // A path that has no modified UTF-8 form (null, or no memory) shows as "(null)".
        std::snprintf(szMsg, sizeof szMsg, "[UNIXFileSysUtil.getFileSysStat] convert failed for '%s'",
                      szUtf != nullptr ? szUtf : "(null)");
        if (szUtf != nullptr) env->ReleaseStringUTFChars(jsPath, szUtf);
        throwIOExpt(env, szMsg);
        return nullptr;
    }

    struct statvfs st;
    if (statvfs(szPath.get(), &st) != 0) {
        int iErr = errno;
        std::snprintf(szMsg, sizeof szMsg, "[UNIXFileSysUtil.getFileSysStat] statvfs failed for '%s'. Error='%s'",
                      szPath.get(), std::strerror(iErr));
        szPath.reset();
        throwIOExpt(env, szMsg);
        return nullptr;
    }

    LocalRef<jclass> jcls(env, env->FindClass(kStatClass));
    if (!jcls) {
        env->ExceptionClear();  // NoClassDefFoundError gives way to our IOException
        std::snprintf(szMsg, sizeof szMsg, "[UNIXFileSysUtil.getFileSysStat] FindClass returns NULL for '%s'",
                      kStatClass);
        std::printf("%s", szMsg);
        throwIOExpt(env, szMsg);
        return nullptr;
    }
    jmethodID jmidCtor = env->GetMethodID(jcls.get(), "<init>", kStatCtorSig);
    if (jmidCtor == nullptr) {
        env->ExceptionClear();  // NoSuchMethodError gives way to our IOException
        std::snprintf(szMsg, sizeof szMsg,
                      "[UNIXFileSysUtil.getFileSysStat] GetMethodID returns NULL for '%s %s %s %s'", szPath.get(),
                      kStatClass, "<init>", kStatCtorSig);
        throwIOExpt(env, szMsg);
        return nullptr;
    }
    // A failed construction returns null with the JVM's or the constructor's exception pending.
    return env->NewObject(jcls.get(), jmidCtor, widenUnsigned(st.f_bsize), widenUnsigned(st.f_frsize),
                          widenUnsigned(st.f_blocks), widenUnsigned(st.f_bfree), widenUnsigned(st.f_bavail),
                          widenUnsigned(st.f_files), widenUnsigned(st.f_ffree), widenUnsigned(st.f_favail),
                          widenUnsigned(st.f_fsid), widenUnsigned(st.f_flag), widenUnsigned(st.f_namemax));
}

JNIEXPORT jobject JNICALL Java_com_durvo_ufe_fsutil_FileSystemStatFbd_getFileSysStat(JNIEnv *env, jobject jobj,
                                                                                    jstring jsPath) {
    return getFileSysStat(env, jobj, jsPath);
}

JNIEXPORT jobject JNICALL Java_com_durvo_ufe_fsutil_FileSystemStatMac_getFileSysStat(JNIEnv *env, jobject jobj,
                                                                                    jstring jsPath) {
    return getFileSysStat(env, jobj, jsPath);
}

JNIEXPORT jobject JNICALL Java_com_durvo_ufe_fsutil_FileSystemStatSos_getFileSysStat(JNIEnv *env, jobject jobj,
                                                                                    jstring jsPath) {
    return getFileSysStat(env, jobj, jsPath);
}

JNIEXPORT jobject JNICALL Java_com_durvo_ufe_fsutil_FileSystemStatLin_getFileSysStat(JNIEnv *env, jobject jobj,
                                                                                    jstring jsPath) {
    return getFileSysStat(env, jobj, jsPath);
}

JNIEXPORT void JNICALL Java_com_durvo_ufe_fsutil_FolderIteratorNix_init(JNIEnv * /*env*/, jobject /*jobj*/,
                                                                       jboolean jIsUTF8DefaultCharset) {
    // One word, stored whole: conversions on other threads read it without a lock.
    __atomic_store_n(&IS_UTF8_DEFAULT_CHARSET, static_cast<int>(jIsUTF8DefaultCharset), __ATOMIC_RELAXED);
}

} // extern "C"
