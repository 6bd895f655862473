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
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_ENOSPC == ENOSPC, "NativeConstants.ENOSPC");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_ENOTEMPTY == ENOTEMPTY, "NativeConstants.ENOTEMPTY");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_ELOOP == ELOOP, "NativeConstants.ELOOP");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_ENODATA == ENODATA, "NativeConstants.ENODATA");

// The file types of a mode, as <sys/stat.h> has them.
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_S_IFMT == S_IFMT, "NativeConstants.S_IFMT");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_S_IFSOCK == S_IFSOCK, "NativeConstants.S_IFSOCK");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_S_IFLNK == S_IFLNK, "NativeConstants.S_IFLNK");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_S_IFREG == S_IFREG, "NativeConstants.S_IFREG");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_S_IFBLK == S_IFBLK, "NativeConstants.S_IFBLK");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_S_IFDIR == S_IFDIR, "NativeConstants.S_IFDIR");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_S_IFCHR == S_IFCHR, "NativeConstants.S_IFCHR");
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_S_IFIFO == S_IFIFO, "NativeConstants.S_IFIFO");

// The slots of the stat values (see NativeConstants.java).
constexpr int kDev = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_DEV;
constexpr int kIno = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_INO;
constexpr int kMode = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_MODE;
constexpr int kNlink = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_NLINK;
constexpr int kUid = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_UID;
constexpr int kGid = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_GID;
constexpr int kRdev = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_RDEV;
constexpr int kSize = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_SIZE;
constexpr int kBlksize = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_BLKSIZE;
constexpr int kBlocks = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_BLOCKS;
constexpr int kAtime = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_ATIME;
constexpr int kAtimeNsec = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_ATIME_NSEC;
constexpr int kMtime = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_MTIME;
constexpr int kMtimeNsec = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_MTIME_NSEC;
constexpr int kCtime = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_CTIME;
constexpr int kCtimeNsec = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ST_CTIME_NSEC;
constexpr int kBtime = com_durvo_ufe_fsutil_internal_natives_NativeConstants_BTIME;
constexpr int kBtimeNsec = com_durvo_ufe_fsutil_internal_natives_NativeConstants_BTIME_NSEC;
static_assert(kCtimeNsec + 1 == fsstat::kStatLongs && kBtime == fsstat::kStatLongs,
              "the stat values fill STAT_LONGS, the birth time follows them");

void putTime(jlong *out, int iSec, int iNsec, const struct statx_timestamp &t) {
    out[iSec] = fsstat::widen(t.tv_sec);
    out[iNsec] = fsstat::widen(t.tv_nsec);
}

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
    out[kDev] = widen(st.st_dev);
    out[kIno] = widen(st.st_ino);
    out[kMode] = widen(st.st_mode);
    out[kNlink] = widen(st.st_nlink);
    out[kUid] = widen(st.st_uid);
    out[kGid] = widen(st.st_gid);
    out[kRdev] = widen(st.st_rdev);
    out[kSize] = widen(st.st_size);
    out[kBlksize] = widen(st.st_blksize);
    out[kBlocks] = widen(st.st_blocks);
    out[kAtime] = widen(st.st_atim.tv_sec);
    out[kAtimeNsec] = widen(st.st_atim.tv_nsec);
    out[kMtime] = widen(st.st_mtim.tv_sec);
    out[kMtimeNsec] = widen(st.st_mtim.tv_nsec);
    out[kCtime] = widen(st.st_ctim.tv_sec);
    out[kCtimeNsec] = widen(st.st_ctim.tv_nsec);
}

void fillStatx(jlong *out, const struct statx &stx) {
    out[kDev] = static_cast<jlong>(makedev(stx.stx_dev_major, stx.stx_dev_minor));
    out[kIno] = widen(stx.stx_ino);
    out[kMode] = widen(stx.stx_mode);
    out[kNlink] = widen(stx.stx_nlink);
    out[kUid] = widen(stx.stx_uid);
    out[kGid] = widen(stx.stx_gid);
    out[kRdev] = static_cast<jlong>(makedev(stx.stx_rdev_major, stx.stx_rdev_minor));
    out[kSize] = widen(stx.stx_size);
    out[kBlksize] = widen(stx.stx_blksize);
    out[kBlocks] = widen(stx.stx_blocks);
    putTime(out, kAtime, kAtimeNsec, stx.stx_atime);
    putTime(out, kMtime, kMtimeNsec, stx.stx_mtime);
    putTime(out, kCtime, kCtimeNsec, stx.stx_ctime);
    putTime(out, kBtime, kBtimeNsec, stx.stx_btime);
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
