// The natives of class Natives under the fsstat: watch service: an inotify
// instance, its watches, and an eventfd that wakes the thread waiting on it.
// The events reach Java as the raw bytes that read(2) gives.
#include "JniUtil.h"
#include "Internal.h"
#include "com_durvo_ufe_fsutil_internal_natives_NativeConstants.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

using fsstat::MallocPtr;

namespace {

// The masks the Java side reads events with are the kernel's own.
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_MODIFY == IN_MODIFY &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_ATTRIB == IN_ATTRIB &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_MOVED_FROM == IN_MOVED_FROM &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_MOVED_TO == IN_MOVED_TO &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_CREATE == IN_CREATE &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_DELETE == IN_DELETE &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_ONLYDIR == IN_ONLYDIR &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_Q_OVERFLOW == IN_Q_OVERFLOW &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_IGNORED == IN_IGNORED &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_CLOSE_WRITE == IN_CLOSE_WRITE &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_DELETE_SELF == IN_DELETE_SELF &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_MOVE_SELF == IN_MOVE_SELF &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_UNMOUNT == IN_UNMOUNT &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_DONT_FOLLOW == IN_DONT_FOLLOW &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_EXCL_UNLINK == IN_EXCL_UNLINK &&
              com_durvo_ufe_fsutil_internal_natives_NativeConstants_IN_ISDIR == IN_ISDIR,
              "NativeConstants' inotify masks");
static_assert(sizeof(struct inotify_event) == 16, "the event header Natives.inotifyRead's callers parse");

jint JNICALL inotifyInit0(JNIEnv *env, jclass) {
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) fsstat::throwErrno(env, errno);
    return fd;
}

jint JNICALL eventFd0(JNIEnv *env, jclass) {
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) fsstat::throwErrno(env, errno);
    return fd;
}

// One more on the counter makes the descriptor readable; only an overflow of
// the counter could fail it, which a write of one per close never reaches.
void JNICALL wake0(JNIEnv *, jclass, jint fd) {
    const std::uint64_t one = 1;
    ssize_t n;
    do {
        n = write(fd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

jint JNICALL inotifyAdd0(JNIEnv *env, jclass, jint fd, jbyteArray jPath, jint mask) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (!szPath) return -1;
    const int wd = inotify_add_watch(fd, szPath.get(), static_cast<uint32_t>(mask));
    if (wd < 0) fsstat::throwErrno(env, errno);
    return wd;
}

// EINVAL means the kernel has dropped the watch already (its file is gone):
// what the caller wanted.
void JNICALL inotifyRemove0(JNIEnv *, jclass, jint fd, jint wd) { inotify_rm_watch(fd, wd); }

// Room for many events at once; a single one needs at most 16 + NAME_MAX + 1 bytes.
constexpr size_t kReadBytes = 8192;

// Waits for events or a wake; -1 once woken, else the bytes of whole events
// read into jBuf (0 when there was nothing to read after all).
jint JNICALL inotifyRead0(JNIEnv *env, jclass, jint fd, jint wakeFd, jbyteArray jBuf) {
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int iReady;
    do {
        iReady = poll(fds, 2, -1);
    } while (iReady < 0 && errno == EINTR);
    if (iReady < 0) {
        fsstat::throwErrno(env, errno);
        return -1;
    }
    if (fds[1].revents != 0) return -1;
    jbyte buf[kReadBytes];
    const auto iRoom = std::min(kReadBytes, static_cast<size_t>(env->GetArrayLength(jBuf)));
    ssize_t n;
    do {
        n = read(fd, buf, iRoom);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno == EAGAIN) return 0;
    if (n < 0) {
        fsstat::throwErrno(env, errno);
        return -1;
    }
    env->SetByteArrayRegion(jBuf, 0, static_cast<jsize>(n), buf);
    return static_cast<jint>(n);
}

const JNINativeMethod kMethods[] = {
    fsstat::nativeMethod("inotifyInit", "()I", reinterpret_cast<void *>(inotifyInit0)),
    fsstat::nativeMethod("eventFd", "()I", reinterpret_cast<void *>(eventFd0)),
    fsstat::nativeMethod("wake", "(I)V", reinterpret_cast<void *>(wake0)),
    fsstat::nativeMethod("inotifyAdd", "(I[BI)I", reinterpret_cast<void *>(inotifyAdd0)),
    fsstat::nativeMethod("inotifyRemove", "(II)V", reinterpret_cast<void *>(inotifyRemove0)),
    fsstat::nativeMethod("inotifyRead", "(II[B)I", reinterpret_cast<void *>(inotifyRead0)),
};

} // namespace

namespace fsstat {

bool registerWatchNatives(JNIEnv *env, jclass jcls) {
    return fsstat::registerNatives(env, jcls, kMethods);
}

} // namespace fsstat
