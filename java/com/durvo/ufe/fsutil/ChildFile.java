package com.durvo.ufe.fsutil;

import java.time.Instant;
import java.util.Arrays;

/**
 * One directory entry: its name, exactly as on disk and as the library's
 * string, and its {@code lstat} attributes. A symbolic link describes the
 * link itself.
 *
 * <p>{@link #name()} is the library's string for the name's bytes: a name
 * valid in the default charset reads as it is; see {@link FileNames} for the
 * others. {@link #nameBytes()} and {@link #pathBytes()} are the exact bytes.
 */
public final class ChildFile {
    /** File types, from the type bits of {@link #mode()}. */
    public enum Type {
        /** A regular file. */
        REGULAR('-'),
        /** A directory. */
        DIRECTORY('d'),
        /** A symbolic link. */
        SYMLINK('l'),
        /** A named pipe. */
        FIFO('p'),
        /** A socket. */
        SOCKET('s'),
        /** A character device. */
        CHAR_DEVICE('c'),
        /** A block device. */
        BLOCK_DEVICE('b'),
        /** A type this list does not name. */
        OTHER('?');

        private final char letter;

        Type(char letter) {
            this.letter = letter;
        }

        /**
         * The letter {@code ls -l} shows for the type.
         *
         * @return one of {@code - d l p s c b ?}
         */
        public char letter() {
            return letter;
        }
    }

    // Field names and types are what setBasic fills and the native tests read.
    private String name;
    private long device;
    private long inode;
    private int mode;
    private int links;
    private int uid;
    private int gid;
    private long rdev;
    private long size;
    private long blockSize;
    private long blocks;
    private long accessTime;
    private long modifiedTime;
    private long changeTime;
    private long accessNanos;
    private long modifiedNanos;
    private long changeNanos;
    /** The exact bytes of the name; null for an entry of the one-at-a-time route until asked for. */
    byte[] nameBytes;
    private final byte[] parent;
    private final int depth;

    /** An entry to be filled by {@code setBasic}, for the one-at-a-time route of {@link FolderIteratorNix}. */
    private ChildFile() {
        parent = null;
        depth = 1;
    }

    /** An entry of a batch: the name at {@code names[from..from+length)}, the values at {@code values[at..]}. */
    ChildFile(byte[] parent, byte[] names, int from, int length, long[] values, int at, int depth) {
        this.parent = parent;
        this.depth = depth;
        this.nameBytes = Arrays.copyOfRange(names, from, from + length);
        setStat(values, at);
    }

    /** A single path's attributes (as stat or lstat give them): the path is the name. */
    ChildFile(byte[] path, long[] values) {
        this.parent = null;
        this.depth = 0;
        this.nameBytes = path;
        setStat(values, 0);
    }

    private void setStat(long[] v, int at) {
        device = v[at];
        inode = v[at + 1];
        mode = (int) v[at + 2];
        // As the one-at-a-time route delivers it: a count above 2^31-1 saturates.
        links = (int) Math.min(v[at + 3], Integer.MAX_VALUE);
        uid = (int) v[at + 4];
        gid = (int) v[at + 5];
        rdev = v[at + 6];
        size = v[at + 7];
        blockSize = v[at + 8];
        blocks = v[at + 9];
        accessTime = v[at + 10];
        accessNanos = v[at + 11];
        modifiedTime = v[at + 12];
        modifiedNanos = v[at + 13];
        changeTime = v[at + 14];
        changeNanos = v[at + 15];
    }

    /** Called by the native library with one entry; the order of the values is fixed. */
    void setBasic(String fileName, long devId, long nodeNum, int iMode, int linkNum, int iUid, int iGid,
            long rDevId, long fileSize, long blkSize, long blockCount, long atime, long mtime, long ctime) {
        this.name = fileName;
        this.device = devId;
        this.inode = nodeNum;
        this.mode = iMode;
        this.links = linkNum;
        this.uid = iUid;
        this.gid = iGid;
        this.rdev = rDevId;
        this.size = fileSize;
        this.blockSize = blkSize;
        this.blocks = blockCount;
        this.accessTime = atime;
        this.modifiedTime = mtime;
        this.changeTime = ctime;
    }

    /**
     * The entry's bare name as the library carries it to Java; handing it
     * back to the library finds this file.
     *
     * @return the name (for a single path, the path)
     */
    public String name() {
        String n = name;
        if (n == null) {
            n = FileNames.fromBytes(nameBytes, 0, nameBytes.length);
            name = n;  // the same string whichever thread makes it
        }
        return n;
    }

    /**
     * The name's bytes exactly as the directory holds them.
     *
     * @return a new array
     */
    public byte[] nameBytes() {
        if (nameBytes == null) {
            nameBytes = FileNames.toBytes(name);
        }
        return nameBytes.clone();
    }

