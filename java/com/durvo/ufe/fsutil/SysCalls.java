package com.durvo.ufe.fsutil;

/**
 * The system calls under the {@code fsstat} file system, one native each
 * (documented by the call it makes). Paths cross as their exact bytes; a
 * directory argument of {@link #CWD} means the working directory. Failures
 * come back as {@link NativeErrno}.
 */
final class SysCalls {
    // The constants the natives share (see SysCallFlags), under the names callers use.
    static final int CWD = SysCallFlags.CWD;
    static final int READ = SysCallFlags.READ;
    static final int WRITE = SysCallFlags.WRITE;
    static final int APPEND = SysCallFlags.APPEND;
    static final int CREATE = SysCallFlags.CREATE;
    static final int CREATE_NEW = SysCallFlags.CREATE_NEW;
    static final int TRUNCATE = SysCallFlags.TRUNCATE;
    static final int SYNC = SysCallFlags.SYNC;
    static final int DSYNC = SysCallFlags.DSYNC;
    static final int NOFOLLOW = SysCallFlags.NOFOLLOW;
    static final int DIRECTORY = SysCallFlags.DIRECTORY;
    static final int NONBLOCK = SysCallFlags.NONBLOCK;
    static final int REOPEN = SysCallFlags.REOPEN;
    static final int STATX_LONGS = SysCallFlags.STATX_LONGS;
    static final int IN_MODIFY = SysCallFlags.IN_MODIFY;
    static final int IN_ATTRIB = SysCallFlags.IN_ATTRIB;
    static final int IN_MOVED_FROM = SysCallFlags.IN_MOVED_FROM;
    static final int IN_MOVED_TO = SysCallFlags.IN_MOVED_TO;
    static final int IN_CREATE = SysCallFlags.IN_CREATE;
    static final int IN_DELETE = SysCallFlags.IN_DELETE;
    static final int IN_Q_OVERFLOW = SysCallFlags.IN_Q_OVERFLOW;
    static final int IN_IGNORED = SysCallFlags.IN_IGNORED;
    static final int IN_ONLYDIR = SysCallFlags.IN_ONLYDIR;

    static {
        NativeFs.ensureLoaded();
    }

    private SysCalls() {
    }

    /**
     * {@code openat(dfd, path, flags, mode)}: the descriptor, bit 32 set when
     * this call created the file. With {@link #REOPEN}, for a caller that
     * reopens the descriptor through {@code /proc/self/fd}: an existing FIFO
     * is opened {@code O_PATH} only, as the reopen is the open that waits for
     * the other end, and {@link #CREATE} tells whether it created the file.
     */
    static native long open(int dfd, byte[] path, int options, int mode) throws NativeErrno;

    /** {@code close(fd)}. */
    static native void close(int fd);

    /**
     * The JDK's internal factory of its {@link java.nio.channels.FileChannel}
     * over a {@link java.io.FileDescriptor} (as {@code RandomAccessFile} makes
     * its channel), then the descriptor's {@code fd} and {@code append}
     * fields, made accessible for method handles; null where this JVM has no
     * factory of a known shape.
     */
    static native java.lang.reflect.AccessibleObject[] channelFactory();

    /** {@code mkdirat(dfd, path, mode)}. */
    static native void mkdir(int dfd, byte[] path, int mode) throws NativeErrno;

    /** {@code unlinkat(dfd, path, dir ? AT_REMOVEDIR : 0)}. */
    static native void unlink(int dfd, byte[] path, boolean dir) throws NativeErrno;

    /** {@code mknodat(dfd, path, mode, dev)}. */
    static native void mknod(int dfd, byte[] path, int mode, long dev) throws NativeErrno;

    /** {@code symlinkat(target, dfd, link)}. */
    static native void symlink(byte[] target, int dfd, byte[] link) throws NativeErrno;

    /** {@code linkat(AT_FDCWD, existing, AT_FDCWD, link, 0)}. */
    static native void link(byte[] existing, byte[] link) throws NativeErrno;

    /** {@code readlinkat(dfd, path)}: the whole target. */
    static native byte[] readlink(int dfd, byte[] path) throws NativeErrno;

    /** {@code renameat(fromDfd, from, toDfd, to)}. */
    static native void rename(int fromDfd, byte[] from, int toDfd, byte[] to) throws NativeErrno;

