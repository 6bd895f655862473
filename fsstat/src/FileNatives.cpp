// The natives of the Java API that reach single files (class Natives): read
// through the library's descriptor routines, stat and lstat through its stat
// wrappers, link targets through readLinkTarget. Paths arrive as their exact
// bytes; the Java side turns a library string into them first.
#include "JniUtil.h"
#include "Internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

using fsstat::MallocPtr;

namespace {

// The most one read copies; a larger request reads this much and the caller asks again.
constexpr size_t kMaxRead = 1 << 20;

jint jniOpenRead(JNIEnv *env, jclass, jbyteArray jPath,
                                                                  jlongArray jStat) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (!szPath) return -1;
    int fd;
    do {
        fd = openFile(szPath.get());
    } while (fd < 0 && errno == EINTR);  // a FIFO waits for its writer, and a signal can end the wait
    if (fd < 0) {
        fsstat::throwErrno(env, errno);
        return -1;
    }
    struct stat st;
    int iErr = fstat(fd, &st) != 0 ? errno : 0;
    // A directory opens, but every read of it fails: refuse it now, as java.io does.
    if (iErr == 0 && S_ISDIR(st.st_mode)) iErr = EISDIR;
    if (iErr != 0) {
        closeFile(fd);
        fsstat::throwErrno(env, iErr);
        return -1;
    }
    jlong values[fsstat::kStatLongs];
    fsstat::fillStat(values, st);
    env->SetLongArrayRegion(jStat, 0, fsstat::kStatLongs, values);
    return fd;
}

jint jniRead(JNIEnv *env, jclass, jint fd, jbyteArray jBuf,
                                                              jint off, jint len) {
    char acSmall[8192];
    MallocPtr acLarge;
    char *buf = acSmall;
    size_t n = std::min(static_cast<size_t>(len), sizeof acSmall);
    if (static_cast<size_t>(len) > sizeof acSmall) {
        const size_t iWant = std::min(static_cast<size_t>(len), kMaxRead);
        acLarge.reset(static_cast<char *>(std::malloc(iWant)));
        if (acLarge) {  // without the memory, the small buffer still makes progress
            buf = acLarge.get();
            n = iWant;
        }
    }
    int iGot;
    do {
        iGot = readFile(fd, buf, n);
    } while (iGot < 0 && errno == EINTR);
    if (iGot < 0) {
        fsstat::throwErrno(env, errno);
        return -1;
    }
    if (iGot == 0) return -1;
    env->SetByteArrayRegion(jBuf, off, iGot, reinterpret_cast<const jbyte *>(buf));
    return iGot;
}

jlong jniSkip(JNIEnv *, jclass, jint fd, jlong n) {
    return static_cast<jlong>(skipFile(fd, static_cast<off_t>(n)));
}

jlong jniRemaining(JNIEnv *env, jclass, jint fd) {
    struct stat st;
    const off_t offPos = fstat(fd, &st) == 0 ? lseek(fd, 0, SEEK_CUR) : -1;
    if (offPos < 0) {
        fsstat::throwErrno(env, errno);
        return 0;
    }
    return offPos < st.st_size ? static_cast<jlong>(st.st_size - offPos) : 0;
}

void jniCloseRead(JNIEnv *, jclass, jint fd) {
    // The descriptor is gone whatever close answers, and nothing written can be lost on a read-only one.
    closeFile(fd);
}

jbyteArray jniReadLink(JNIEnv *env, jclass, jbyteArray jPath) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (!szPath) return nullptr;
    char *szTarget = nullptr;
    if (readLinkTarget(szPath.get(), &szTarget) != 0) {
        fsstat::throwErrno(env, errno);
        return nullptr;
    }
    MallocPtr target(szTarget);
    return fsstat::bytesFromPath(env, target.get());
}

// Signatures as Natives declares them.
const JNINativeMethod kMethods[] = {
    fsstat::nativeMethod("openRead", "([B[J)I", reinterpret_cast<void *>(jniOpenRead)),
    fsstat::nativeMethod("read", "(I[BII)I", reinterpret_cast<void *>(jniRead)),
    fsstat::nativeMethod("skip", "(IJ)J", reinterpret_cast<void *>(jniSkip)),
    fsstat::nativeMethod("remaining", "(I)J", reinterpret_cast<void *>(jniRemaining)),
    fsstat::nativeMethod("closeRead", "(I)V", reinterpret_cast<void *>(jniCloseRead)),
    fsstat::nativeMethod("readLink", "([B)[B", reinterpret_cast<void *>(jniReadLink)),
};

} // namespace

bool fsstat::registerFileNatives(JNIEnv *env, jclass jcls) {
    return fsstat::registerNatives(env, jcls, kMethods);
}
