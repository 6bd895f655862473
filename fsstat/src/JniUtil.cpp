// The JNI utility layer: string conversions, exception raising, the file-name
// escape codec, stat wrappers, path bridging and raw file access.
#include "JniUtil.h"
#include "Guards.h"

#include <fcntl.h>
#include <langinfo.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using fsstat::LocalRef;
using fsstat::MallocPtr;

// ---- Java string conversions ------------------------------------------------

namespace {

constexpr char kStringClass[] = "java/lang/String";
constexpr char kIso88591[] = "ISO-8859-1";

// Java's own decoder turns str's bytes into a string: the default charset when
// szCharset is null, else the named one. szDiag is printed when the JVM
// refuses local-reference room.
jstring newStringFromBytes(JNIEnv *env, const char *str, const char *szCharset, const char *szDiag) {
    if (str == nullptr) return nullptr;  // a null native string makes no Java string, as a failure would
    const jsize n = static_cast<jsize>(std::strlen(str));
    LocalRef<jbyteArray> jBytes(env, env->NewByteArray(n));
    // Out of memory is pending, and JNI allows no call but deletions until it is handled.
    if (!jBytes) return nullptr;
    if (env->EnsureLocalCapacity(2) < 0) {
        std::printf("%s", szDiag);
        return nullptr;
    }
    LocalRef<jclass> jclsString(env, env->FindClass(kStringClass));
    if (!jclsString) return nullptr;
    jmethodID jmidCtor =
        env->GetMethodID(jclsString.get(), "<init>", szCharset != nullptr ? "([BLjava/lang/String;)V" : "([B)V");
    if (jmidCtor == nullptr) return nullptr;
    LocalRef<jstring> jsCharset(env, szCharset != nullptr ? env->NewStringUTF(szCharset) : nullptr);
    if (szCharset != nullptr && !jsCharset) return nullptr;

    env->SetByteArrayRegion(jBytes.get(), 0, n, reinterpret_cast<const jbyte *>(str));
    LocalRef<jstring> jsResult(env, static_cast<jstring>(
                                        szCharset != nullptr
                                            ? env->NewObject(jclsString.get(), jmidCtor, jBytes.get(), jsCharset.get())
                                            : env->NewObject(jclsString.get(), jmidCtor, jBytes.get())));
    if (env->ExceptionCheck()) return nullptr;
    return jsResult.release();
}

// The array that jstr.getBytes() (szCharset null) or jstr.getBytes(szCharset)
// returns; null with the JVM's error pending.
jbyteArray callGetBytes(JNIEnv *env, jstring jstr, const char *szCharset) {
    LocalRef<jclass> jclsString(env, env->FindClass(kStringClass));
    if (!jclsString) return nullptr;
    jmethodID jmidGetBytes =
        env->GetMethodID(jclsString.get(), "getBytes", szCharset != nullptr ? "(Ljava/lang/String;)[B" : "()[B");
    if (jmidGetBytes == nullptr) return nullptr;
    LocalRef<jstring> jsCharset(env, szCharset != nullptr ? env->NewStringUTF(szCharset) : nullptr);
    if (szCharset != nullptr && !jsCharset) return nullptr;
    LocalRef<jbyteArray> jBytes(env, static_cast<jbyteArray>(
                                         szCharset != nullptr
                                             ? env->CallObjectMethod(jstr, jmidGetBytes, jsCharset.get())
                                             : env->CallObjectMethod(jstr, jmidGetBytes)));
    if (env->ExceptionCheck()) return nullptr;
    return jBytes.release();
}

// jstr encoded by Java's own encoder, as a malloc buffer of n + 1 bytes.
char *getStringBytes(JNIEnv *env, jstring jstr, const char *szCharset, const char *szDiag) {
    if (jstr == nullptr) return nullptr;  // a null Java string makes no buffer, as a failure would
    LocalRef<jbyteArray> jBytes(env, callGetBytes(env, jstr, szCharset));
    if (!jBytes) return nullptr;  // the JVM's error is pending: no further JNI call
    if (env->EnsureLocalCapacity(2) < 0) {
        std::printf("%s", szDiag);
        return nullptr;
    }
    const jsize n = env->GetArrayLength(jBytes.get());
    MallocPtr acBuf(static_cast<char *>(std::malloc(static_cast<size_t>(n) + 1)));
    if (!acBuf) return nullptr;
    env->GetByteArrayRegion(jBytes.get(), 0, n, reinterpret_cast<jbyte *>(acBuf.get()));
    acBuf.get()[n] = '\0';
    return acBuf.release();
}

} // namespace

