package com.durvo.ufe.fsutil.internal.natives;

import com.durvo.ufe.fsutil.internal.names.NameBytes;
import com.durvo.ufe.fsutil.FileSysStatUnix;
import com.durvo.ufe.fsutil.internal.loader.NativeLibrary;
import java.lang.ref.Cleaner;

/**
 * Every private native of the library, each a thin wrapper of the system call
 * it names. Paths and names cross as their exact bytes; a directory argument
 * of {@link NativeConstants#CWD} means the working directory. A failure comes
 * back as the errno in a {@link NativeErrno}, which the caller turns into the
 * exception its API promises.
 */
public final class Natives {
    /** Closes native resources that their owners dropped unclosed. */
    public static final Cleaner CLEANER = Cleaner.create();

    static {
        NativeLibrary.load();
        initIDs(NameBytes.utf8Mode());
    }

    private static final byte[] DOT = {'.'};

    private Natives() {
    }

    /** A path's bytes as the system calls get them: the empty path, which the system refuses, as ".". */
    public static byte[] sysPath(byte[] exact) {
        return exact.length > 0 ? exact : DOT;
    }

    /**
     * Looks up what the natives use and sets the library's charset mode, as
     * the one-at-a-time listing's {@code init} does, to the default charset's.
     */
    private static native void initIDs(boolean utf8);

    /** The library's string for a name or path with these bytes. */
    public static native String nameString(byte[] name);

    /** Opens a directory, following a final link; the handle. */
    public static native long openDir(byte[] path) throws NativeErrno;

    /** A handle of the open directory {@code fd}, which it owns from here on ({@code fd} is closed on failure). */
    public static native long adoptDir(int fd) throws NativeErrno;

    /**
     * Opens the subdirectory {@code name} of an open directory, through a link only with
     * {@link NativeConstants#FOLLOW}; as {@link #openDir} otherwise.
     */
    public static native long openDirAt(long parent, byte[] name, int flags) throws NativeErrno;

    /** The open directory's device and inode into {@code id}. */
    public static native void identity(long handle, long[] id) throws NativeErrno;

    /**
     * Fills a batch of entries (see {@link NativeConstants}) with the attributes {@code want} asks for
     * ({@link NativeConstants#TYPE} and others), read as {@code flags} say; how many, 0 at the end.
     */
    public static native int readDir(long handle, int want, int flags, long[] longs, byte[] names) throws NativeErrno;

    /** The failure {@code errno} stands for, not thrown. */
    public static native NativeErrno describe(int errno);

    public static native void closeDir(long handle);

    // The fsstat: file system's calls.

    /**
     * {@code openat(dfd, path, flags, mode)}: the descriptor, bit 32 set when
     * this call created the file. With {@link #REOPEN}, for a caller that
     * reopens the descriptor through {@code /proc/self/fd}: an existing FIFO
     * is opened {@code O_PATH} only, as the reopen is the open that waits for
     * the other end, and {@link #CREATE} tells whether it created the file.
     */
    public static native long open(int dfd, byte[] path, int options, int mode) throws NativeErrno;

    /** {@code close(fd)}. */
    public static native void close(int fd);

    /**
     * The JDK's internal factory of its {@link java.nio.channels.FileChannel}
     * over a {@link java.io.FileDescriptor} (as {@code RandomAccessFile} makes
     * its channel), then the descriptor's {@code fd} and {@code append}
     * fields, made accessible for method handles; null where this JVM has no
     * factory of a known shape.
     */
    public static native java.lang.reflect.AccessibleObject[] channelFactory();

    /** {@code mkdirat(dfd, path, mode)}. */
    public static native void mkdir(int dfd, byte[] path, int mode) throws NativeErrno;

    /** {@code unlinkat(dfd, path, dir ? AT_REMOVEDIR : 0)}. */
    public static native void unlink(int dfd, byte[] path, boolean dir) throws NativeErrno;

    /** {@code mknodat(dfd, path, mode, dev)}. */
    public static native void mknod(int dfd, byte[] path, int mode, long dev) throws NativeErrno;

    /** {@code symlinkat(target, dfd, link)}. */
    public static native void symlink(byte[] target, int dfd, byte[] link) throws NativeErrno;

    /** {@code linkat(AT_FDCWD, existing, AT_FDCWD, link, 0)}. */
    public static native void link(byte[] existing, byte[] link) throws NativeErrno;

    /** {@code readlinkat(dfd, path)}: the whole target. */
    public static native byte[] readlink(int dfd, byte[] path) throws NativeErrno;

    /** {@code renameat(fromDfd, from, toDfd, to)}. */
    public static native void rename(int fromDfd, byte[] from, int toDfd, byte[] to) throws NativeErrno;

    /** {@code sendfile(out, in)} until the end of {@code in} (where it cannot: {@code read} and {@code write}). */
    public static native void copyData(int in, int out) throws NativeErrno;

