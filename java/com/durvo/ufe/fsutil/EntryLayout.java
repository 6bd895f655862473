package com.durvo.ufe.fsutil;

import java.lang.annotation.Native;

/**
 * What the listing natives and the Java side agree on: the layout of one entry
 * in a batch, the attribute bits and the read flags. The library is compiled
 * against the header javac makes of this class, so a change here reaches both
 * sides; the attribute bits are statx's own, which the library checks.
 */
final class EntryLayout {
    /** Longs of a path's stat values: dev, ino, mode, nlink, uid, gid, rdev, size, blksize, blocks, then
     * seconds and nanoseconds of atime, mtime and ctime. */
    @Native static final int STAT_LONGS = 16;
    /** Slots after the stat values: creation time (seconds, nanoseconds), mount id. */
    @Native static final int BTIME = 16;
    @Native static final int MOUNT_ID = 18;
    /** The attribute bits the entry has (see below). */
    @Native static final int HAVE = 19;
    /** The errno of the failed stat of an entry whose attributes could not be read, else 0. */
    @Native static final int ERROR = 20;
    /** The length of the entry's name, whose bytes follow the previous entry's. */
    @Native static final int NAME_LENGTH = 21;
    /** Longs per entry in a batch. */
    @Native static final int ENTRY_LONGS = 22;

    // Attribute bits, as statx numbers them.
    @Native static final int TYPE = 0x1;
    @Native static final int MODE = 0x2;
    @Native static final int NLINK = 0x4;
    @Native static final int UID = 0x8;
    @Native static final int GID = 0x10;
    @Native static final int ATIME = 0x20;
    @Native static final int MTIME = 0x40;
    @Native static final int CTIME = 0x80;
    @Native static final int INO = 0x100;
    @Native static final int SIZE = 0x200;
    @Native static final int BLOCKS = 0x400;
    @Native static final int BTIME_BIT = 0x800;
    @Native static final int MOUNT_ID_BIT = 0x1000;
    /** Device, device id of a device file and block size: every stat gives them. */
    @Native static final int DEV = 0x10000000;
    /** What lstat gives. */
    @Native static final int LSTAT = 0x7ff | DEV;

    // Flags of a read.
    /** Examine what a symbolic link points to (a dangling link: the link itself). */
    @Native static final int FOLLOW = 1;
    /** Ask network file systems for what they have at hand, and trigger no automount. */
    @Native static final int DONT_SYNC = 2;

    private EntryLayout() {
    }
}
