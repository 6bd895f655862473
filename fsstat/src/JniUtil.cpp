// The JNI utility layer: string conversions, exception raising, the file-name
// escape codec, stat wrappers, path bridging and raw file access.
#include "JniUtil.h"
#include "Guards.h"

#include <fcntl.h>
#include <langinfo.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using fsstat::LocalRef;
using fsstat::MallocPtr;

// ---- Java string conversions ------------------------------------------------

namespace {

constexpr char kStringClass[] = "java/lang/String";
constexpr char kIso88591[] = "ISO-8859-1";

// java/lang/String and one of its methods, looked up afresh at every call:
// the signature taking a charset name when szCharset is given (the name then
// made a Java string too), the plain one otherwise. Each step runs only if the
// one before succeeded; ok() is false with the JVM's error pending.
struct StringMethod {
    StringMethod(JNIEnv *env, const char *szName, const char *szSig, const char *szSigWithCharset,
                 const char *szCharset)
        : jcls(env, env->FindClass(kStringClass)),
          jmid(jcls ? env->GetMethodID(jcls.get(), szName, szCharset != nullptr ? szSigWithCharset : szSig)
                    : nullptr),
          jsCharset(env, jmid != nullptr && szCharset != nullptr ? env->NewStringUTF(szCharset) : nullptr),
          bNeedsCharset(szCharset != nullptr) {}
    bool ok() const { return jmid != nullptr && (!bNeedsCharset || jsCharset); }

    LocalRef<jclass> jcls;
    jmethodID jmid;
    LocalRef<jstring> jsCharset;
    bool bNeedsCharset;
};

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
    StringMethod ctor(env, "<init>", "([B)V", "([BLjava/lang/String;)V", szCharset);
    if (!ctor.ok()) return nullptr;

    env->SetByteArrayRegion(jBytes.get(), 0, n, reinterpret_cast<const jbyte *>(str));
    LocalRef<jstring> jsResult(
        env, static_cast<jstring>(szCharset != nullptr
                                      ? env->NewObject(ctor.jcls.get(), ctor.jmid, jBytes.get(), ctor.jsCharset.get())
                                      : env->NewObject(ctor.jcls.get(), ctor.jmid, jBytes.get())));
    if (env->ExceptionCheck()) return nullptr;
    return jsResult.release();
}

