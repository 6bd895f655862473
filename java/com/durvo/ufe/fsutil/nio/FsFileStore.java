package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.FileSysStatUnix;
import com.durvo.ufe.fsutil.FileSystemStat;
import com.durvo.ufe.fsutil.Mount;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import java.io.IOException;
import java.nio.file.FileStore;
import java.nio.file.attribute.BasicFileAttributeView;
import java.nio.file.attribute.FileAttributeView;
import java.nio.file.attribute.FileOwnerAttributeView;
import java.nio.file.attribute.FileStoreAttributeView;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.UserDefinedFileAttributeView;
import java.util.Arrays;

/**
 * A mounted file system: its name (the mounted device or source) and type
 * from the process's mount table ({@link Mount}), and its statistics, read
 * afresh at each call. Its attribute names are documented for users on
 * {@link FsFileSystem}.
 */
final class FsFileStore extends FileStore {
    private static final long ST_RDONLY = 1;

    private final FsPath file;
    private final Mount mount;

    FsFileStore(FsPath file, Mount mount) {
        this.file = file;
        this.mount = mount;
    }

    /** The store of an existing file: the last mount of its device, else the mount whose directory holds it. */
    static FsFileStore of(FsPath file) throws IOException {
        long dev;
        byte[] real;
        try {
            dev = StatValues.dev(Natives.stat(file.bytes(), true), 0);
            real = Natives.realpath(file.bytes());
        } catch (NativeErrno e) {
            throw e.forFile(file.display());
        }
        Mount found = null;
        Mount holding = null;
        int holdingLength = -1;
        for (Mount m : Mount.all()) {
            if (m.device() == dev) {
                found = m;
            }
            byte[] dir = m.mountPointBytes();
            if (holds(dir, real) && dir.length >= holdingLength) {
                holding = m;
                holdingLength = dir.length;
            }
        }
        Mount m = found != null ? found : holding;
        if (m == null) {
            throw new IOException("no mount of " + file.display() + " in /proc/self/mountinfo");
        }
        return new FsFileStore(file, m);
    }

    private static boolean holds(byte[] dir, byte[] path) {
        if (dir.length == 1) {
            return true;
        }
        return path.length >= dir.length && Arrays.equals(dir, 0, dir.length, path, 0, dir.length)
                && (path.length == dir.length || path[dir.length] == '/');
    }

    /** The statistics of the file system holding the store's file, read now. */
    private FileSysStatUnix statistics() throws IOException {
        return FileSystemStat.forCurrentOs().getFileSysStat(file.bytes());
    }

    /** {@return the mounted device or source, as the library's string} */
    @Override
    public String name() {
        return mount.source();
    }

    @Override
    public String type() {
        return mount.type();
    }

    @Override
    public boolean isReadOnly() {
        try {
            return (statistics().flag() & ST_RDONLY) != 0;
        } catch (IOException e) {
            throw new java.io.UncheckedIOException(e);
        }
    }

    @Override
    public long getTotalSpace() throws IOException {
        return statistics().totalBytes();
    }

    @Override
    public long getUsableSpace() throws IOException {
        return statistics().availableBytes();
    }

    @Override
    public long getUnallocatedSpace() throws IOException {
        return statistics().freeBytes();
    }

    /** {@return the fundamental block size ({@code f_frsize}), the unit of the block counts} */
    @Override
    public long getBlockSize() throws IOException {
        return statistics().frsize();
    }

    /** The {@code user} and {@code dos} views where the file system keeps user attributes, found by asking the file for one. */
    @Override
    public boolean supportsFileAttributeView(Class<? extends FileAttributeView> type) {
        return type == BasicFileAttributeView.class || type == PosixFileAttributeView.class
                || type == FileOwnerAttributeView.class
                || (type == UserDefinedFileAttributeView.class || type == java.nio.file.attribute.DosFileAttributeView.class)
                        && FsUserAttributes.supported(file);
    }

    @Override
    public boolean supportsFileAttributeView(String name) {
        return name.equals("basic") || name.equals("posix") || name.equals("unix") || name.equals("owner")
                || (name.equals("user") || name.equals("dos")) && FsUserAttributes.supported(file);
    }

    @Override
    public <V extends FileStoreAttributeView> V getFileStoreAttributeView(Class<V> type) {
        return null;
    }

    @Override
    public Object getAttribute(String attribute) throws IOException {
        switch (attribute) {
            case "totalSpace": return getTotalSpace();
            case "usableSpace": return getUsableSpace();
            case "unallocatedSpace": return getUnallocatedSpace();
            default: break;
        }
        FileSysStatUnix st = statistics();
        switch (attribute) {
            case "bsize": return st.bsize();
            case "frsize": return st.frsize();
            case "blocks": return st.blocks();
            case "bfree": return st.bfree();
            case "bavail": return st.bavail();
            case "files": return st.files();
            case "ffree": return st.ffree();
            case "favail": return st.favail();
            case "fsid": return st.fsid();
            case "flag": return st.flag();
            case "namemax": return st.namemax();
            default: throw new UnsupportedOperationException("'" + attribute + "' not recognized");
        }
    }

    /** Two stores are equal when they are the same mount of the same device. */
    @Override
    public boolean equals(Object o) {
        return o instanceof FsFileStore && ((FsFileStore) o).mount.equals(mount);
    }

    @Override
    public int hashCode() {
        return mount.hashCode();
    }

    /** {@return the mount point and the source, as the default provider shows a store} */
    @Override
    public String toString() {
        return FileNames.display(mount.mountPointBytes()) + " (" + FileNames.display(mount.sourceBytes()) + ")";
    }
}
