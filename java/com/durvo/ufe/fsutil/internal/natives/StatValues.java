package com.durvo.ufe.fsutil.internal.natives;

import static com.durvo.ufe.fsutil.internal.natives.NativeConstants.*;

import com.durvo.ufe.fsutil.ChildFile;

/**
 * The stat values the natives write into a {@code long[]}, read by name: a
 * path's result from slot 0, or an entry of a listing batch in place at its
 * offset {@code at}, so that reading one allocates nothing. Also the one
 * decoder of a mode's file type.
 */
public final class StatValues {
    private static final int PERMISSION_BITS = 07777;

    private StatValues() {
    }

    public static long dev(long[] v, int at) {
        return v[at + ST_DEV];
    }

    public static long ino(long[] v, int at) {
        return v[at + ST_INO];
    }

    public static int mode(long[] v, int at) {
        return (int) v[at + ST_MODE];
    }

    /** The link count; one above 2^31-1 saturates, as the one-at-a-time listing delivers it. */
    public static int links(long[] v, int at) {
        return (int) Math.min(v[at + ST_NLINK], Integer.MAX_VALUE);
    }

    /** The owner's id; ids of 2^31 and above read negative, as the kernel's unsigned 32 bits in an int. */
    public static int uid(long[] v, int at) {
        return (int) v[at + ST_UID];
    }

    public static int gid(long[] v, int at) {
        return (int) v[at + ST_GID];
    }

    public static long rdev(long[] v, int at) {
        return v[at + ST_RDEV];
    }

    public static long size(long[] v, int at) {
        return v[at + ST_SIZE];
    }

    public static long blockSize(long[] v, int at) {
        return v[at + ST_BLKSIZE];
    }

    public static long blocks(long[] v, int at) {
        return v[at + ST_BLOCKS];
    }

    public static long accessSeconds(long[] v, int at) {
        return v[at + ST_ATIME];
    }

    public static long accessNanos(long[] v, int at) {
        return v[at + ST_ATIME_NSEC];
    }

    public static long modifiedSeconds(long[] v, int at) {
        return v[at + ST_MTIME];
    }

    public static long modifiedNanos(long[] v, int at) {
        return v[at + ST_MTIME_NSEC];
    }

    public static long changeSeconds(long[] v, int at) {
        return v[at + ST_CTIME];
    }

    public static long changeNanos(long[] v, int at) {
        return v[at + ST_CTIME_NSEC];
    }

    /** The birth time of a statx result or a batch entry that asked for it. */
    public static long birthSeconds(long[] v, int at) {
        return v[at + BTIME];
    }

    public static long birthNanos(long[] v, int at) {
        return v[at + BTIME_NSEC];
    }

    /** Whether a statx result ({@link Natives#stat(int, byte[], boolean, long[])}) has a birth time. */
    public static boolean birthKnown(long[] v) {
        return v[BTIME_KNOWN] != 0;
    }

    /** Whether two results name one file: the same device and inode. */
    public static boolean sameFile(long[] a, long[] b) {
        return dev(a, 0) == dev(b, 0) && ino(a, 0) == ino(b, 0);
    }

    /** The type bits of a mode alone, the permissions cleared. */
    public static int typeBits(int mode) {
        return mode & S_IFMT;
    }

    /** The permission, set-id and sticky bits of a mode, what chmod takes. */
    public static int permissionBits(int mode) {
        return mode & PERMISSION_BITS;
    }

    /** The file type of a mode. */
    public static ChildFile.Type type(int mode) {
        switch (typeBits(mode)) {
            case S_IFREG: return ChildFile.Type.REGULAR;
            case S_IFDIR: return ChildFile.Type.DIRECTORY;
            case S_IFLNK: return ChildFile.Type.SYMLINK;
            case S_IFIFO: return ChildFile.Type.FIFO;
            case S_IFSOCK: return ChildFile.Type.SOCKET;
            case S_IFCHR: return ChildFile.Type.CHAR_DEVICE;
            case S_IFBLK: return ChildFile.Type.BLOCK_DEVICE;
            default: return ChildFile.Type.OTHER;
        }
    }

    /** The file type of a path's result. */
    public static ChildFile.Type type(long[] v) {
        return type(mode(v, 0));
    }
}