    /**
     * The bytes of the entry's path: the listed directory's path (or the
     * walk's root), the names of the directories below it, and the name,
     * joined by {@code /}.
     *
     * @return a new array
     */
    public byte[] pathBytes() {
        if (parent == null) {
            return nameBytes();
        }
        byte[] n = nameBytes;
        boolean slash = parent.length > 0 && parent[parent.length - 1] != '/';
        byte[] path = Arrays.copyOf(parent, parent.length + (slash ? 1 : 0) + n.length);
        if (slash) {
            path[parent.length] = '/';
        }
        System.arraycopy(n, 0, path, path.length - n.length, n.length);
        return path;
    }

    /**
     * The library's string for {@link #pathBytes()}: handing it back to the
     * library finds this file.
     *
     * @return the entry's path
     */
    public String path() {
        byte[] p = pathBytes();
        return FileNames.fromBytes(p, 0, p.length);
    }

    /**
     * The entry's path on the {@code fsstat} file system (see
     * {@link FsFileSystem}): its exact bytes, for use with
     * {@code java.nio.file.Files}.
     *
     * @return the path
     */
    public java.nio.file.Path toPath() {
        return FsFileSystem.get().getPath(pathBytes());
    }

    /**
     * How far below the listed directory or walk root the entry is.
     *
     * @return 1 for the entries of the directory itself, 2 for theirs, and so on
     */
    public int depth() {
        return depth;
    }

    /** {@return the id of the device holding the entry ({@code st_dev})} */
    public long device() {
        return device;
    }

    /** {@return the inode number ({@code st_ino})} */
    public long inode() {
        return inode;
    }

    /** {@return the type and permission bits ({@code st_mode})} */
    public int mode() {
        return mode;
    }

    /** {@return the number of hard links; a count above 2^31-1 reads as {@link Integer#MAX_VALUE}} */
    public int links() {
        return links;
    }

    /** {@return the owner's user id; ids of 2^31 and above read negative (see {@link Integer#toUnsignedString})} */
    public int uid() {
        return uid;
    }

    /** {@return the group id, read as {@link #uid()} is} */
    public int gid() {
        return gid;
    }

    /** {@return the device id of a device file ({@code st_rdev})} */
    public long rdev() {
        return rdev;
    }

    /** {@return the size in bytes (of a link: the length of its target)} */
    public long size() {
        return size;
    }

    /** {@return the preferred block size for I/O} */
    public long blockSize() {
        return blockSize;
    }

    /** {@return the allocated blocks of 512 bytes} */
    public long blocks() {
        return blocks;
    }

    /** {@return the time of last access, to the nanosecond where the file system keeps it} */
    public Instant accessTime() {
        return Instant.ofEpochSecond(accessTime, accessNanos);
    }

    /** {@return the time of last modification, to the nanosecond where the file system keeps it} */
    public Instant modifiedTime() {
        return Instant.ofEpochSecond(modifiedTime, modifiedNanos);
    }

    /** {@return the time of the last status change, to the nanosecond where the file system keeps it} */
    public Instant changeTime() {
        return Instant.ofEpochSecond(changeTime, changeNanos);
    }

    /** {@return the file type, from the type bits of {@link #mode()}} */
    public Type type() {
        switch (mode & 0xF000) {
            case 0x8000: return Type.REGULAR;
            case 0x4000: return Type.DIRECTORY;
            case 0xA000: return Type.SYMLINK;
            case 0x1000: return Type.FIFO;
            case 0xC000: return Type.SOCKET;
            case 0x2000: return Type.CHAR_DEVICE;
            case 0x6000: return Type.BLOCK_DEVICE;
            default: return Type.OTHER;
        }
    }

    /** {@return whether the entry is a directory (a link to one is not)} */
    public boolean isDirectory() {
        return (mode & 0xF000) == 0x4000;
    }

    /** {@return type and permissions as {@code ls -l} shows them, e.g. {@code drwxr-xr-x} or {@code -rwsr-xr-t}} */
    public String modeString() {
        char[] s = new char[10];
        s[0] = type().letter();
        String rwx = "rwxrwxrwx";
        for (int i = 0; i < 9; i++) {
            s[i + 1] = (mode & (0400 >> i)) != 0 ? rwx.charAt(i) : '-';
        }
        special(s, 3, 04000, 's');
        special(s, 6, 02000, 's');
        special(s, 9, 01000, 't');
        return new String(s);
    }

    private void special(char[] s, int at, int bit, char letter) {
        if ((mode & bit) != 0) {
            s[at] = s[at] == 'x' ? letter : Character.toUpperCase(letter);
        }
    }

    /** {@return mode string, size and the name in display form} */
    @Override
    public String toString() {
        return modeString() + " " + size + " " + FileNames.display(nameBytes());
    }
}
