// Private to the library: pieces that more than one source file needs.
#ifndef FSSTAT_INTERNAL_H
#define FSSTAT_INTERNAL_H

#include "Guards.h"
#include "com_durvo_ufe_fsutil_internal_natives_NativeConstants.h"

#include <jni.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace fsstat {

// An unsigned field is zero-extended to 64 bits and a signed one sign-extended;
// a 64-bit field passes bit for bit (unsigned 2^63 and above arrive negative).
template <typename T>
jlong widen(T value) {
    static_assert(std::is_integral_v<T>, "stat fields are integers");
    if constexpr (std::is_unsigned_v<T>) {
        return static_cast<jlong>(static_cast<std::uint64_t>(value));
    } else {
        return static_cast<jlong>(value);
    }
}

// How many longs fillStat writes: the thirteen lstat values in setBasic's
// order, with the nanoseconds of atime, mtime and ctime after their seconds.
constexpr int kStatLongs = com_durvo_ufe_fsutil_internal_natives_NativeConstants_STAT_LONGS;
void fillStat(jlong *out, const struct stat &st);

// fillStat's values from statx, then the creation time's seconds and
// nanoseconds: kStatLongs + 2 longs.
void fillStatx(jlong *out, const struct statx &stx);

// Looks up NativeErrno's class and constructor once, for errnoObject; the
// JVM's error pending when the class or constructor is missing.
void initErrnoClass(JNIEnv *env);

// Leaves a NativeErrno pending for iErr (what the Java side turns into the
// java.nio.file exception that fits, naming the path).
void throwErrno(JNIEnv *env, int iErr);

// The eleven statvfs figures of szPath into jOut, in FileSysStatUnix's order;
// NativeErrno pending on failure.
void statvfsInto(JNIEnv *env, const char *szPath, jlongArray jOut);

// The NativeErrno for iErr, not thrown; null with the JVM's error pending.
jthrowable errnoObject(JNIEnv *env, int iErr);

// Leaves an OutOfMemoryError pending: what a native raises when malloc fails.
void throwOutOfMemory(JNIEnv *env);

// A Java byte[] path as a NUL-terminated malloc buffer; null with an
// OutOfMemoryError pending when there is no memory for it.
MallocPtr pathFromBytes(JNIEnv *env, jbyteArray jPath);

// The reverse: a NUL-terminated string's bytes as a new Java byte[]; null with
// the JVM's error pending when it has no room.
jbyteArray bytesFromPath(JNIEnv *env, const char *szPath);

// One row of a registration table: the Java method's name and signature as
// Natives declares it, and the function that implements it.
inline JNINativeMethod nativeMethod(const char *szName, const char *szSignature, void *fn) {
    return {const_cast<char *>(szName), const_cast<char *>(szSignature), fn};
}

// Registers a table's natives on jcls; false with the JVM's error pending when
// one of them does not match the class.
template <std::size_t N>
bool registerNatives(JNIEnv *env, jclass jcls, const JNINativeMethod (&table)[N]) {
    return env->RegisterNatives(jcls, table, static_cast<jint>(N)) == 0;
}

// Register the natives of Natives by area (ListNatives.cpp: listing and names;
// PathNatives.cpp: files and directories; AttrNatives.cpp: attributes;
// WatchNatives.cpp: inotify); false with the JVM's error pending when one of
// them does not match the class.
bool registerPathNatives(JNIEnv *env, jclass jcls);
bool registerAttrNatives(JNIEnv *env, jclass jcls);
bool registerWatchNatives(JNIEnv *env, jclass jcls);

} // namespace fsstat

#endif // FSSTAT_INTERNAL_H