    /** {@code faccessat(AT_FDCWD, path, mode, AT_EACCESS)}. */
    public static native void access(byte[] path, int mode) throws NativeErrno;

    /** {@code realpath(path)}. */
    public static native byte[] realpath(byte[] path) throws NativeErrno;

    /**
     * The two byte readings of a library string: its default-charset bytes
     * with the escapes undone, and its ISO-8859-1 bytes; null where a reading
     * failed. Either may be lossy: the caller judges.
     */
    public static native byte[][] readings(String path);

    /** {@code getcwd()}. */
    public static native byte[] getcwd() throws NativeErrno;

    /** The statx values of a path from the working directory (see {@link #stat(int, byte[], boolean, long[])}). */
    public static long[] stat(byte[] path, boolean follow) throws NativeErrno {
        long[] out = new long[NativeConstants.STATX_LONGS];
        stat(NativeConstants.CWD, path, follow, out);
        return out;
    }

    /** The values of the file itself at {@code path}, or null when there is none or it cannot be examined. */
    public static long[] statOrNull(byte[] path) {
        try {
            return stat(path, false);
        } catch (NativeErrno e) {
            return null;
        }
    }

    /** {@code statx(dfd, path)} into {@code out} ({@link #STATX_LONGS}); an empty path with a descriptor: the open file. */
    public static native void stat(int dfd, byte[] path, boolean follow, long[] out) throws NativeErrno;

    /** {@code utimensat(dfd, path, times)}: access then modification, seconds and nanoseconds; -1 nanoseconds leaves it. */
    public static native void utimens(int dfd, byte[] path, long[] times, boolean follow) throws NativeErrno;

    /** {@code futimens(fd, times)}: as {@link #utimens}, on the open file. */
    public static native void futimens(int fd, long[] times) throws NativeErrno;

    /**
     * {@code fchmodat(dfd, path, mode, follow ? 0 : AT_SYMLINK_NOFOLLOW)}: not
     * following, the file is opened without following and changed through
     * that descriptor (a link: ELOOP, it has no mode of its own).
     */
    public static native void chmod(int dfd, byte[] path, int mode, boolean follow) throws NativeErrno;

    /** {@code fchmod(fd, mode)}. */
    public static native void fchmod(int fd, int mode) throws NativeErrno;

    /** {@code fchownat(dfd, path, uid, gid)}; -1 leaves an id. */
    public static native void chown(int dfd, byte[] path, int uid, int gid, boolean follow) throws NativeErrno;

    /** {@code fchown(fd, uid, gid)}; -1 leaves an id. */
    public static native void fchown(int fd, int uid, int gid) throws NativeErrno;

    /** {@code statvfs(path)}: the eleven figures in {@link FileSysStatUnix}'s order. */
    public static native void statvfs(byte[] path, long[] out) throws NativeErrno;

    /** {@code fgetxattr(fd, name)}: the whole value, asked again when it grew meanwhile. */
    public static native byte[] getxattr(int fd, byte[] name) throws NativeErrno;

    /** {@code flistxattr(fd)}: every name, each followed by a NUL. */
    public static native byte[] listxattr(int fd) throws NativeErrno;

    /** {@code fsetxattr(fd, name, value, 0)}. */
    public static native void setxattr(int fd, byte[] name, byte[] value) throws NativeErrno;

    /** {@code fremovexattr(fd, name)}. */
    public static native void removexattr(int fd, byte[] name) throws NativeErrno;

    /** {@code getpwnam_r} or {@code getgrnam_r}: the id, -1 when there is none. */
    public static native int userId(byte[] name, boolean group) throws NativeErrno;

    /** {@code getpwuid_r} or {@code getgrgid_r}: the name, null when there is none. */
    public static native byte[] userName(int id, boolean group) throws NativeErrno;

    /** {@code inotify_init1(IN_NONBLOCK | IN_CLOEXEC)}. */
    public static native int inotifyInit() throws NativeErrno;

    /** {@code eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)}. */
    public static native int eventFd() throws NativeErrno;

    /** {@code write(fd, 1)} to an eventfd: wakes the thread in {@link #inotifyRead}. */
    public static native void wake(int fd);

    /** {@code inotify_add_watch(fd, path, mask)}: the watch descriptor. */
    public static native int inotifyAdd(int fd, byte[] path, int mask) throws NativeErrno;

    /** {@code inotify_rm_watch(fd, wd)}; a watch the kernel dropped already is no failure. */
    public static native void inotifyRemove(int fd, int wd);

    /**
     * {@code poll} on {@code fd} and {@code wakeFd}, then {@code read(fd, buf)}:
     * the bytes of whole {@code struct inotify_event}s (0 when none were there
     * after all), or -1 once {@code wakeFd} is signalled.
     */
    public static native int inotifyRead(int fd, int wakeFd, byte[] buf) throws NativeErrno;
}
