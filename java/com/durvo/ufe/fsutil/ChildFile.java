package com.durvo.ufe.fsutil;

import java.time.Instant;

/**
 * One directory entry as the native library delivers it: the bare name and the
 * thirteen {@code lstat} attributes. A symbolic link describes the link itself.
 *
 * <p>The name is the library's Java form of the bytes on disk: names that are
 * valid in the default charset read as they are; see {@link FileNames} for the
 * others and for getting the exact bytes back.
 */
public class ChildFile {
    /** File types, from the type bits of {@link #mode()}. */
    public enum Type {
        REGULAR('-'), DIRECTORY('d'), SYMLINK('l'), FIFO('p'), SOCKET('s'), CHAR_DEVICE('c'), BLOCK_DEVICE('b'),
        OTHER('?');

        private final char letter;

        Type(char letter) {
            this.letter = letter;
        }

        /** The letter {@code ls -l} shows for the type. */
        public char letter() {
            return letter;
        }
    }

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

    /** The entry's bare name, as the library carries it to Java. */
    public String name() {
        return name;
    }

    public long device() {
        return device;
    }

    public long inode() {
        return inode;
    }

    /** The type and permission bits, as {@code st_mode}. */
    public int mode() {
        return mode;
    }

    public int links() {
        return links;
    }

    /** The owner's user id; ids of 2^31 and above read negative (use {@link Integer#toUnsignedString}). */
    public int uid() {
        return uid;
    }

    public int gid() {
        return gid;
    }

    public long rdev() {
        return rdev;
    }

    public long size() {
        return size;
    }

    public long blockSize() {
        return blockSize;
    }

    /** Allocated blocks of 512 bytes. */
    public long blocks() {
        return blocks;
    }

    public Instant accessTime() {
        return Instant.ofEpochSecond(accessTime);
    }

    public Instant modifiedTime() {
        return Instant.ofEpochSecond(modifiedTime);
    }

    public Instant changeTime() {
        return Instant.ofEpochSecond(changeTime);
    }

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

    public boolean isDirectory() {
        return type() == Type.DIRECTORY;
    }

    /** Type and permissions as {@code ls -l} shows them, e.g. {@code drwxr-xr-x} or {@code -rwsr-xr-t}. */
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

    @Override
    public String toString() {
        return modeString() + " " + size + " " + FileNames.display(name);
    }
}
