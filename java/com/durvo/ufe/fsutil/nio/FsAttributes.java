package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import java.io.IOException;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.GroupPrincipal;
import java.nio.file.attribute.PosixFileAttributes;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.UserPrincipal;
import java.util.Set;

/**
 * The stat record of a file: the values of one {@code statx}, read as
 * {@link PosixFileAttributes}, and by the names of the {@code unix} view
 * ({@link FsAttributeNames}).
 */
final class FsAttributes implements PosixFileAttributes {
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

    @Override
    public FileTime lastModifiedTime() {
        return time(StatValues.modifiedSeconds(st, 0), StatValues.modifiedNanos(st, 0));
    }

    @Override
    public FileTime lastAccessTime() {
        return time(StatValues.accessSeconds(st, 0), StatValues.accessNanos(st, 0));
    }

    /** The birth time where the file system keeps one; else, as the default provider, the modification time. */
    @Override
    public FileTime creationTime() {
        FileTime birth = birthTime();
        return birth != null ? birth : lastModifiedTime();
    }

    /** {@return the birth time, or null where the file system keeps none} */
    FileTime birthTime() {
        return StatValues.birthKnown(st) ? time(StatValues.birthSeconds(st, 0), StatValues.birthNanos(st, 0)) : null;
    }

    @Override
    public boolean isRegularFile() {
        return StatValues.type(st) == ChildFile.Type.REGULAR;
    }

    @Override
    public boolean isDirectory() {
        return StatValues.type(st) == ChildFile.Type.DIRECTORY;
    }

    @Override
    public boolean isSymbolicLink() {
        return StatValues.type(st) == ChildFile.Type.SYMLINK;
    }

    @Override
    public boolean isOther() {
        return !isRegularFile() && !isDirectory() && !isSymbolicLink();
    }

    @Override
    public long size() {
        return StatValues.size(st, 0);
    }

    /** The device and inode, equal for two paths of the same file. */
    @Override
    public Object fileKey() {
        return new FileKey(StatValues.dev(st, 0), StatValues.ino(st, 0));
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
        return new FsPrincipals.Principal(StatValues.uid(st, 0), false);
    }

    @Override
    public GroupPrincipal group() {
        return new FsPrincipals.Group(StatValues.gid(st, 0));
    }

    @Override
    public Set<PosixFilePermission> permissions() {
        return FsFileMode.permissions(StatValues.mode(st, 0));
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

    // ---- The unix view's values beyond the record's (the others: StatValues on values())

    /** The statx values this record holds; callers only read them. */
    long[] values() {
        return st;
    }

    /** The time of the last status change. */
    FileTime ctime() {
        return time(StatValues.changeSeconds(st, 0), StatValues.changeNanos(st, 0));
    }
}
