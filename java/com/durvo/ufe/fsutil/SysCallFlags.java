package com.durvo.ufe.fsutil;

import java.lang.annotation.Native;

/**
 * What {@link SysCalls} and its natives agree on: the options of an open, the
 * stand-in for the working directory and the length of a statx result. The
 * library is compiled against the header javac makes of this class, which
 * holds nothing else so that the library alone can be built from it.
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
    /** The caller reopens the descriptor through {@code /proc/self/fd} (see {@link SysCalls#open}). */
    @Native static final int REOPEN = 1024;

    /** Longs of a statx result: the sixteen stat values, then the birth time (seconds, nanoseconds, 1 if known). */
    @Native static final int STATX_LONGS = 19;

    private SysCallFlags() {
    }
}
