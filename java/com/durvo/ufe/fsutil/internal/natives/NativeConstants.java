package com.durvo.ufe.fsutil.internal.natives;

import java.lang.annotation.Native;

/**
 * The numbers the natives and the Java side agree on: the layout of a listing
 * batch and of a stat result, the file types of a mode, attribute bits and
 * read flags, the options of an open, inotify's masks and the errno values
 * told apart. The library is compiled against the header javac makes of this
 * class, which holds nothing else, so that the library alone can be built from
 * it; the attribute bits are statx's own, and the file types and errno values
 * Linux's, which the library checks.
 */
public final class NativeConstants {
    // A path's stat values, slot by slot (StatValues reads them); each time is seconds, then nanoseconds.
    @Native public static final int ST_DEV = 0;
    @Native public static final int ST_INO = 1;
    @Native public static final int ST_MODE = 2;
    @Native public static final int ST_NLINK = 3;
    @Native public static final int ST_UID = 4;
    @Native public static final int ST_GID = 5;
    @Native public static final int ST_RDEV = 6;
    @Native public static final int ST_SIZE = 7;
    @Native public static final int ST_BLKSIZE = 8;
    @Native public static final int ST_BLOCKS = 9;
    @Native public static final int ST_ATIME = 10;
    @Native public static final int ST_ATIME_NSEC = 11;
    @Native public static final int ST_MTIME = 12;
    @Native public static final int ST_MTIME_NSEC = 13;
    @Native public static final int ST_CTIME = 14;
    @Native public static final int ST_CTIME_NSEC = 15;
    /** Longs of a path's stat values. */
    @Native public static final int STAT_LONGS = 16;

    // A file type, the type bits of a mode, as Linux numbers them.
    @Native public static final int S_IFMT = 0170000;
    @Native public static final int S_IFSOCK = 0140000;
    @Native public static final int S_IFLNK = 0120000;
    @Native public static final int S_IFREG = 0100000;
    @Native public static final int S_IFBLK = 0060000;
    @Native public static final int S_IFDIR = 0040000;
    @Native public static final int S_IFCHR = 0020000;
    @Native public static final int S_IFIFO = 0010000;

    // A listing batch: one entry's longs, and the attribute bits it carries.
    /** Slots after the stat values: creation time (seconds, nanoseconds), mount id. */
    @Native public static final int BTIME = 16;
    @Native public static final int BTIME_NSEC = 17;
    @Native public static final int MOUNT_ID = 18;
    /** The attribute bits the entry has (see below). */
    @Native public static final int HAVE = 19;
    /** The errno of the failed stat of an entry whose attributes could not be read, else 0. */
    @Native public static final int ERROR = 20;
    /** The length of the entry's name, whose bytes follow the previous entry's. */
    @Native public static final int NAME_LENGTH = 21;
    /** Longs per entry in a batch. */
    @Native public static final int ENTRY_LONGS = 22;

    // Attribute bits, as statx numbers them.
    @Native public static final int TYPE = 0x1;
    @Native public static final int MODE = 0x2;
    @Native public static final int NLINK = 0x4;
    @Native public static final int UID = 0x8;
    @Native public static final int GID = 0x10;
    @Native public static final int ATIME = 0x20;
    @Native public static final int MTIME = 0x40;
    @Native public static final int CTIME = 0x80;
    @Native public static final int INO = 0x100;
    @Native public static final int SIZE = 0x200;
    @Native public static final int BLOCKS = 0x400;
    @Native public static final int BTIME_BIT = 0x800;
    @Native public static final int MOUNT_ID_BIT = 0x1000;
    /** Device, device id of a device file and block size: every stat gives them. */
    @Native public static final int DEV = 0x10000000;
    /** What lstat gives. */
    @Native public static final int LSTAT = 0x7ff | DEV;

    // Flags of a read.
    /** Examine what a symbolic link points to (a dangling link: the link itself). */
    @Native public static final int FOLLOW = 1;
    /** Ask network file systems for what they have at hand, and trigger no automount. */
    @Native public static final int DONT_SYNC = 2;

    // System calls.
    /** In place of a directory descriptor: the working directory. */
    @Native public static final int CWD = -1;

    // Options of open.
    @Native public static final int READ = 1;
    @Native public static final int WRITE = 2;
    @Native public static final int APPEND = 4;
    @Native public static final int CREATE = 8;
    @Native public static final int CREATE_NEW = 16;
    @Native public static final int TRUNCATE = 32;
    @Native public static final int SYNC = 64;
    @Native public static final int DSYNC = 128;
    @Native public static final int NOFOLLOW = 256;
    @Native public static final int DIRECTORY = 512;
    /** Opens at once where an open would wait (a FIFO with no writer): for its attributes, not its data. */
    @Native public static final int NONBLOCK = 1024;
    /** The caller reopens the descriptor through {@code /proc/self/fd} (see {@link Natives#open}). */
    @Native public static final int REOPEN = 2048;

    /** In a statx result, after the stat values and the birth time ({@link #BTIME}): 1 if the birth time is known. */
    @Native public static final int BTIME_KNOWN = 18;
    /** Longs of a statx result: the sixteen stat values, the birth time and whether it is known. */
    @Native public static final int STATX_LONGS = 19;

    // inotify's event masks, which the watch service and the tree watcher read events with.
    @Native public static final int IN_MODIFY = 0x2;
    @Native public static final int IN_ATTRIB = 0x4;
    @Native public static final int IN_CLOSE_WRITE = 0x8;
    @Native public static final int IN_MOVED_FROM = 0x40;
    @Native public static final int IN_MOVED_TO = 0x80;
    @Native public static final int IN_CREATE = 0x100;
    @Native public static final int IN_DELETE = 0x200;
    @Native public static final int IN_DELETE_SELF = 0x400;
    @Native public static final int IN_MOVE_SELF = 0x800;
    @Native public static final int IN_UNMOUNT = 0x2000;
    @Native public static final int IN_Q_OVERFLOW = 0x4000;
    @Native public static final int IN_IGNORED = 0x8000;
    @Native public static final int IN_ONLYDIR = 0x1000000;
    @Native public static final int IN_DONT_FOLLOW = 0x2000000;
    @Native public static final int IN_EXCL_UNLINK = 0x4000000;
    @Native public static final int IN_ISDIR = 0x40000000;

    // The errno values NativeErrno tells apart, as Linux numbers them (Natives.cpp checks them against <errno.h>).
    @Native public static final int EPERM = 1;
    @Native public static final int ENOENT = 2;
    @Native public static final int EACCES = 13;
    @Native public static final int EEXIST = 17;
    @Native public static final int EXDEV = 18;
    @Native public static final int ENOTDIR = 20;
    @Native public static final int ENOSPC = 28;
    @Native public static final int EINVAL = 22;
    @Native public static final int ENOTEMPTY = 39;
    @Native public static final int ELOOP = 40;
    @Native public static final int ENODATA = 61;

    private NativeConstants() {
    }
}
