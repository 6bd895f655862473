package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import java.io.IOException;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.GroupPrincipal;
import java.nio.file.attribute.PosixFileAttributes;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.UserPrincipal;
import java.util.EnumSet;
import java.util.Set;

/**
 * The stat record of a file: the values of one {@code statx}, read as
 * {@link PosixFileAttributes}, and by the names of the {@code unix} view
 * ({@link FsAttributeNames}).
 */
final class FsAttributes implements PosixFileAttributes {
    /** A mode's file type bits, and the types the library tells apart. */
    static final int TYPE_MASK = 0xF000;
    static final int DIRECTORY = 0x4000;
    static final int SYMLINK = 0xA000;
    static final int REGULAR = 0x8000;

    private final long[] st;

    private FsAttributes(long[] st) {
        this.st = st;
    }

    static FsAttributes read(FsPath p, boolean follow) throws IOException {
        return read(FsPlace.of(p), follow);
    }

    static FsAttributes read(FsPlace place, boolean follow) throws IOException {
        return new FsAttributes(place.call((dfd, path) -> {
            long[] out = new long[NativeConstants.STATX_LONGS];
            Natives.stat(dfd, path, follow, out);
            return out;
        }, NativeErrno::forAttributesOf));
    }

    /** The statx values of {@code p}; a failure as {@code failure} words it, naming the path. */
    static long[] stat(FsPath p, boolean follow, FsPlace.Failure failure) throws IOException {
        try {
            return Natives.stat(p.bytes(), follow);
        } catch (NativeErrno e) {
            throw failure.of(e, p.display());
        }
    }

    private static FileTime time(long seconds, long nanos) {
        return FileTime.from(java.time.Instant.ofEpochSecond(seconds, nanos));
    }

    private int type() {
        return (int) st[2] & TYPE_MASK;
    }

    @Override
    public FileTime lastModifiedTime() {
        return time(st[12], st[13]);
    }

    @Override
    public FileTime lastAccessTime() {
        return time(st[10], st[11]);
    }

    /** The birth time where the file system keeps one; else, as the default provider, the modification time. */
    @Override
    public FileTime creationTime() {
        return st[18] != 0 ? time(st[16], st[17]) : lastModifiedTime();
    }

    /** {@return the birth time, or null where the file system keeps none} */
    FileTime birthTime() {
        return st[18] != 0 ? time(st[16], st[17]) : null;
    }

    @Override
    public boolean isRegularFile() {
        return type() == REGULAR;
    }

    @Override
    public boolean isDirectory() {
        return type() == DIRECTORY;
    }

    @Override
    public boolean isSymbolicLink() {
        return type() == SYMLINK;
    }

    @Override
    public boolean isOther() {
        return !isRegularFile() && !isDirectory() && !isSymbolicLink();
    }

    @Override
    public long size() {
        return st[7];
    }

    /** The device and inode, equal for two paths of the same file. */
    @Override
    public Object fileKey() {
        return new FileKey(st[0], st[1]);
    }

    /** What {@link BasicFileAttributes#fileKey()} gives. */
    record FileKey(long dev, long ino) {
        @Override
        public String toString() {
            return "(dev=" + Long.toHexString(dev) + ",ino=" + ino + ")";
        }
    }

    @Override
    public UserPrincipal owner() {
        return new FsPrincipals.Principal((int) st[4], false);
    }

    @Override
    public GroupPrincipal group() {
        return new FsPrincipals.Group((int) st[5]);
    }

    @Override
    public Set<PosixFilePermission> permissions() {
        Set<PosixFilePermission> perms = EnumSet.noneOf(PosixFilePermission.class);
        for (PosixFilePermission p : PosixFilePermission.values()) {
            if ((st[2] & (0400 >> p.ordinal())) != 0) {
                perms.add(p);
            }
        }
        return perms;
    }

    /** These attributes as basic ones only, for the basic view. */
    BasicFileAttributes basic() {
        FsAttributes a = this;
        return new BasicFileAttributes() {
            @Override public FileTime lastModifiedTime() { return a.lastModifiedTime(); }
            @Override public FileTime lastAccessTime() { return a.lastAccessTime(); }
            @Override public FileTime creationTime() { return a.creationTime(); }
            @Override public boolean isRegularFile() { return a.isRegularFile(); }
            @Override public boolean isDirectory() { return a.isDirectory(); }
            @Override public boolean isSymbolicLink() { return a.isSymbolicLink(); }
            @Override public boolean isOther() { return a.isOther(); }
            @Override public long size() { return a.size(); }
            @Override public Object fileKey() { return a.fileKey(); }
        };
    }

    // ---- The unix view's values

    long dev() {
        return st[0];
    }

    long ino() {
        return st[1];
    }

    int mode() {
        return (int) st[2];
    }

    /** The link count, {@code Integer.MAX_VALUE} at most. */
    int nlink() {
        return (int) Math.min(st[3], Integer.MAX_VALUE);
    }

    int uid() {
        return (int) st[4];
    }

    int gid() {
        return (int) st[5];
    }

    long rdev() {
        return st[6];
    }

    long blksize() {
        return st[8];
    }

    long blocks() {
        return st[9];
    }

    /** The time of the last status change. */
    FileTime ctime() {
        return time(st[14], st[15]);
    }
}
