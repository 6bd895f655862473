package com.durvo.ufe.fsutil;

import java.lang.annotation.Native;

/**
 * What {@link SysCalls} and its natives agree on: the options of an open, the
 * stand-in for the working directory, the length of a statx result,
 * inotify's masks and the errno values told apart. The library is compiled
 * against the header javac makes of this class, which holds nothing else so
 * that the library alone can be built from it.
 */
final class SysCallFlags {
    /** In place of a directory descriptor: the working directory. */
    @Native static final int CWD = -1;

    // Options of open.
    @Native static final int READ = 1;
    @Native static final int WRITE = 2;
    @Native static final int APPEND = 4;
    @Native static final int CREATE = 8;
    @Native static final int CREATE_NEW = 16;
    @Native static final int TRUNCATE = 32;
    @Native static final int SYNC = 64;
    @Native static final int DSYNC = 128;
    @Native static final int NOFOLLOW = 256;
    @Native static final int DIRECTORY = 512;
    /** Opens at once where an open would wait (a FIFO with no writer): for its attributes, not its data. */
    @Native static final int NONBLOCK = 1024;
    /** The caller reopens the descriptor through {@code /proc/self/fd} (see {@link SysCalls#open}). */
    @Native static final int REOPEN = 2048;

    /** Longs of a statx result: the sixteen stat values, then the birth time (seconds, nanoseconds, 1 if known). */
    @Native static final int STATX_LONGS = 19;

    // inotify's event masks, which the watch service reads events with.
    @Native static final int IN_MODIFY = 0x2;
    @Native static final int IN_ATTRIB = 0x4;
    @Native static final int IN_MOVED_FROM = 0x40;
    @Native static final int IN_MOVED_TO = 0x80;
    @Native static final int IN_CREATE = 0x100;
    @Native static final int IN_DELETE = 0x200;
    @Native static final int IN_Q_OVERFLOW = 0x4000;
    @Native static final int IN_IGNORED = 0x8000;
    @Native static final int IN_ONLYDIR = 0x1000000;

    // The errno values NativeErrno tells apart, as Linux numbers them (NativeFs.cpp checks them against <errno.h>).
    @Native static final int EPERM = 1;
    @Native static final int ENOENT = 2;
    @Native static final int EACCES = 13;
    @Native static final int EEXIST = 17;
    @Native static final int EXDEV = 18;
    @Native static final int ENOTDIR = 20;
    @Native static final int EINVAL = 22;
    @Native static final int ENOTEMPTY = 39;
    @Native static final int ELOOP = 40;
    @Native static final int ENODATA = 61;

    private SysCallFlags() {
    }
}
