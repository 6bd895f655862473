/*
 * fsstat: file-system statistics and folder iteration for Java, and the
 * native utility layer under them.
 *
 * This is the library's one public header. Everything declared here has C
 * linkage and is exported from libfsstat.so; nothing else is.
 *
 * Ownership: a char* result is a malloc buffer owned by the caller (free it);
 * a jstring/jobject result is a new local reference owned by the caller.
 * "Pending:" says which Java exception may be pending when a routine returns.
 */
#ifndef FSSTAT_JNIUTIL_H
#define FSSTAT_JNIUTIL_H

#include <jni.h>
#include <stddef.h>
#include <sys/stat.h>
#include <sys/types.h>

#define FSSTAT_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Process-wide state -------------------------------------------------- */

/* Non-zero: UTF-8 mode for file names; zero (the initial value): single-byte
 * mode. Set by FolderIteratorNix.init. */
FSSTAT_EXPORT extern int IS_UTF8_DEFAULT_CHARSET;

/* The locale's codeset name, filled by the first conversion of getFileSysStat
 * and kept for the life of the process. Empty until then. */
FSSTAT_EXPORT extern char codepage[1024];

/* The child file class and its setBasic method, resolved by the first
 * delivery of folder iteration and kept for the life of the process (the class
 * as a global reference). */
FSSTAT_EXPORT extern jclass jclsChildFile;
FSSTAT_EXPORT extern jmethodID jmidSetBasic;

/* ---- File-system statistics ---------------------------------------------- */

/* A new FileSysStatUnix with the eleven statvfs figures of jsPath's file
 * system; null on failure. Caller owns the local reference.
 * Pending on null: java.io.IOException with the failing step, or the JVM's
 * error when FileSysStatUnix's constructor failed. */
FSSTAT_EXPORT jobject getFileSysStat(JNIEnv *env, jobject jobj, jstring jsPath);

/* jsPath in the locale's codeset (modified UTF-8 when it is "UTF-8"); null for
 * a null path or a failed conversion. Caller frees.
 * Pending on null: whatever the JVM raised while converting, if anything. */
FSSTAT_EXPORT char *convert(JNIEnv *env, jstring jsPath);

/* Leaves a java.io.IOException pending whose message is cErrMsg read as
 * modified UTF-8. Pending: that IOException, or the JVM's error if it could not
 * be made. */
FSSTAT_EXPORT void throwIOExpt(JNIEnv *env, char *cErrMsg);

/* ---- Native methods ------------------------------------------------------ */

JNIEXPORT jobject JNICALL
Java_com_durvo_ufe_fsutil_FileSystemStatFbd_getFileSysStat(JNIEnv *env, jobject jobj, jstring jsPath);
JNIEXPORT jobject JNICALL
Java_com_durvo_ufe_fsutil_FileSystemStatMac_getFileSysStat(JNIEnv *env, jobject jobj, jstring jsPath);
JNIEXPORT jobject JNICALL
Java_com_durvo_ufe_fsutil_FileSystemStatSos_getFileSysStat(JNIEnv *env, jobject jobj, jstring jsPath);
JNIEXPORT jobject JNICALL
Java_com_durvo_ufe_fsutil_FileSystemStatLin_getFileSysStat(JNIEnv *env, jobject jobj, jstring jsPath);

/* Stores the charset mode in IS_UTF8_DEFAULT_CHARSET. Pending: nothing. */
JNIEXPORT void JNICALL
Java_com_durvo_ufe_fsutil_FolderIteratorNix_init(JNIEnv *env, jobject jobj, jboolean jIsUTF8DefaultCharset);

/* ---- Java string conversions ------------------------------------------- */

/* 1 when the locale's codeset is named exactly "ANSI", else 0 (inpCodepage is ignored); pending: nothing. */
FSSTAT_EXPORT int isANSI(const char *inpCodepage);

/* str decoded with the JVM's default charset; caller owns the local ref; on null the JVM's error may be pending. */
FSSTAT_EXPORT jstring JNU_NewStringNative(JNIEnv *env, const char *str);

/* str decoded as ISO-8859-1; caller owns the local ref; on null the JVM's error may be pending. */
FSSTAT_EXPORT jstring JNU_NewStringISO8859_1(JNIEnv *env, const char *str);

/* jstr's default-charset bytes plus a zero byte; caller frees; on null the JVM's error may be pending. */
FSSTAT_EXPORT char *JNU_GetStringNativeChars(JNIEnv *env, jstring jstr);

/* jstr's ISO-8859-1 bytes plus a zero byte; caller frees; on null the JVM's error may be pending. */
FSSTAT_EXPORT char *JNU_GetStringISO8859_1Chars(JNIEnv *env, jstring jstr);

/* ---- Exception raising --------------------------------------------------- */

/* Pending: the named class (java.lang.Exception if not found) with szErrMsg in the default charset, or the JVM's error. */
FSSTAT_EXPORT void throwException(JNIEnv *env, char *szExceptionClassName, char *szErrMsg);

/* Pending: a java.io.IOException with szErrMsg in the default charset, or the JVM's error. */
FSSTAT_EXPORT void throwIOException(JNIEnv *env, char *szErrMsg);

/* Pending: a java.io.FileNotFoundException with szErrMsg in the default charset, or the JVM's error. */
FSSTAT_EXPORT void throwFileNotFoundException(JNIEnv *env, char *szErrMsg);

