package com.durvo.ufe.fsutil;

import com.durvo.ufe.fsutil.internal.names.NameBytes;
import com.durvo.ufe.fsutil.internal.engine.EntryAccess;
import com.durvo.ufe.fsutil.internal.engine.WalkPlan;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import com.durvo.ufe.fsutil.nio.FsFileSystem;
import java.io.IOException;
import java.time.Instant;
import java.util.Arrays;
import java.util.function.Consumer;

/**
 * One directory entry: its name, exactly as on disk and as the library's
 * string, and its {@code lstat} attributes. A symbolic link describes the
 * link itself.
 *
 * <p>{@link #name()} is the library's string for the name's bytes: a name
 * valid in the default charset reads as it is; see {@link FileNames} for the
 * others. {@link #nameBytes()} and {@link #pathBytes()} are the exact bytes.
 *
 * <p>An entry of a listing or walk carries the attributes its
 * {@link WalkOptions} asked for (by default every {@code lstat} value); the
 * accessor of any other throws {@link IllegalStateException} naming it, as
 * does every accessor but the type's of an entry whose attributes could not be
 * read ({@link #attributeError()}). No attribute reads as zero for want of a
 * value.
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
    private long creationTime;
    private long creationNanos;
    private long mountId;
    /** The attribute bits read (see {@link NativeConstants}), and those asked for. */
    private int have = NativeConstants.LSTAT;
    private int want = NativeConstants.LSTAT;
    /** The errno of a failed examination, else 0. */
    private int error;
    /** The exact bytes of the name; null for an entry of the one-at-a-time route until asked for. */
    byte[] nameBytes;
    private final byte[] parent;
    private final int depth;

    static {
        EntryAccess.set(new EntryAccess.Maker() {
            @Override
            public ChildFile entry(byte[] parent, byte[] names, int from, int length, long[] values, int at, int depth,
                    int want) {
                return new ChildFile(parent, names, from, length, values, at, depth, want);
            }

            @Override
            public byte[] nameBytes(ChildFile entry) {
                return entry.nameBytes;
            }

            @Override
            public WalkPlan plan(WalkOptions options) {
                return options.plan;
            }

            @Override
            public Consumer<? super IOException> onError(WalkOptions options) {
                return options.onError;
            }
        });
    }

    /** An entry to be filled by {@code setBasic}, for the one-at-a-time route of {@link FolderIteratorNix}. */
    private ChildFile() {
        parent = null;
        depth = 1;
    }

    /**
     * An entry of a batch read for the attributes {@code want}: the name at {@code names[from..from+length)},
     * the values at {@code values[at..]}.
     */
    private ChildFile(byte[] parent, byte[] names, int from, int length, long[] values, int at, int depth, int want) {
        this.parent = parent;
        this.depth = depth;
        this.nameBytes = Arrays.copyOfRange(names, from, from + length);
        this.want = want;
        this.have = (int) values[at + NativeConstants.HAVE];
        this.error = (int) values[at + NativeConstants.ERROR];
        if ((have & ~NativeConstants.TYPE) != 0) {
            setStat(values, at);
            creationTime = StatValues.birthSeconds(values, at);
            creationNanos = StatValues.birthNanos(values, at);
            mountId = values[at + NativeConstants.MOUNT_ID];
        } else {
            mode = StatValues.typeBits(StatValues.mode(values, at));  // the type alone
        }
    }

    /** A single path's attributes (as stat or lstat give them): the path is the name. */
    ChildFile(byte[] path, long[] values) {
        this.parent = null;
        this.depth = 0;
        this.nameBytes = path;
        setStat(values, 0);
    }

    private void setStat(long[] v, int at) {
        device = StatValues.dev(v, at);
        inode = StatValues.ino(v, at);
        mode = StatValues.mode(v, at);
        links = StatValues.links(v, at);
        uid = StatValues.uid(v, at);
        gid = StatValues.gid(v, at);
        rdev = StatValues.rdev(v, at);
        size = StatValues.size(v, at);
        blockSize = StatValues.blockSize(v, at);
        blocks = StatValues.blocks(v, at);
        accessTime = StatValues.accessSeconds(v, at);
        accessNanos = StatValues.accessNanos(v, at);
        modifiedTime = StatValues.modifiedSeconds(v, at);
        modifiedNanos = StatValues.modifiedNanos(v, at);
        changeTime = StatValues.changeSeconds(v, at);
        changeNanos = StatValues.changeNanos(v, at);
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
            n = NameBytes.string(nameBytes, 0, nameBytes.length);
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
        return NameBytes.string(p, 0, p.length);
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
        need(EntryAttribute.DEVICE);
        return device;
    }

    /** {@return the inode number ({@code st_ino})} */
    public long inode() {
        need(EntryAttribute.INODE);
        return inode;
    }

    /** {@return the type and permission bits ({@code st_mode})} */
    public int mode() {
        need(EntryAttribute.MODE);
        return mode;
    }

    /** {@return the number of hard links; a count above 2^31-1 reads as {@link Integer#MAX_VALUE}} */
    public int links() {
        need(EntryAttribute.LINKS);
        return links;
    }

    /** {@return the owner's user id; ids of 2^31 and above read negative (see {@link Integer#toUnsignedString})} */
    public int uid() {
        need(EntryAttribute.OWNER);
        return uid;
    }

    /** {@return the group id, read as {@link #uid()} is} */
    public int gid() {
        need(EntryAttribute.GROUP);
        return gid;
    }

    /** {@return the device id of a device file ({@code st_rdev})} */
    public long rdev() {
        need(EntryAttribute.DEVICE);
        return rdev;
    }

    /** {@return the size in bytes (of a link: the length of its target)} */
    public long size() {
        need(EntryAttribute.SIZE);
        return size;
    }

    /** {@return the preferred block size for I/O} */
    public long blockSize() {
        need(EntryAttribute.DEVICE);
        return blockSize;
    }

    /** {@return the allocated blocks of 512 bytes} */
    public long blocks() {
        need(EntryAttribute.BLOCKS);
        return blocks;
    }

    /** {@return the time of last access, to the nanosecond where the file system keeps it} */
    public Instant accessTime() {
        need(EntryAttribute.ACCESS_TIME);
        return Instant.ofEpochSecond(accessTime, accessNanos);
    }

    /** {@return the time of last modification, to the nanosecond where the file system keeps it} */
    public Instant modifiedTime() {
        need(EntryAttribute.MODIFIED_TIME);
        return Instant.ofEpochSecond(modifiedTime, modifiedNanos);
    }

    /** {@return the time of the last status change, to the nanosecond where the file system keeps it} */
    public Instant changeTime() {
        need(EntryAttribute.CHANGE_TIME);
        return Instant.ofEpochSecond(changeTime, changeNanos);
    }

    /** {@return the file type, from the type bits of {@link #mode()}} */
    public Type type() {
        need(EntryAttribute.TYPE);
        return StatValues.type(mode);
    }

    /**
     * Whether the entry is a directory: a link to one is not, unless the walk follows links. An entry
     * whose type could not be read is not.
     *
     * @return whether it is a directory
     */
    public boolean isDirectory() {
        return (have & NativeConstants.TYPE) != 0 && StatValues.type(mode) == Type.DIRECTORY;
    }

    /**
     * The creation time, read only when asked for ({@link EntryAttribute#CREATION_TIME}).
     *
     * @return the time the file was created, to the nanosecond where the file system keeps it
     * @throws IllegalStateException when it was not asked for, or the file system keeps none
     */
    public Instant creationTime() {
        need(EntryAttribute.CREATION_TIME);
        return Instant.ofEpochSecond(creationTime, creationNanos);
    }

    /**
     * The id of the mount holding the entry, read only when asked for ({@link EntryAttribute#MOUNT_ID}).
     *
     * @return the mount id, as {@code /proc/self/mountinfo} numbers mounts
     * @throws IllegalStateException when it was not asked for, or the system does not give it
     */
    public long mountId() {
        need(EntryAttribute.MOUNT_ID);
        return mountId;
    }

    /**
     * Whether the entry carries an attribute: it was asked for, and the file system gave it.
     *
     * @param attribute the attribute
     * @return whether its accessor answers
     */
    public boolean has(EntryAttribute attribute) {
        return (have & attribute.bit) != 0;
    }

    /**
     * Why the entry's attributes could not be read, for example an
     * {@link java.nio.file.AccessDeniedException} for an entry of a directory that may be read but not
     * searched; the entry then has its name and, where the directory gives it, its type.
     *
     * @return the failure, naming the entry's path; null when there was none
     */
    public IOException attributeError() {
        return error == 0 ? null : Natives.describe(error).forFile(pathBytes());
    }

    private void need(EntryAttribute attribute) {
        if ((have & attribute.bit) != 0) {
            return;
        }
        String path = FileNames.display(pathBytes());
        if (error != 0) {
            throw new IllegalStateException("the attributes of " + path + " could not be read: "
                    + Natives.describe(error).getMessage());
        }
        if ((want & attribute.bit) == 0) {
            throw new IllegalStateException(attribute + " of " + path + " was not read: ask for EntryAttribute."
                    + attribute + " in the WalkOptions");
        }
        throw new IllegalStateException("the file system gives no " + attribute + " for " + path);
    }

    /** {@return type and permissions as {@code ls -l} shows them, e.g. {@code drwxr-xr-x} or {@code -rwsr-xr-t}} */
    public String modeString() {
        need(EntryAttribute.MODE);
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
        String name = FileNames.display(nameBytes());
        if ((have & NativeConstants.MODE) == 0) {
            return ((have & NativeConstants.TYPE) != 0 ? type().letter() + " " : "") + name;
        }
        return modeString() + " " + ((have & NativeConstants.SIZE) != 0 ? size + " " : "") + name;
    }
}
