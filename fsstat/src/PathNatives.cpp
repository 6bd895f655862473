// The natives of class Natives that create, open, remove, rename and link
// files: one system call each, paths as their exact bytes, failures as a
// pending NativeErrno. A directory descriptor argument of kCwd means the
// working directory, so the same natives serve paths and open directories.
#include "JniUtil.h"
#include "Internal.h"
#include "com_durvo_ufe_fsutil_internal_natives_NativeConstants.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sendfile.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>

using fsstat::MallocPtr;

namespace {

// The open options as Natives numbers them.
constexpr jint kRead = com_durvo_ufe_fsutil_internal_natives_NativeConstants_READ, kWrite = com_durvo_ufe_fsutil_internal_natives_NativeConstants_WRITE,
               kAppend = com_durvo_ufe_fsutil_internal_natives_NativeConstants_APPEND, kCreate = com_durvo_ufe_fsutil_internal_natives_NativeConstants_CREATE,
               kCreateNew = com_durvo_ufe_fsutil_internal_natives_NativeConstants_CREATE_NEW, kTruncate = com_durvo_ufe_fsutil_internal_natives_NativeConstants_TRUNCATE,
               kSync = com_durvo_ufe_fsutil_internal_natives_NativeConstants_SYNC, kDsync = com_durvo_ufe_fsutil_internal_natives_NativeConstants_DSYNC,
               kNoFollow = com_durvo_ufe_fsutil_internal_natives_NativeConstants_NOFOLLOW, kDirectory = com_durvo_ufe_fsutil_internal_natives_NativeConstants_DIRECTORY,
               kNonBlock = com_durvo_ufe_fsutil_internal_natives_NativeConstants_NONBLOCK, kReopen = com_durvo_ufe_fsutil_internal_natives_NativeConstants_REOPEN;
// The working directory in place of a directory descriptor.
constexpr jint kCwd = com_durvo_ufe_fsutil_internal_natives_NativeConstants_CWD;

int dirOf(jint dfd) { return dfd == kCwd ? AT_FDCWD : dfd; }

int openFlags(jint options) {
    int flags = O_CLOEXEC;
    const bool bRead = (options & kRead) != 0, bWrite = (options & (kWrite | kAppend)) != 0;
    flags |= bRead && bWrite ? O_RDWR : bWrite ? O_WRONLY : O_RDONLY;
    if (options & kAppend) flags |= O_APPEND;
    if (options & kTruncate) flags |= O_TRUNC;
    if (options & kSync) flags |= O_SYNC;
    if (options & kDsync) flags |= O_DSYNC;
    if (options & kNoFollow) flags |= O_NOFOLLOW;
    if (options & kDirectory) flags |= O_DIRECTORY;
    if (options & kNonBlock) flags |= O_NONBLOCK;
    return flags;
}

int openRetrying(int dfd, const char *szPath, int flags, mode_t mode) {
    int fd;
    do {
        fd = openat(dfd, szPath, flags, mode);
    } while (fd < 0 && errno == EINTR);  // a FIFO waits for its other end, and a signal can end the wait
    return fd;
}

// An existing file that the caller reopens through /proc/self/fd: a FIFO is
// opened O_PATH only, since the reopen is the open that must wait for the
// other end (an open here would wait, and the reopen would then wait again
// for a writer that has come and gone). Anything else is opened with flags.
int openToReopen(int dfd, const char *szPath, int flags) {
    const int probe = openat(dfd, szPath, O_PATH | O_CLOEXEC | (flags & (O_NOFOLLOW | O_DIRECTORY)));
    if (probe < 0) return -1;
    struct stat st;
    int iErr = fstat(probe, &st) != 0 ? errno : 0;
    if (iErr == 0 && S_ISLNK(st.st_mode)) iErr = ELOOP;  // O_PATH | O_NOFOLLOW opens a final link itself
    if (iErr == 0 && S_ISFIFO(st.st_mode)) return probe;
    close(probe);
    if (iErr != 0) {
        errno = iErr;
        return -1;
    }
    return openRetrying(dfd, szPath, flags, 0);
}

// Opens with Natives' options; the descriptor, with bit 32 set when this call
// created the file. With REOPEN, CREATE tries an exclusive create first so
// that the caller knows whether the mode it gave was applied (the reopen needs
// the file made with owner read and write).
jlong JNICALL open0(JNIEnv *env, jclass, jint dfd, jbyteArray jPath, jint options, jint mode) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (!szPath) return -1;
    const int flags = openFlags(options);
    const auto perms = static_cast<mode_t>(mode);
    int fd = -1;
    bool bCreated = false;
    if (options & kCreateNew) {
        fd = openRetrying(dirOf(dfd), szPath.get(), flags | O_CREAT | O_EXCL, perms);
        bCreated = fd >= 0;
    } else if (!(options & kReopen)) {
        fd = openRetrying(dirOf(dfd), szPath.get(), flags | (options & kCreate ? O_CREAT : 0), perms);
    } else if (options & kCreate) {
        // Another process may create or remove it in between: a few rounds settle that.
        for (int i = 0; i < 8 && fd < 0; i++) {
            fd = openRetrying(dirOf(dfd), szPath.get(), flags | O_CREAT | O_EXCL, perms);
            bCreated = fd >= 0;
            if (fd < 0 && errno == EEXIST) fd = openToReopen(dirOf(dfd), szPath.get(), flags);
            if (fd < 0 && errno == ENOENT) {
                // The name is a link to nothing (or just went): a plain create follows
                // the link and makes its target, as the JDK's open does.
                fd = openRetrying(dirOf(dfd), szPath.get(), flags | O_CREAT, perms);
                bCreated = fd >= 0;
            }
            if (fd < 0 && errno != ENOENT && errno != EEXIST) break;
        }
    } else {
        fd = openToReopen(dirOf(dfd), szPath.get(), flags);
    }
    if (fd < 0) {
        fsstat::throwErrno(env, errno);
        return -1;
    }
    return static_cast<jlong>(fd) | (bCreated ? jlong{1} << 32 : 0);
}

