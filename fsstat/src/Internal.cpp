// The pieces the natives share (see Internal.h): stat values into longs,
// errno values into NativeErrno, Java byte[] paths into C strings and back.
#include "JniUtil.h"
#include "Internal.h"
#include "com_durvo_ufe_fsutil_internal_natives_NativeConstants.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// NativeErrno(int errno, String text), looked up once by initErrnoClass.
jclass gErrnoClass = nullptr;
jmethodID gErrnoCtor = nullptr;

// The errno values NativeErrno tells apart, as <errno.h> has them.
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_EPERM == EPERM, "NativeConstants.EPERM");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_ENOENT == ENOENT, "NativeConstants.ENOENT");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_EACCES == EACCES, "NativeConstants.EACCES");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_EEXIST == EEXIST, "NativeConstants.EEXIST");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_EXDEV == EXDEV, "NativeConstants.EXDEV");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_ENOTDIR == ENOTDIR, "NativeConstants.ENOTDIR");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_EINVAL == EINVAL, "NativeConstants.EINVAL");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_ENOTEMPTY == ENOTEMPTY, "NativeConstants.ENOTEMPTY");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_ELOOP == ELOOP, "NativeConstants.ELOOP");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_ENODATA == ENODATA, "NativeConstants.ENODATA");

} // namespace

namespace fsstat {

void initErrnoClass(JNIEnv *env) {
    LocalRef<jclass> jcls(env, env->FindClass("com/durvo/ufe/fsutil/internal/natives/NativeErrno"));
    if (!jcls) return;
    gErrnoCtor = env->GetMethodID(jcls.get(), "<init>", "(ILjava/lang/String;)V");
    if (gErrnoCtor == nullptr) return;
    gErrnoClass = static_cast<jclass>(env->NewGlobalRef(jcls.get()));
}

void fillStat(jlong *out, const struct stat &st) {
    out[0] = widen(st.st_dev);
    out[1] = widen(st.st_ino);
    out[2] = widen(st.st_mode);
    out[3] = widen(st.st_nlink);
    out[4] = widen(st.st_uid);
    out[5] = widen(st.st_gid);
    out[6] = widen(st.st_rdev);
    out[7] = widen(st.st_size);
    out[8] = widen(st.st_blksize);
    out[9] = widen(st.st_blocks);
    out[10] = widen(st.st_atim.tv_sec);
    out[11] = widen(st.st_atim.tv_nsec);
    out[12] = widen(st.st_mtim.tv_sec);
    out[13] = widen(st.st_mtim.tv_nsec);
    out[14] = widen(st.st_ctim.tv_sec);
    out[15] = widen(st.st_ctim.tv_nsec);
}

void fillStatx(jlong *out, const struct statx &stx) {
    out[0] = static_cast<jlong>(makedev(stx.stx_dev_major, stx.stx_dev_minor));
    out[1] = widen(stx.stx_ino);
    out[2] = widen(stx.stx_mode);
    out[3] = widen(stx.stx_nlink);
    out[4] = widen(stx.stx_uid);
    out[5] = widen(stx.stx_gid);
    out[6] = static_cast<jlong>(makedev(stx.stx_rdev_major, stx.stx_rdev_minor));
    out[7] = widen(stx.stx_size);
    out[8] = widen(stx.stx_blksize);
    out[9] = widen(stx.stx_blocks);
    const struct statx_timestamp *times[] = {&stx.stx_atime, &stx.stx_mtime, &stx.stx_ctime, &stx.stx_btime};
    for (int i = 0; i < 4; i++) {
        out[10 + 2 * i] = widen(times[i]->tv_sec);
        out[11 + 2 * i] = widen(times[i]->tv_nsec);
    }
}

void statvfsInto(JNIEnv *env, const char *szPath, jlongArray jOut) {
    struct statvfs st;
    if (statvfs(szPath, &st) != 0) {
        throwErrno(env, errno);
        return;
    }
    const jlong values[] = {widen(st.f_bsize), widen(st.f_frsize), widen(st.f_blocks), widen(st.f_bfree),
                            widen(st.f_bavail), widen(st.f_files), widen(st.f_ffree), widen(st.f_favail),
                            widen(st.f_fsid), widen(st.f_flag), widen(st.f_namemax)};
    env->SetLongArrayRegion(jOut, 0, static_cast<jsize>(sizeof values / sizeof values[0]), values);
}

jthrowable errnoObject(JNIEnv *env, int iErr) {
    LocalRef<jstring> jsText(env, env->NewStringUTF(std::strerror(iErr)));
    if (!jsText) return nullptr;  // out of memory is pending
    return static_cast<jthrowable>(
        env->NewObject(gErrnoClass, gErrnoCtor, static_cast<jint>(iErr), jsText.get()));
}

void throwErrno(JNIEnv *env, int iErr) {
    LocalRef<jthrowable> jExc(env, errnoObject(env, iErr));
    if (!jExc) return;
    env->Throw(jExc.get());
}

void throwOutOfMemory(JNIEnv *env) {
    LocalRef<jclass> jcls(env, env->FindClass("java/lang/OutOfMemoryError"));
    if (jcls) env->ThrowNew(jcls.get(), "no memory for a path");  // else FindClass's own error is pending
}

MallocPtr pathFromBytes(JNIEnv *env, jbyteArray jPath) {
    const jsize n = env->GetArrayLength(jPath);
    MallocPtr szPath(static_cast<char *>(std::malloc(static_cast<size_t>(n) + 1)));
    if (!szPath) {
        throwOutOfMemory(env);
        return nullptr;
    }
    env->GetByteArrayRegion(jPath, 0, n, reinterpret_cast<jbyte *>(szPath.get()));
    szPath.get()[n] = '\0';
    return szPath;
}

jbyteArray bytesFromPath(JNIEnv *env, const char *szPath) {
    const jsize n = static_cast<jsize>(std::strlen(szPath));
    jbyteArray jBytes = env->NewByteArray(n);
    if (jBytes == nullptr) return nullptr;
    env->SetByteArrayRegion(jBytes, 0, n, reinterpret_cast<const jbyte *>(szPath));
    return jBytes;
}

} // namespace fsstat