// The array that jstr.getBytes() (szCharset null) or jstr.getBytes(szCharset)
// returns; null with the JVM's error pending.
jbyteArray callGetBytes(JNIEnv *env, jstring jstr, const char *szCharset) {
    StringMethod getBytes(env, "getBytes", "()[B", "(Ljava/lang/String;)[B", szCharset);
    if (!getBytes.ok()) return nullptr;
    LocalRef<jbyteArray> jBytes(env, static_cast<jbyteArray>(
                                         szCharset != nullptr
                                             ? env->CallObjectMethod(jstr, getBytes.jmid, getBytes.jsCharset.get())
                                             : env->CallObjectMethod(jstr, getBytes.jmid)));
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

// In UTF-8 mode a file name reaches Java with every byte that begins no
// accepted sequence written as the mark U+00B6 plus the character of that
// byte's value; literal marks are escaped first so that they read back as
// themselves. In single-byte mode the mark is the byte B6 and is doubled.

namespace {

constexpr unsigned char kMarkLead = 0xC2;   // U+00B6 in UTF-8: C2 B6
constexpr unsigned char kMark = 0xB6;       // and its last byte, the mark in ISO-8859-1

bool isMarkAt(const unsigned char *s) { return s[0] == kMarkLead && s[1] == kMark; }

// The mode, read once per call: init may change it from another thread.
int currentMode() { return __atomic_load_n(&IS_UTF8_DEFAULT_CHARSET, __ATOMIC_RELAXED); }

// getUTF8StringLength takes the bytes left as an int; it only compares them
// with 3, so clamping a (never realistic) longer rest changes nothing.
int bytesLeft(size_t left) { return left > 4 ? 4 : static_cast<int>(left); }

// A buffer for len input bytes that grow by at most factor, or null when that
// size does not fit in size_t or malloc fails.
MallocPtr allocFor(size_t len, size_t factor) {
    if (len > (SIZE_MAX - 1) / factor) return nullptr;
    return MallocPtr(static_cast<char *>(std::malloc(len * factor + 1)));
}

// Writes the mark and the UTF-8 form of the character whose code is b, as the
// JVM's modified UTF-8 gives it (two bytes for U+0080..U+00FF). Returns the
// bytes written, 0 when the JVM could not make the string.
size_t writeEscapedByte(JNIEnv *env, unsigned char b, unsigned char *out) {
    const jchar ch = b;
    LocalRef<jstring> js(env, env->NewString(&ch, 1));
    if (!js) return 0;
    const char *utf = env->GetStringUTFChars(js.get(), nullptr);
    if (utf == nullptr) return 0;
    out[0] = kMarkLead;
    out[1] = kMark;
    out[2] = static_cast<unsigned char>(utf[0]);
    out[3] = static_cast<unsigned char>(utf[1]);
    env->ReleaseStringUTFChars(js.get(), utf);
    return 4;
}

// The character that the n-byte accepted sequence at seq decodes to, through
// the JVM; -1 when the JVM could not make or read the string.
long decodeSequence(JNIEnv *env, const unsigned char *seq, int n) {
    char scratch[5] = {0};
    std::memcpy(scratch, seq, static_cast<size_t>(n));
    LocalRef<jstring> js(env, env->NewStringUTF(scratch));
    if (!js) return -1;
    const jchar *chars = env->GetStringChars(js.get(), nullptr);
    if (chars == nullptr) return -1;
    const long code = chars[0];
    env->ReleaseStringChars(js.get(), chars);
    return code;
}

// The UTF-8 mark step whatever the mode: callers decide the mode themselves.
char *escapeMarks(const char *szUTFPath) {
    if (szUTFPath == nullptr) return nullptr;
    const auto *in = reinterpret_cast<const unsigned char *>(szUTFPath);
    const size_t len = std::strlen(szUTFPath);
    MallocPtr buf = allocFor(len, 4);
    if (!buf) return nullptr;
    auto *out = reinterpret_cast<unsigned char *>(buf.get());
    size_t o = 0;
    for (size_t i = 0; i < len;) {
        // A mark that ends the name is left alone: only a mark with a byte after it is escaped.
        if (i + 2 < len && isMarkAt(in + i)) {
            static const unsigned char kEscapedMark[] = {0xC2, 0xB6, 0xC3, 0x82, 0xC2, 0xB6, 0xC2, 0xB6};
            std::memcpy(out + o, kEscapedMark, sizeof kEscapedMark);
            o += sizeof kEscapedMark;
            i += 2;
        } else {
            out[o++] = in[i++];
        }
    }
    out[o] = 0;
    return buf.release();
}

} // namespace

extern "C" {

int getUTF8StringLength(unsigned char *str, int iStrLen) {
    // With no byte left every lead is rejected; return before reading any.
    if (str == nullptr || iStrLen < 1) return 0;
    const unsigned char lead = str[0];
    int len;
    if (lead < 0x80) len = 1;
    else if (lead > 0xEF) len = 4;
    else if (lead > 0xDF) len = 3;
    else if (lead > 0xC1) len = 2;
    else return 0;
    if (len > iStrLen) return 0;  // before any following byte is read
    switch (len) {
    case 2: return str[1] >= 0x80 && str[1] <= 0xBF ? 2 : 0;
    // The second byte must be A0..BF for every lead E0..EF, not only for E0.
    case 3: return str[1] >= 0xA0 && str[1] <= 0xBF && str[2] >= 0x80 && str[2] <= 0xBF ? 3 : 0;
    case 4: return 0;  // four-byte characters are never accepted
    default: return 1;
    }
}

char *escapeEscapeChars(JNIEnv *, char *szUTFPath) {
    return currentMode() == 0 ? nullptr : escapeMarks(szUTFPath);
}

char *escapeEscapeCharsNonUTF8(JNIEnv *, char *szPath) {
    if (szPath == nullptr) return nullptr;
    const size_t len = std::strlen(szPath);
    MallocPtr buf = allocFor(len, 2);
    if (!buf) return nullptr;
    char *out = buf.get();
    for (const char *p = szPath; *p != 0; p++) {
        *out++ = *p;
        if (static_cast<unsigned char>(*p) == kMark) *out++ = *p;
    }
    *out = 0;
    return buf.release();
}

char *escapeUTFString(JNIEnv *env, char *szUTFPath) {
    if (szUTFPath == nullptr) return nullptr;
    auto *in = reinterpret_cast<unsigned char *>(szUTFPath);
    const size_t len = std::strlen(szUTFPath);
    MallocPtr buf = allocFor(len, 4);
    if (!buf) return nullptr;
    auto *out = reinterpret_cast<unsigned char *>(buf.get());
    size_t o = 0;
    for (size_t i = 0; i < len;) {
        const int n = getUTF8StringLength(in + i, bytesLeft(len - i));
        if (n > 0) {
            std::memcpy(out + o, in + i, static_cast<size_t>(n));
            o += static_cast<size_t>(n);
            i += static_cast<size_t>(n);
            continue;
        }
        // A rejected lead is escaped alone; the next byte is judged on its own.
        const size_t written = writeEscapedByte(env, in[i], out + o);
        if (written == 0) return nullptr;
        o += written;
        i++;
    }
    out[o] = 0;
    return buf.release();
}

char *unescapeString(JNIEnv *env, char *szPath, int isUTFPath) {
    if (szPath == nullptr) return nullptr;
    auto *in = reinterpret_cast<unsigned char *>(szPath);
    const size_t len = std::strlen(szPath);
    MallocPtr buf = allocFor(len, 1);
    if (!buf) return nullptr;
    auto *out = reinterpret_cast<unsigned char *>(buf.get());
    // The bound follows the mode, not isUTFPath: the ISO-8859-1 attempt in
    // UTF-8 mode keeps a B6 B6 pair that ends the name.
    const size_t iBound = currentMode() != 0 ? 2 : 1;
    bool bHandleEscapedChar = false;
    size_t o = 0;
    for (size_t i = 0; i < len;) {
        if (!bHandleEscapedChar) {
            if (i + iBound < len && isUTFPath != 0 && isMarkAt(in + i)) {
                bHandleEscapedChar = true;
                i += 2;
            } else if (i + iBound < len && isUTFPath == 0 && in[i] == kMark && in[i + 1] == kMark) {
                out[o++] = kMark;
                i += 2;
            } else {
                out[o++] = in[i++];
            }
            continue;
        }
        bHandleEscapedChar = false;
        const int n = getUTF8StringLength(in + i, bytesLeft(len - i));
        if (n <= 1) {
            // Not an escape: the mark stands for itself.
            out[o++] = kMarkLead;
            out[o++] = kMark;
            out[o++] = in[i++];
            continue;
        }
        const long code = decodeSequence(env, in + i, n);
        if (code < 0) return nullptr;
        if (code <= 0xFF) {
            out[o++] = static_cast<unsigned char>(code);
        } else {
            // No byte has this character: keep the mark and the sequence as text.
            out[o++] = kMarkLead;
            out[o++] = kMark;
            std::memcpy(out + o, in + i, static_cast<size_t>(n));
            o += static_cast<size_t>(n);
        }
        i += static_cast<size_t>(n);
    }
    // Only a direct caller in single-byte mode can end on a mark; keep it as text, as a final mark is everywhere else.
    if (bHandleEscapedChar) {
        out[o++] = kMarkLead;
        out[o++] = kMark;
    }
    out[o] = 0;
    return buf.release();
}

char *unescapeNativeString(JNIEnv *env, char *szUTFPath) {
    return unescapeString(env, szUTFPath, currentMode());
}

} // extern "C"

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

namespace {

// A failed conversion only moves on to the next route: what the JVM raised for
// it must not stay pending.
void clearFailedAttempt(JNIEnv *env) {
    if (env->ExceptionCheck()) env->ExceptionClear();
}

} // namespace

extern "C" jstring getJavaFilePath(JNIEnv *env, char *szNativeFilePath) {
    const bool bUtf8 = __atomic_load_n(&IS_UTF8_DEFAULT_CHARSET, __ATOMIC_RELAXED) != 0;
    // The mark step follows the flag as read here: escapeEscapeChars reads it
    // again and would answer null had init switched modes in between.
    MallocPtr szMarked(bUtf8 ? escapeMarks(szNativeFilePath) : escapeEscapeCharsNonUTF8(env, szNativeFilePath));
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
        }
        clearFailedAttempt(env);  // a failed escape too: the last route must not run with its error pending
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