void JNICALL close0(JNIEnv *, jclass, jint fd) { close(fd); }

// The JDK makes its own FileChannel over a java.io.FileDescriptor with an
// internal factory, the one FileInputStream and RandomAccessFile use, whose
// parameters changed between releases: JDK 17 takes (fd, path, readable,
// writable, direct, parent), later releases a Closeable parent and then a
// sync flag before direct. Java calls it, and sets the descriptor's fd and
// append fields, through method handles: a JNI call into Java costs more than
// the open itself, and each JNI field access a transition into the VM.
//
// The factory and the two fields as reflected members made accessible (their
// override flag set, which only JNI can do here), for MethodHandles.Lookup's
// unreflect; null where this JVM has none of the factory's shapes above or a
// member is missing (the Java side then reaches open files through
// /proc/self/fd).
jobjectArray JNICALL channelFactory0(JNIEnv *env, jclass) {
    fsstat::LocalRef<jclass> jclsDescriptor(env, env->FindClass("java/io/FileDescriptor"));
    fsstat::LocalRef<jclass> jclsChannel(env, jclsDescriptor ? env->FindClass("sun/nio/ch/FileChannelImpl") : nullptr);
    fsstat::LocalRef<jclass> jclsAccessible(env, jclsChannel ? env->FindClass("java/lang/reflect/AccessibleObject")
                                                              : nullptr);
    jfieldID jfidFd = nullptr, jfidAppend = nullptr, jfidOverride = nullptr;
    if (jclsAccessible) jfidFd = env->GetFieldID(jclsDescriptor.get(), "fd", "I");
    if (jfidFd != nullptr) jfidAppend = env->GetFieldID(jclsDescriptor.get(), "append", "Z");
    if (jfidAppend != nullptr) jfidOverride = env->GetFieldID(jclsAccessible.get(), "override", "Z");
    const char *const sigs[] = {
        "(Ljava/io/FileDescriptor;Ljava/lang/String;ZZZZLjava/io/Closeable;)Ljava/nio/channels/FileChannel;",
        "(Ljava/io/FileDescriptor;Ljava/lang/String;ZZZLjava/io/Closeable;)Ljava/nio/channels/FileChannel;",
        "(Ljava/io/FileDescriptor;Ljava/lang/String;ZZZLjava/lang/Object;)Ljava/nio/channels/FileChannel;",
    };
    jmethodID jmidOpen = nullptr;
    for (const char *szSig : sigs) {
        env->ExceptionClear();  // a class or member missing: no factory
        if (jfidOverride == nullptr) break;
        jmidOpen = env->GetStaticMethodID(jclsChannel.get(), "open", szSig);
        if (jmidOpen != nullptr) break;
    }
    env->ExceptionClear();
    if (jmidOpen == nullptr) return nullptr;
    fsstat::LocalRef<jobjectArray> jMembers(env, env->NewObjectArray(3, jclsAccessible.get(), nullptr));
    if (!jMembers) return nullptr;
    fsstat::LocalRef<jobject> jOpen(env, env->ToReflectedMethod(jclsChannel.get(), jmidOpen, JNI_TRUE));
    fsstat::LocalRef<jobject> jFd(env, jOpen ? env->ToReflectedField(jclsDescriptor.get(), jfidFd, JNI_FALSE) : nullptr);
    fsstat::LocalRef<jobject> jAppend(env, jFd ? env->ToReflectedField(jclsDescriptor.get(), jfidAppend, JNI_FALSE)
                                              : nullptr);
    if (!jAppend) return nullptr;  // out of memory, pending
    const jobject members[] = {jOpen.get(), jFd.get(), jAppend.get()};
    for (jsize i = 0; i < 3; i++) {
        env->SetBooleanField(members[i], jfidOverride, JNI_TRUE);
        env->SetObjectArrayElement(jMembers.get(), i, members[i]);
    }
    return jMembers.release();
}