/* ---- File-name escape codec ---------------------------------------------- */

/* Length 1..3 of the accepted sequence at str, 0 if none; reads at most iStrLen bytes. Pending: none. */
FSSTAT_EXPORT int getUTF8StringLength(unsigned char *str, int iStrLen);
/* Escapes marks followed by a byte; null in single-byte mode or on failure. Caller frees. Pending: none. */
FSSTAT_EXPORT char *escapeEscapeChars(JNIEnv *env, char *szUTFPath);
/* Doubles every B6, in either mode; null on failure. Caller frees. Pending: none. */
FSSTAT_EXPORT char *escapeEscapeCharsNonUTF8(JNIEnv *env, char *szPath);
/* Escapes bytes that begin no accepted sequence; null on failure. Caller frees. Pending: OutOfMemoryError. */
FSSTAT_EXPORT char *escapeUTFString(JNIEnv *env, char *szUTFPath);
/* Undoes the UTF-8 escapes (isUTFPath) or the doubled B6; null on failure. Caller frees. Pending: OutOfMemoryError. */
FSSTAT_EXPORT char *unescapeString(JNIEnv *env, char *szPath, int isUTFPath);
/* unescapeString with isUTFPath = IS_UTF8_DEFAULT_CHARSET. Caller frees. Pending: OutOfMemoryError. */
FSSTAT_EXPORT char *unescapeNativeString(JNIEnv *env, char *szUTFPath);

/* ---- Stat wrappers ------------------------------------------------------- */

/* stat(acPath) into the caller's record; pending on failure with iThrowExpt: a java.io.IOException, or the JVM's error. */
FSSTAT_EXPORT int getStat(JNIEnv *env, const char *acPath, struct stat *pStatbuf, int iThrowExpt);

/* lstat(acPath) into the caller's record; pending on failure with iThrowExpt: a java.io.IOException, or the JVM's error. */
FSSTAT_EXPORT int getLstat(JNIEnv *env, const char *acPath, struct stat *pStatbuf, int iThrowExpt);

/* fstatat via syscall number iSyscall; pending on failure with iThrowExpt: a java.io.IOException, or the JVM's error. */
FSSTAT_EXPORT int getFstatat(JNIEnv *env, int dirfd, const char *acName, struct stat *pStatbuf, int flags,
                             int iThrowExpt, int iSyscall);

/* 0 and *pszLinkTarget set to the link's target (caller frees), or -1 with *pszLinkTarget untouched; no JNI. */
FSSTAT_EXPORT int readLinkTarget(const char *szFilePath, char **pszLinkTarget);

/* ---- Path bridging ------------------------------------------------------- */

/* A file name from disk as a Java string: by the default charset when its
 * bytes survive it, else escaped (UTF-8 mode), else as ISO-8859-1. Null only
 * when no route gave a string. Caller deletes the local reference.
 * Pending on null: the JVM's error from the last attempt. */
FSSTAT_EXPORT jstring getJavaFilePath(JNIEnv *env, char *szNativeFilePath);

/* A path from Java as the bytes of an existing file: the unescaped default
 * charset bytes if they name one, else the ISO-8859-1 bytes if those do, else
 * the former. Null when the string cannot be converted. Caller frees.
 * Pending on null: the JVM's error from the conversion. */
FSSTAT_EXPORT char *getNativeFilePath(JNIEnv *env, jstring jsFilePath);

/* ---- Raw file access ----------------------------------------------------- */

/* A new read-only descriptor for fname (caller closes it with closeFile), or -1 with errno; no JNI. */
FSSTAT_EXPORT int openFile(const char *fname);

/* close(iFileDescriptor): 0, or -1 with errno; no JNI. */
FSSTAT_EXPORT int closeFile(int iFileDescriptor);

/* read into the caller's buf: bytes read, 0 at end of file, or -1 with errno; no JNI. */
FSSTAT_EXPORT int readFile(int iFileDescriptor, char *buf, size_t nbyte);

/* Moves the position by offset and returns the distance moved; a failed move prints one line; no JNI. */
FSSTAT_EXPORT off_t skipFile(int iFileDescriptor, off_t offset);

/* ---- Folder iteration (native methods of FolderIteratorNix) -------------- */

/* Opens jsPath, delivers its first entry into jChildFile through setBasic and
 * returns the search handle; -1 when nothing was delivered and nothing is open.
 * The caller closes a handle with closeSearchHandleN exactly once.
 * Pending: the lookup error of setBasic (with -1), or what setBasic threw. */
JNIEXPORT jlong JNICALL
Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(JNIEnv *env, jobject jobj, jstring jsPath, jobject jChildFile);

/* Delivers the handle's next entry: 1; 0 at the end; 255 when setBasic cannot
 * be resolved. Pending: the lookup error (with 255), or what setBasic threw. */
JNIEXPORT jboolean JNICALL
Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(JNIEnv *env, jobject jobj, jlong jlHandle, jstring jsListDir,
                                                         jobject jChildFile);

/* Closes the handle's directory stream. Pending: nothing. */
JNIEXPORT void JNICALL
Java_com_durvo_ufe_fsutil_FolderIteratorNix_closeSearchHandleN(JNIEnv *env, jobject jobj, jlong jlHandle);

#ifdef __cplusplus
}
#endif

#endif /* FSSTAT_JNIUTIL_H */