    /** {@code sendfile(out, in)} until the end of {@code in} (where it cannot: {@code read} and {@code write}). */
    static native void copyData(int in, int out) throws NativeErrno;

    /** {@code faccessat(AT_FDCWD, path, mode, AT_EACCESS)}. */
    static native void access(byte[] path, int mode) throws NativeErrno;

    /** {@code realpath(path)}. */
    static native byte[] realpath(byte[] path) throws NativeErrno;

    /**
     * The two byte readings of a library string: its default-charset bytes
     * with the escapes undone, and its ISO-8859-1 bytes; null where a reading
     * failed. Either may be lossy: the caller judges.
     */
    static native byte[][] readings(String path);

    /** {@code getcwd()}. */
    static native byte[] getcwd() throws NativeErrno;

    /** {@code statx(dfd, path)} into {@code out} ({@link #STATX_LONGS}); an empty path with a descriptor: the open file. */
    static native void stat(int dfd, byte[] path, boolean follow, long[] out) throws NativeErrno;

    /** {@code utimensat(dfd, path, times)}: access then modification, seconds and nanoseconds; -1 nanoseconds leaves it. */
    static native void utimens(int dfd, byte[] path, long[] times, boolean follow) throws NativeErrno;

    /** {@code futimens(fd, times)}: as {@link #utimens}, on the open file. */
    static native void futimens(int fd, long[] times) throws NativeErrno;

    /**
     * {@code fchmodat(dfd, path, mode, follow ? 0 : AT_SYMLINK_NOFOLLOW)}: not
     * following, the file is opened without following and changed through
     * that descriptor (a link: ELOOP, it has no mode of its own).
     */
    static native void chmod(int dfd, byte[] path, int mode, boolean follow) throws NativeErrno;

    /** {@code fchmod(fd, mode)}. */
    static native void fchmod(int fd, int mode) throws NativeErrno;

    /** {@code fchownat(dfd, path, uid, gid)}; -1 leaves an id. */
    static native void chown(int dfd, byte[] path, int uid, int gid, boolean follow) throws NativeErrno;

    /** {@code fchown(fd, uid, gid)}; -1 leaves an id. */
    static native void fchown(int fd, int uid, int gid) throws NativeErrno;

    /** {@code statvfs(path)}: the eleven figures in {@link FileSysStatUnix}'s order. */
    static native void statvfs(byte[] path, long[] out) throws NativeErrno;

    /** {@code fgetxattr(fd, name)}: the whole value, asked again when it grew meanwhile. */
    static native byte[] getxattr(int fd, byte[] name) throws NativeErrno;

    /** {@code flistxattr(fd)}: every name, each followed by a NUL. */
    static native byte[] listxattr(int fd) throws NativeErrno;

    /** {@code fsetxattr(fd, name, value, 0)}. */
    static native void setxattr(int fd, byte[] name, byte[] value) throws NativeErrno;

    /** {@code fremovexattr(fd, name)}. */
    static native void removexattr(int fd, byte[] name) throws NativeErrno;

    /** {@code getpwnam_r} or {@code getgrnam_r}: the id, -1 when there is none. */
    static native int userId(byte[] name, boolean group) throws NativeErrno;

    /** {@code getpwuid_r} or {@code getgrgid_r}: the name, null when there is none. */
    static native byte[] userName(int id, boolean group) throws NativeErrno;

    /** {@code inotify_init1(IN_NONBLOCK | IN_CLOEXEC)}. */
    static native int inotifyInit() throws NativeErrno;

    /** {@code eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)}. */
    static native int eventFd() throws NativeErrno;

    /** {@code write(fd, 1)} to an eventfd: wakes the thread in {@link #inotifyRead}. */
    static native void wake(int fd);

    /** {@code inotify_add_watch(fd, path, mask)}: the watch descriptor. */
    static native int inotifyAdd(int fd, byte[] path, int mask) throws NativeErrno;

    /** {@code inotify_rm_watch(fd, wd)}; a watch the kernel dropped already is no failure. */
    static native void inotifyRemove(int fd, int wd);

    /**
     * {@code poll} on {@code fd} and {@code wakeFd}, then {@code read(fd, buf)}:
     * the bytes of whole {@code struct inotify_event}s (0 when none were there
     * after all), or -1 once {@code wakeFd} is signalled.
     */
    static native int inotifyRead(int fd, int wakeFd, byte[] buf) throws NativeErrno;
}