void JNICALL mkdir0(JNIEnv *env, jclass, jint dfd, jbyteArray jPath, jint mode) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (szPath && mkdirat(dirOf(dfd), szPath.get(), static_cast<mode_t>(mode)) != 0) fsstat::throwErrno(env, errno);
}

void JNICALL unlink0(JNIEnv *env, jclass, jint dfd, jbyteArray jPath, jboolean jDir) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (szPath && unlinkat(dirOf(dfd), szPath.get(), jDir ? AT_REMOVEDIR : 0) != 0) fsstat::throwErrno(env, errno);
}

void JNICALL symlink0(JNIEnv *env, jclass, jbyteArray jTarget, jint dfd, jbyteArray jLink) {
    MallocPtr szTarget(fsstat::pathFromBytes(env, jTarget));
    if (!szTarget) return;
    MallocPtr szLink(fsstat::pathFromBytes(env, jLink));
    if (szLink && symlinkat(szTarget.get(), dirOf(dfd), szLink.get()) != 0) fsstat::throwErrno(env, errno);
}

// A FIFO, socket or device node, as a copy of one is made.
void JNICALL mknod0(JNIEnv *env, jclass, jint dfd, jbyteArray jPath, jint mode, jlong dev) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (szPath && mknodat(dirOf(dfd), szPath.get(), static_cast<mode_t>(mode), static_cast<dev_t>(dev)) != 0) {
        fsstat::throwErrno(env, errno);
    }
}

// A hard link to the file itself, never to what a link names (as ln does).
void JNICALL link0(JNIEnv *env, jclass, jbyteArray jExisting, jbyteArray jLink) {
    MallocPtr szExisting(fsstat::pathFromBytes(env, jExisting));
    if (!szExisting) return;
    MallocPtr szLink(fsstat::pathFromBytes(env, jLink));
    if (szLink && linkat(AT_FDCWD, szExisting.get(), AT_FDCWD, szLink.get(), 0) != 0) fsstat::throwErrno(env, errno);
}

jbyteArray JNICALL readlink0(JNIEnv *env, jclass, jint dfd, jbyteArray jPath) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (!szPath) return nullptr;
    // A target longer than the buffer fills it exactly: grow and read again.
    for (size_t iSize = 256;; iSize *= 2) {
        MallocPtr buf(static_cast<char *>(std::malloc(iSize)));
        if (!buf) {
            fsstat::throwOutOfMemory(env);
            return nullptr;
        }
        const ssize_t n = readlinkat(dirOf(dfd), szPath.get(), buf.get(), iSize);
        if (n < 0) {
            fsstat::throwErrno(env, errno);
            return nullptr;
        }
        if (static_cast<size_t>(n) < iSize) {
            buf.get()[n] = '\0';
            return fsstat::bytesFromPath(env, buf.get());
        }
    }
}

void JNICALL rename0(JNIEnv *env, jclass, jint fromDfd, jbyteArray jFrom, jint toDfd, jbyteArray jTo) {
    MallocPtr szFrom(fsstat::pathFromBytes(env, jFrom));
    if (!szFrom) return;
    MallocPtr szTo(fsstat::pathFromBytes(env, jTo));
    if (szTo && renameat(dirOf(fromDfd), szFrom.get(), dirOf(toDfd), szTo.get()) != 0) fsstat::throwErrno(env, errno);
}

// Everything from in's position to its end, written at out's position: by
// sendfile, which copies within the kernel, else (a file system without it) by
// read and write.
void JNICALL copyData0(JNIEnv *env, jclass, jint in, jint out) {
#ifdef __linux__
    for (;;) {
        const ssize_t n = sendfile(out, in, nullptr, size_t{1} << 30);
        if (n == 0) return;
        if (n > 0 || errno == EINTR) continue;
        if (errno == EINVAL || errno == ENOSYS) break;
        fsstat::throwErrno(env, errno);
        return;
    }
#endif
    char buf[65536];
    for (;;) {
        const ssize_t n = read(in, buf, sizeof buf);
        if (n == 0) return;
        if (n < 0) {
            if (errno == EINTR) continue;
            fsstat::throwErrno(env, errno);
            return;
        }
        for (ssize_t iDone = 0; iDone < n;) {
            const ssize_t w = write(out, buf + iDone, static_cast<size_t>(n - iDone));
            if (w < 0 && errno != EINTR) {
                fsstat::throwErrno(env, errno);
                return;
            }
            iDone += w > 0 ? w : 0;
        }
    }
}

