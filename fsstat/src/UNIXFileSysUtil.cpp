// The native methods of the Java side: file-system statistics and the charset
// mode switch, and the process-wide variables they share with the utility
// layer.
#include "JniUtil.h"
#include "Internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

using fsstat::LocalRef;
using fsstat::MallocPtr;
using fsstat::widen;

extern "C" {
int IS_UTF8_DEFAULT_CHARSET = 0;
char codepage[1024] = {0};
jclass jclsChildFile = nullptr;
jmethodID jmidSetBasic = nullptr;
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

// int columns of setBasic: mode, uid and gid keep their low 32 bits (a uid of
// 2^32-2 reads -2 in Java); a link count above 2^31-1 saturates there.
jint narrowBits(std::uint64_t value) { return static_cast<jint>(static_cast<std::uint32_t>(value)); }
jint narrowCount(std::uint64_t value) { return static_cast<jint>(value > INT_MAX ? INT_MAX : value); }

constexpr const char kSetBasicSig[] = "(Ljava/lang/String;JJIIIIJJJJJJJ)V";

// A search handle is the stream's address as a signed pointer-width integer,
// sign-extended; -1 means nothing is open.
jlong handleOf(DIR *dp) { return static_cast<jlong>(reinterpret_cast<std::intptr_t>(dp)); }
DIR *streamOf(jlong jlHandle) { return reinterpret_cast<DIR *>(static_cast<std::intptr_t>(jlHandle)); }

// The child file class as a global reference, resolved once per process. Two
// threads may race to resolve it; the loser drops its own reference.
jclass childFileClass(JNIEnv *env, jobject jChildFile) {
    jclass jcls = __atomic_load_n(&jclsChildFile, __ATOMIC_ACQUIRE);
    if (jcls != nullptr) return jcls;
    LocalRef<jclass> jclsLocal(env, env->GetObjectClass(jChildFile));
    if (!jclsLocal) return nullptr;
    auto jclsGlobal = static_cast<jclass>(env->NewGlobalRef(jclsLocal.get()));
    if (jclsGlobal == nullptr) return nullptr;
    jclass jclsExpected = nullptr;
    if (__atomic_compare_exchange_n(&jclsChildFile, &jclsExpected, jclsGlobal, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE)) {
        return jclsGlobal;
    }
    env->DeleteGlobalRef(jclsGlobal);
    return jclsExpected;
}

// Hands one accepted entry to jChildFile.setBasic; false when setBasic cannot
// be resolved (the lookup's error is then pending).
bool deliver(JNIEnv *env, const char *szName, const struct stat &statbuf, jobject jChildFile) {
    // getJavaFilePath takes a non-const name but never changes it.
    LocalRef<jstring> jsFileName(env, getJavaFilePath(env, const_cast<char *>(szName)));
    // A name no route could convert fails the delivery, with the JVM's error pending.
    if (!jsFileName) return false;
    jclass jcls = childFileClass(env, jChildFile);
    if (jcls == nullptr) return false;
    jmethodID jmid = __atomic_load_n(&jmidSetBasic, __ATOMIC_ACQUIRE);
    if (jmid == nullptr) {
        jmid = env->GetMethodID(jcls, "setBasic", kSetBasicSig);
        if (jmid == nullptr) return false;
        __atomic_store_n(&jmidSetBasic, jmid, __ATOMIC_RELEASE);
    }
    env->CallVoidMethod(jChildFile, jmid, jsFileName.get(), widen(statbuf.st_dev), widen(statbuf.st_ino),
                        narrowBits(statbuf.st_mode), narrowCount(statbuf.st_nlink), narrowBits(statbuf.st_uid),
                        narrowBits(statbuf.st_gid), widen(statbuf.st_rdev), widen(statbuf.st_size),
                        widen(statbuf.st_blksize), widen(statbuf.st_blocks), widen(statbuf.st_atime),
                        widen(statbuf.st_mtime), widen(statbuf.st_ctime));
    // What setBasic threw stays pending for the Java caller; checking marks it
    // seen, so a native caller's next JNI call is not flagged.
    static_cast<void>(env->ExceptionCheck());
    return true;
}

enum class Scan { Delivered, End, DeliveryFailed };

// Reads on in dp until one entry is accepted and delivered, or the stream ends.
Scan scanNext(JNIEnv *env, DIR *dp, const char *szListDir, jobject jChildFile) {
    char szFullPath[1024];
    struct stat statbuf;
    // The directory part is the same for every entry of the scan: copy it
    // once, then only each name after it (formatting per entry costs more).
    const size_t iDirLen = szListDir != nullptr ? std::strlen(szListDir) : 0;
    if (szListDir != nullptr && iDirLen + 1 < sizeof szFullPath) {
        std::memcpy(szFullPath, szListDir, iDirLen);
        szFullPath[iDirLen] = '/';
    }
    for (;;) {
        struct dirent *pEntry = readdir(dp);
        if (pEntry == nullptr) return Scan::End;
        const char *szName = pEntry->d_name;
        if (std::strcmp(szName, ".") == 0 || std::strcmp(szName, "..") == 0) continue;
        const size_t iNameLen = std::strlen(szName);
        int iStatus;
        if (szListDir != nullptr && iDirLen + 1 + iNameLen < sizeof szFullPath) {
            std::memcpy(szFullPath + iDirLen + 1, szName, iNameLen + 1);
            iStatus = getLstat(env, szFullPath, &statbuf, 0);
        } else {
            // The full path does not fit the buffer (or there is no directory
            // path): examine the entry relative to the open stream instead.
            iStatus = fstatat(dirfd(dp), szName, &statbuf, AT_SYMLINK_NOFOLLOW);
        }
        if (iStatus != 0) continue;
        const unsigned iType = statbuf.st_mode & 0xF000u;
        if (iType == 0x2000u || iType == 0xC000u || iType == 0x6000u) continue;  // char device, socket, block device
        return deliver(env, szName, statbuf, jChildFile) ? Scan::Delivered : Scan::DeliveryFailed;
    }
}

jlong getFirstFile(JNIEnv *env, const char *szListDir, jobject jChildFile) {
    if (szListDir == nullptr) return -1;
    DIR *dp = opendir(szListDir);
    if (dp == nullptr) return -1;
    if (scanNext(env, dp, szListDir, jChildFile) != Scan::Delivered) {
        closedir(dp);
        return -1;
    }
    return handleOf(dp);
}

jboolean getNextFile(JNIEnv *env, jlong jlHandle, const char *szListDir, jobject jChildFile) {
    switch (scanNext(env, streamOf(jlHandle), szListDir, jChildFile)) {
    case Scan::Delivered: return 1;
    case Scan::End: return 0;
    case Scan::DeliveryFailed: break;
    }
    return 255;
}

void closeFileHandle(jlong jlHandle) { closedir(streamOf(jlHandle)); }

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
    return env->NewObject(jcls.get(), jmidCtor, widen(st.f_bsize), widen(st.f_frsize),
                          widen(st.f_blocks), widen(st.f_bfree), widen(st.f_bavail),
                          widen(st.f_files), widen(st.f_ffree), widen(st.f_favail),
                          widen(st.f_fsid), widen(st.f_flag), widen(st.f_namemax));
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

JNIEXPORT jlong JNICALL Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(JNIEnv *env, jobject /*jobj*/,
                                                                                jstring jsPath, jobject jChildFile) {
    MallocPtr szListDir(getNativeFilePath(env, jsPath));
    return getFirstFile(env, szListDir.get(), jChildFile);
}

JNIEXPORT jboolean JNICALL Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(JNIEnv *env, jobject /*jobj*/,
                                                                                   jlong jlHandle, jstring jsListDir,
                                                                                   jobject jChildFile) {
    MallocPtr szListDir(getNativeFilePath(env, jsListDir));
    // Without the folder's path the entries are examined relative to the open
    // stream; the failed conversion's error must not stay pending meanwhile.
    if (!szListDir && env->ExceptionCheck()) env->ExceptionClear();
    return getNextFile(env, jlHandle, szListDir.get(), jChildFile);
}

JNIEXPORT void JNICALL Java_com_durvo_ufe_fsutil_FolderIteratorNix_closeSearchHandleN(JNIEnv * /*env*/,
                                                                                    jobject /*jobj*/, jlong jlHandle) {
    closeFileHandle(jlHandle);
}

JNIEXPORT void JNICALL Java_com_durvo_ufe_fsutil_FolderIteratorNix_init(JNIEnv * /*env*/, jobject /*jobj*/,
                                                                       jboolean jIsUTF8DefaultCharset) {
    // One word, stored whole: conversions on other threads read it without a lock.
    __atomic_store_n(&IS_UTF8_DEFAULT_CHARSET, static_cast<int>(jIsUTF8DefaultCharset), __ATOMIC_RELAXED);
}

} // extern "C"
