// The natives of class Natives that read and change attributes: statx with
// the birth time where the file system keeps one, times, permissions and
// owners, file-system figures, extended attributes, and the user and group
// databases.
#include "JniUtil.h"
#include "Internal.h"
#include "com_durvo_ufe_fsutil_internal_natives_NativeConstants.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

using fsstat::MallocPtr;

namespace {

constexpr jint kCwd = com_durvo_ufe_fsutil_internal_natives_NativeConstants_CWD;
int dirOf(jint dfd) { return dfd == kCwd ? AT_FDCWD : dfd; }

// fillStat's sixteen values, then the birth time's seconds and nanoseconds
// and 1 when the file system gave one.
constexpr int kStatxLongs = com_durvo_ufe_fsutil_internal_natives_NativeConstants_STATX_LONGS;
constexpr int kBtimeKnown = com_durvo_ufe_fsutil_internal_natives_NativeConstants_BTIME_KNOWN;
static_assert(kStatxLongs == fsstat::kStatLongs + 3 && kBtimeKnown == kStatxLongs - 1,
              "Natives.STATX_LONGS: the stat values, the birth time, then whether it is known");

// An empty path with a descriptor examines the open file itself.
void JNICALL stat0(JNIEnv *env, jclass, jint dfd, jbyteArray jPath, jboolean jFollow, jlongArray jOut) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (!szPath) return;
    int flags = jFollow ? 0 : AT_SYMLINK_NOFOLLOW;
    if (szPath.get()[0] == '\0' && dfd != kCwd) flags |= AT_EMPTY_PATH;
    struct statx stx;
    if (statx(dirOf(dfd), szPath.get(), flags, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) {
        fsstat::throwErrno(env, errno);
        return;
    }
    jlong values[kStatxLongs];
    fsstat::fillStatx(values, stx);
    values[kBtimeKnown] = (stx.stx_mask & STATX_BTIME) != 0 ? 1 : 0;
    env->SetLongArrayRegion(jOut, 0, kStatxLongs, values);
}

// times: access seconds, nanoseconds, modification seconds, nanoseconds; a
// nanosecond value of -1 leaves that time as it is.
void timesOf(JNIEnv *env, jlongArray jTimes, struct timespec ts[2]) {
    jlong t[4];
    env->GetLongArrayRegion(jTimes, 0, 4, t);
    for (int i = 0; i < 2; i++) {
        ts[i].tv_sec = static_cast<time_t>(t[2 * i]);
        ts[i].tv_nsec = t[2 * i + 1] < 0 ? UTIME_OMIT : static_cast<long>(t[2 * i + 1]);
    }
}

void JNICALL utimens0(JNIEnv *env, jclass, jint dfd, jbyteArray jPath, jlongArray jTimes, jboolean jFollow) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (!szPath) return;
    struct timespec ts[2];
    timesOf(env, jTimes, ts);
    if (utimensat(dirOf(dfd), szPath.get(), ts, jFollow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) fsstat::throwErrno(env, errno);
}

void JNICALL futimens0(JNIEnv *env, jclass, jint fd, jlongArray jTimes) {
    struct timespec ts[2];
    timesOf(env, jTimes, ts);
    if (futimens(fd, ts) != 0) fsstat::throwErrno(env, errno);
}

// fchmodat(dfd, path, mode, AT_SYMLINK_NOFOLLOW), which kernels before 6.6
// refuse: the file is opened O_PATH without following, refused if it is a
// link (ELOOP, an open's answer with O_NOFOLLOW, as a link has no mode of its
// own), and changed through its /proc/self/fd entry, which leads to that very
// file whatever its name leads to by now. Without /proc (or O_PATH) it is
// opened for reading, never through a link, and changed with fchmod. 0, or -1
// with errno set.
int chmodNoFollow(int dfd, const char *szPath, mode_t mode) {
#ifdef O_PATH
    const int fd = openat(dfd, szPath, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    // fstatat with an empty path: fstat refuses O_PATH descriptors before Linux 3.6.
    int iErr = fstatat(fd, "", &st, AT_EMPTY_PATH) != 0 ? errno : 0;
    if (iErr == 0 && S_ISLNK(st.st_mode)) iErr = ELOOP;
    if (iErr == 0) {
        char szProc[32];  // "/proc/self/fd/" and any int fit
        std::snprintf(szProc, sizeof szProc, "/proc/self/fd/%d", fd);
        iErr = chmod(szProc, mode) != 0 ? errno : 0;
    }
    close(fd);
    if (iErr != ENOENT) {  // ENOENT: the file was there a moment ago, so /proc is not
        errno = iErr;
        return iErr == 0 ? 0 : -1;
    }
#endif
    const int rfd = openat(dfd, szPath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (rfd < 0) return -1;
    const int iStatus = fchmod(rfd, mode);
    const int iChmodErr = errno;
    close(rfd);
    errno = iChmodErr;
    return iStatus;
}

void JNICALL chmod0(JNIEnv *env, jclass, jint dfd, jbyteArray jPath, jint mode, jboolean jFollow) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (!szPath) return;
    const auto bits = static_cast<mode_t>(mode);
    if ((jFollow ? fchmodat(dirOf(dfd), szPath.get(), bits, 0) : chmodNoFollow(dirOf(dfd), szPath.get(), bits)) != 0) {
        fsstat::throwErrno(env, errno);
    }
}

void JNICALL fchmod0(JNIEnv *env, jclass, jint fd, jint mode) {
    if (fchmod(fd, static_cast<mode_t>(mode)) != 0) fsstat::throwErrno(env, errno);
}

// An id of -1 leaves that owner as it is.
void JNICALL chown0(JNIEnv *env, jclass, jint dfd, jbyteArray jPath, jint uid, jint gid, jboolean jFollow) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (szPath && fchownat(dirOf(dfd), szPath.get(), static_cast<uid_t>(uid), static_cast<gid_t>(gid),
                           jFollow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        fsstat::throwErrno(env, errno);
    }
}

void JNICALL fchown0(JNIEnv *env, jclass, jint fd, jint uid, jint gid) {
    if (fchown(fd, static_cast<uid_t>(uid), static_cast<gid_t>(gid)) != 0) fsstat::throwErrno(env, errno);
}

// The eleven figures in FileSysStatUnix's order.
void JNICALL statvfs0(JNIEnv *env, jclass, jbyteArray jPath, jlongArray jOut) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (szPath) fsstat::statvfsInto(env, szPath.get(), jOut);
}

// Extended attributes are reached through a descriptor the caller opened, as
// the default provider reaches them. A value or list may grow between asking
// its size and reading it: the read then fails with ERANGE and both are asked
// again (a few rounds: another process that keeps it growing wins).
template <typename Read>
jbyteArray readWhole(JNIEnv *env, Read read) {
    int iErr = ERANGE;
    for (int i = 0; i < 8 && iErr == ERANGE; i++) {
        ssize_t n = read(nullptr, 0);
        iErr = n < 0 ? errno : 0;
        if (iErr != 0) break;
        std::vector<char> buf(static_cast<size_t>(n));
        if (n > 0) {
            n = read(buf.data(), buf.size());
            iErr = n < 0 ? errno : 0;
        }
        if (iErr == 0) {
            jbyteArray jBytes = env->NewByteArray(static_cast<jsize>(n));
            if (jBytes != nullptr) {
                env->SetByteArrayRegion(jBytes, 0, static_cast<jsize>(n), reinterpret_cast<const jbyte *>(buf.data()));
            }
            return jBytes;
        }
    }
    fsstat::throwErrno(env, iErr);
    return nullptr;
}

jbyteArray JNICALL getxattr0(JNIEnv *env, jclass, jint fd, jbyteArray jName) {
    MallocPtr szName(fsstat::pathFromBytes(env, jName));
    if (!szName) return nullptr;
    return readWhole(env, [&](char *buf, size_t n) { return fgetxattr(fd, szName.get(), buf, n); });
}

jbyteArray JNICALL listxattr0(JNIEnv *env, jclass, jint fd) {
    return readWhole(env, [&](char *buf, size_t n) { return flistxattr(fd, buf, n); });
}

void JNICALL setxattr0(JNIEnv *env, jclass, jint fd, jbyteArray jName, jbyteArray jValue) {
    MallocPtr szName(fsstat::pathFromBytes(env, jName));
    if (!szName) return;
    std::vector<char> value(static_cast<size_t>(env->GetArrayLength(jValue)));
    env->GetByteArrayRegion(jValue, 0, static_cast<jsize>(value.size()), reinterpret_cast<jbyte *>(value.data()));
    if (fsetxattr(fd, szName.get(), value.data(), value.size(), 0) != 0) fsstat::throwErrno(env, errno);
}

void JNICALL removexattr0(JNIEnv *env, jclass, jint fd, jbyteArray jName) {
    MallocPtr szName(fsstat::pathFromBytes(env, jName));
    if (szName && fremovexattr(fd, szName.get()) != 0) fsstat::throwErrno(env, errno);
}

// The database routines' buffers grow until the entry fits.
template <typename Lookup>
int lookupWithBuffer(Lookup lookup) {
    for (size_t iSize = 1024; iSize <= (1u << 20); iSize *= 4) {
        std::vector<char> buf(iSize);
        const int iErr = lookup(buf.data(), buf.size());
        if (iErr != ERANGE) return iErr;
    }
    return ERANGE;
}

// A user's or group's id by name; -1 when there is none.
jint JNICALL userId0(JNIEnv *env, jclass, jbyteArray jName, jboolean jGroup) {
    MallocPtr szName(fsstat::pathFromBytes(env, jName));
    if (!szName) return -1;
    jint id = -1;
    const int iErr = lookupWithBuffer([&](char *buf, size_t n) {
        if (jGroup) {
            struct group gr, *found = nullptr;
            const int e = getgrnam_r(szName.get(), &gr, buf, n, &found);
            if (e == 0 && found != nullptr) id = static_cast<jint>(found->gr_gid);
            return e;
        }
        struct passwd pw, *found = nullptr;
        const int e = getpwnam_r(szName.get(), &pw, buf, n, &found);
        if (e == 0 && found != nullptr) id = static_cast<jint>(found->pw_uid);
        return e;
    });
    if (iErr != 0 && iErr != ENOENT && iErr != ESRCH) fsstat::throwErrno(env, iErr);
    return id;
}

// A user's or group's name by id; null when there is none.
jbyteArray JNICALL userName0(JNIEnv *env, jclass, jint id, jboolean jGroup) {
    jbyteArray jName = nullptr;
    const int iErr = lookupWithBuffer([&](char *buf, size_t n) {
        if (jGroup) {
            struct group gr, *found = nullptr;
            const int e = getgrgid_r(static_cast<gid_t>(id), &gr, buf, n, &found);
            if (e == 0 && found != nullptr) jName = fsstat::bytesFromPath(env, found->gr_name);
            return e;
        }
        struct passwd pw, *found = nullptr;
        const int e = getpwuid_r(static_cast<uid_t>(id), &pw, buf, n, &found);
        if (e == 0 && found != nullptr) jName = fsstat::bytesFromPath(env, found->pw_name);
        return e;
    });
    if (iErr != 0 && iErr != ENOENT && iErr != ESRCH && !env->ExceptionCheck()) fsstat::throwErrno(env, iErr);
    return jName;
}

const JNINativeMethod kMethods[] = {
    fsstat::nativeMethod("stat", "(I[BZ[J)V", reinterpret_cast<void *>(stat0)),
    fsstat::nativeMethod("utimens", "(I[B[JZ)V", reinterpret_cast<void *>(utimens0)),
    fsstat::nativeMethod("futimens", "(I[J)V", reinterpret_cast<void *>(futimens0)),
    fsstat::nativeMethod("chmod", "(I[BIZ)V", reinterpret_cast<void *>(chmod0)),
    fsstat::nativeMethod("fchmod", "(II)V", reinterpret_cast<void *>(fchmod0)),
    fsstat::nativeMethod("chown", "(I[BIIZ)V", reinterpret_cast<void *>(chown0)),
    fsstat::nativeMethod("fchown", "(III)V", reinterpret_cast<void *>(fchown0)),
    fsstat::nativeMethod("statvfs", "([B[J)V", reinterpret_cast<void *>(statvfs0)),
    fsstat::nativeMethod("getxattr", "(I[B)[B", reinterpret_cast<void *>(getxattr0)),
    fsstat::nativeMethod("listxattr", "(I)[B", reinterpret_cast<void *>(listxattr0)),
    fsstat::nativeMethod("setxattr", "(I[B[B)V", reinterpret_cast<void *>(setxattr0)),
    fsstat::nativeMethod("removexattr", "(I[B)V", reinterpret_cast<void *>(removexattr0)),
    fsstat::nativeMethod("userId", "([BZ)I", reinterpret_cast<void *>(userId0)),
    fsstat::nativeMethod("userName", "(IZ)[B", reinterpret_cast<void *>(userName0)),
};

} // namespace

namespace fsstat {

bool registerAttrNatives(JNIEnv *env, jclass jcls) {
    return fsstat::registerNatives(env, jcls, kMethods);
}

} // namespace fsstat