// With the effective ids and capabilities, which are what an open by this
// thread meets (access(2) would judge by the real ids).
void JNICALL access0(JNIEnv *env, jclass, jbyteArray jPath, jint mode) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (szPath && faccessat(AT_FDCWD, szPath.get(), mode, AT_EACCESS) != 0) fsstat::throwErrno(env, errno);
}

jbyteArray JNICALL realpath0(JNIEnv *env, jclass, jbyteArray jPath) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (!szPath) return nullptr;
    MallocPtr szReal(realpath(szPath.get(), nullptr));
    if (!szReal) {
        fsstat::throwErrno(env, errno);
        return nullptr;
    }
    return fsstat::bytesFromPath(env, szReal.get());
}

jbyteArray JNICALL getcwd0(JNIEnv *env, jclass) {
    MallocPtr szCwd(getcwd(nullptr, 0));
    if (!szCwd) {
        fsstat::throwErrno(env, errno);
        return nullptr;
    }
    return fsstat::bytesFromPath(env, szCwd.get());
}

// The two byte readings of a library string, as getNativeFilePath makes them:
// its default-charset bytes with the escapes undone, and its ISO-8859-1 bytes
// with doubled marks undone. An element is null where that reading failed;
// the caller judges which readings are exact.
jobjectArray JNICALL readings0(JNIEnv *env, jclass, jstring jsPath) {
    fsstat::LocalRef<jclass> jclsBytes(env, env->FindClass("[B"));
    if (!jclsBytes) return nullptr;
    fsstat::LocalRef<jobjectArray> jResult(env, env->NewObjectArray(2, jclsBytes.get(), nullptr));
    if (!jResult) return nullptr;
    for (jsize i = 0; i < 2; i++) {
        MallocPtr szBytes(i == 0 ? JNU_GetStringNativeChars(env, jsPath) : JNU_GetStringISO8859_1Chars(env, jsPath));
        MallocPtr szReading;
        if (szBytes) szReading.reset(i == 0 ? unescapeNativeString(env, szBytes.get()) : unescapeString(env, szBytes.get(), 0));
        if (env->ExceptionCheck()) return nullptr;  // out of memory: no reading can be trusted
        if (!szReading) continue;
        fsstat::LocalRef<jbyteArray> jBytes(env, fsstat::bytesFromPath(env, szReading.get()));
        if (!jBytes) return nullptr;
        env->SetObjectArrayElement(jResult.get(), i, jBytes.get());
    }
    return jResult.release();
}

// The native declarations follow Natives.java's order.
const JNINativeMethod kMethods[] = {
    fsstat::nativeMethod("open", "(I[BII)J", reinterpret_cast<void *>(open0)),
    fsstat::nativeMethod("close", "(I)V", reinterpret_cast<void *>(close0)),
    fsstat::nativeMethod("channelFactory", "()[Ljava/lang/reflect/AccessibleObject;", reinterpret_cast<void *>(channelFactory0)),
    fsstat::nativeMethod("mkdir", "(I[BI)V", reinterpret_cast<void *>(mkdir0)),
    fsstat::nativeMethod("unlink", "(I[BZ)V", reinterpret_cast<void *>(unlink0)),
    fsstat::nativeMethod("mknod", "(I[BIJ)V", reinterpret_cast<void *>(mknod0)),
    fsstat::nativeMethod("symlink", "([BI[B)V", reinterpret_cast<void *>(symlink0)),
    fsstat::nativeMethod("link", "([B[B)V", reinterpret_cast<void *>(link0)),
    fsstat::nativeMethod("readlink", "(I[B)[B", reinterpret_cast<void *>(readlink0)),
    fsstat::nativeMethod("rename", "(I[BI[B)V", reinterpret_cast<void *>(rename0)),
    fsstat::nativeMethod("copyData", "(II)V", reinterpret_cast<void *>(copyData0)),
    fsstat::nativeMethod("access", "([BI)V", reinterpret_cast<void *>(access0)),
    fsstat::nativeMethod("realpath", "([B)[B", reinterpret_cast<void *>(realpath0)),
    fsstat::nativeMethod("readings", "(Ljava/lang/String;)[[B", reinterpret_cast<void *>(readings0)),
    fsstat::nativeMethod("getcwd", "()[B", reinterpret_cast<void *>(getcwd0)),
};

} // namespace

namespace fsstat {

bool registerPathNatives(JNIEnv *env, jclass jcls) {
    return fsstat::registerNatives(env, jcls, kMethods);
}

} // namespace fsstat