extern "C" {

int isANSI(const char * /*inpCodepage*/) {
    const char *szCodeset = nl_langinfo(CODESET);
    return szCodeset != nullptr && std::strcmp(szCodeset, "ANSI") == 0 ? 1 : 0;
}

jstring JNU_NewStringNative(JNIEnv *env, const char *str) {
    return newStringFromBytes(env, str, nullptr, "[JNU_NewStringNative] EnsureLocalCapacity failed");
}

jstring JNU_NewStringISO8859_1(JNIEnv *env, const char *str) {
    return newStringFromBytes(env, str, kIso88591, "[JNU_NewStringISO8859_1] EnsureLocalCapacity failed");
}

char *JNU_GetStringNativeChars(JNIEnv *env, jstring jstr) {
    return getStringBytes(env, jstr, nullptr, "[JNU_GetStringNativeChars] EnsureLocalCapacity failed");
}

char *JNU_GetStringISO8859_1Chars(JNIEnv *env, jstring jstr) {
    return getStringBytes(env, jstr, kIso88591, "[JNU_GetStringISO8859_1Chars] EnsureLocalCapacity failed");
}

} // extern "C"

// ---- Exception raising ------------------------------------------------------

namespace {

// The named class, or java.lang.Exception when the JVM cannot find it.
jclass findExceptionClass(JNIEnv *env, const char *szName) {
    jclass jcls = env->FindClass(szName);
    if (jcls != nullptr) return jcls;
    // The lookup's NoClassDefFoundError must go before the fallback lookup may run.
    env->ExceptionClear();
    return env->FindClass("java/lang/Exception");
}

} // namespace

extern "C" {

void throwException(JNIEnv *env, char *szExceptionClassName, char *szErrMsg) {
    LocalRef<jstring> jsMsg(env, JNU_NewStringNative(env, szErrMsg));
    // Without a message string the exception still goes out, with a null message.
    if (!jsMsg && env->ExceptionCheck()) env->ExceptionClear();
    LocalRef<jclass> jcls(env, findExceptionClass(env, szExceptionClassName));
    if (!jcls) return;
    jmethodID jmidCtor = env->GetMethodID(jcls.get(), "<init>", "(Ljava/lang/String;)V");
    if (jmidCtor == nullptr) return;
    LocalRef<jthrowable> jExc(env, static_cast<jthrowable>(env->NewObject(jcls.get(), jmidCtor, jsMsg.get())));
    if (env->ExceptionCheck() || !jExc) return;
    env->Throw(jExc.get());
}

void throwIOException(JNIEnv *env, char *szErrMsg) {
    char szClass[] = "java/io/IOException";
    throwException(env, szClass, szErrMsg);
}

void throwFileNotFoundException(JNIEnv *env, char *szErrMsg) {
    char szClass[] = "java/io/FileNotFoundException";
    throwException(env, szClass, szErrMsg);
}

} // extern "C"

// ---- File-name escape codec -------------------------------------------------

// ---- Stat wrappers ----------------------------------------------------------

namespace {

// The fixed sentence for iErr, opening with the closing quote; null when
// strerror's text is to follow "'. " instead.
const char *statErrorReason(int iErr) {
    switch (iErr) {
    case 0: return "";
    case EACCES: return "'. Search permission is denied for one of the directories in the path prefix of path.";
    case EBADF: return "'. filedes is bad.";
    case EFAULT: return "'. Bad address.";
    case ELOOP: return "'. Too many symbolic links encountered while traversing the path. ";
    case ENAMETOOLONG: return "'. File name too long.";
    case ENOENT: return "'. A component of the path does not exist, or the path is an empty string.";
    case ENOMEM: return "'. Out of memory (i.e. kernel memory).";
    case ENOTDIR: return "'. A component of the path is not a directory.";
    default: return nullptr;
    }
}

void throwStatError(JNIEnv *env, int iErr, const char *acPath, const char *acPrefix) {
    // A message longer than 511 bytes is cut there: the wrapper and the start of the path still show.
    char acMsg[512];
    const char *szReason = statErrorReason(iErr);
    if (szReason != nullptr) {
        std::snprintf(acMsg, sizeof acMsg, "%s stat() failed on  '%s%s", acPrefix, acPath, szReason);
    } else {
        std::snprintf(acMsg, sizeof acMsg, "%s stat() failed on  '%s'. %s", acPrefix, acPath, std::strerror(iErr));
    }
    throwIOException(env, acMsg);
}

} // namespace

extern "C" {

int getStat(JNIEnv *env, const char *acPath, struct stat *pStatbuf, int iThrowExpt) {
    const int iStatus = stat(acPath, pStatbuf);
    if (iStatus != 0 && iThrowExpt != 0) throwStatError(env, errno, acPath, "[JniUtil.getStat] ");
    return iStatus;
}

int getLstat(JNIEnv *env, const char *acPath, struct stat *pStatbuf, int iThrowExpt) {
    const int iStatus = lstat(acPath, pStatbuf);
    if (iStatus != 0 && iThrowExpt != 0) throwStatError(env, errno, acPath, "[JniUtil.getLstat] ");
    return iStatus;
}

int getFstatat(JNIEnv *env, int dirfd, const char *acName, struct stat *pStatbuf, int flags, int iThrowExpt,
               int iSyscall) {
    // syscall reads every argument as a long: widen the ints so no stray upper bits reach the kernel.
    const int iStatus = static_cast<int>(
        syscall(static_cast<long>(iSyscall), static_cast<long>(dirfd), acName, pStatbuf, static_cast<long>(flags)));
    if (iStatus != 0 && iThrowExpt != 0) throwStatError(env, errno, acName, "[JniUtil.getFstatat] ");
    return iStatus;
}

int readLinkTarget(const char *szFilePath, char **pszLinkTarget) {
    for (size_t iSize = 512;; iSize *= 2) {
        MallocPtr acBuf(static_cast<char *>(std::malloc(iSize)));
        if (!acBuf) return -1;
        const ssize_t iLen = readlink(szFilePath, acBuf.get(), iSize);
        if (iLen < 0) return -1;
        // A target that fills the whole buffer may have been cut: try again with twice the room.
        if (static_cast<size_t>(iLen) < iSize) {
            acBuf.get()[iLen] = '\0';
            *pszLinkTarget = acBuf.release();
            return 0;
        }
    }
}

} // extern "C"

// ---- Path bridging ----------------------------------------------------------

// ---- Raw file access --------------------------------------------------------

namespace {

// One line on standard output naming why a move failed.
void reportSkipError(int iErr) {
    switch (iErr) {
    case 0: return;
    case EBADF: std::puts("[JniUtil.skipFile] iFileDescriptor is not an open file descriptor."); return;
    case ESPIPE: std::puts("[JniUtil.skipFile] iFileDescriptor is associated with a pipe, socket, or FIFO."); return;
    case EINVAL:
        std::puts("[JniUtil.skipFile] whence is not one of SEEK_SET, SEEK_CUR, SEEK_END, or the resulting file "
                  "offset would be negative.");
        return;
    case EOVERFLOW: std::puts("[JniUtil.skipFile] The resulting file offset cannot be represented in an off_t."); return;
    default: std::printf("[JniUtil.skipFile] %s\n", std::strerror(iErr)); return;
    }
}

} // namespace

extern "C" {

int openFile(const char *fname) { return open(fname, O_RDONLY); }

int closeFile(int iFileDescriptor) { return close(iFileDescriptor); }

int readFile(int iFileDescriptor, char *buf, size_t nbyte) {
    return static_cast<int>(read(iFileDescriptor, buf, nbyte));
}

off_t skipFile(int iFileDescriptor, off_t offset) {
    const off_t offStartpos = lseek(iFileDescriptor, 0, SEEK_CUR);
    const off_t offEndpos = lseek(iFileDescriptor, offset, SEEK_CUR);
    if (offEndpos == -1) reportSkipError(errno);
    // A failed call counts as -1 on its side of the difference, so two failures give 0.
    return offEndpos - offStartpos;
}

} // extern "C"
