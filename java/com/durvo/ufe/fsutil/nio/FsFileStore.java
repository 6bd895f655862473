package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileStore;
import java.nio.file.Files;
import java.nio.file.attribute.BasicFileAttributeView;
import java.nio.file.attribute.FileAttributeView;
import java.nio.file.attribute.FileOwnerAttributeView;
import java.nio.file.attribute.FileStoreAttributeView;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.UserDefinedFileAttributeView;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * A mounted file system: its name (the mounted device or source) and type
 * from the process's mount table, and its {@code statvfs} figures, read
 * afresh at each call. Its attribute names are documented for users on
 * {@link FsFileSystem}.
 */
final class FsFileStore extends FileStore {
    private static final List<String> FIGURES = List.of("bsize", "frsize", "blocks", "bfree", "bavail", "files",
            "ffree", "favail", "fsid", "flag", "namemax");
    private static final long ST_RDONLY = 1;

    /** One line of the mount table, its paths with the table's octal escapes undone. */
    static final class Mount {
        final long major;
        final long minor;
        final byte[] dir;
        final String type;
        final byte[] source;

        Mount(long major, long minor, byte[] dir, String type, byte[] source) {
            this.major = major;
            this.minor = minor;
            this.dir = dir;
            this.type = type;
            this.source = source;
        }
    }

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
        for (Mount m : mounts()) {
            // Linux's device numbers: the major in bits 8-19 and 32-43, the minor in 0-7 and 20-31.
            long major = (dev >>> 8 & 0xFFF) | (dev >>> 32 & ~0xFFFL);
            long minor = (dev & 0xFF) | (dev >>> 12 & ~0xFFL);
            if (m.major == major && m.minor == minor) {
                found = m;
            }
            if (holds(m.dir, real) && (holding == null || m.dir.length >= holding.dir.length)) {
                holding = m;
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

    static List<Mount> mounts() throws IOException {
        byte[] table = Files.readAllBytes(FsFileSystemProvider.jdkFileSystem().getPath("/proc/self/mountinfo"));
        List<Mount> mounts = new ArrayList<>();
        int start = 0;
        for (int i = 0; i <= table.length; i++) {
            if (i == table.length || table[i] == '\n') {
                if (i > start) {
                    Mount m = parse(Arrays.copyOfRange(table, start, i));
                    if (m != null) {
                        mounts.add(m);
                    }
                }
                start = i + 1;
            }
        }
        return mounts;
    }

    /** "id parent major:minor root dir options [optional...] - type source superoptions". */
    private static Mount parse(byte[] line) {
        List<byte[]> fields = new ArrayList<>();
        int start = 0;
        for (int i = 0; i <= line.length; i++) {
            if (i == line.length || line[i] == ' ') {
                fields.add(unescape(Arrays.copyOfRange(line, start, i)));
                start = i + 1;
            }
        }
        int dash = -1;
        for (int i = 6; i < fields.size(); i++) {
            if (fields.get(i).length == 1 && fields.get(i)[0] == '-') {
                dash = i;
                break;
            }
        }
        if (dash < 0 || dash + 2 >= fields.size()) {
            return null;
        }
        String[] dev = new String(fields.get(2), StandardCharsets.ISO_8859_1).split(":");
        try {
            return new Mount(Long.parseLong(dev[0]), Long.parseLong(dev[1]), fields.get(4),
                    new String(fields.get(dash + 1), StandardCharsets.ISO_8859_1), fields.get(dash + 2));
        } catch (NumberFormatException | ArrayIndexOutOfBoundsException e) {
            return null;
        }
    }

    /** The table writes space, tab, newline and backslash as \ooo. */
    private static byte[] unescape(byte[] field) {
        ByteArrayOutputStream out = new ByteArrayOutputStream(field.length);
        for (int i = 0; i < field.length; i++) {
            if (field[i] == '\\' && i + 3 < field.length + 0 && isOctal(field[i + 1]) && isOctal(field[i + 2])
                    && isOctal(field[i + 3])) {
                out.write((field[i + 1] - '0') << 6 | (field[i + 2] - '0') << 3 | (field[i + 3] - '0'));
                i += 3;
            } else {
                out.write(field[i]);
            }
        }
        return out.toByteArray();
    }

    private static boolean isOctal(byte b) {
        return b >= '0' && b <= '7';
    }

    private long[] figures() throws IOException {
        long[] out = new long[FIGURES.size()];
        try {
            Natives.statvfs(file.bytes(), out);
        } catch (NativeErrno e) {
            throw e.forFile(file.display());
        }
        return out;
    }

    /** {@return the mounted device or source, as the library's string} */
    @Override
    public String name() {
        return FileNames.fromBytes(mount.source);
    }

    @Override
    public String type() {
        return mount.type;
    }

    @Override
    public boolean isReadOnly() {
        try {
            return (figures()[9] & ST_RDONLY) != 0;
        } catch (IOException e) {
            throw new java.io.UncheckedIOException(e);
        }
    }

    @Override
    public long getTotalSpace() throws IOException {
        long[] f = figures();
        return f[2] * f[1];
    }

    @Override
    public long getUsableSpace() throws IOException {
        long[] f = figures();
        return f[4] * f[1];
    }

    @Override
    public long getUnallocatedSpace() throws IOException {
        long[] f = figures();
        return f[3] * f[1];
    }

    /** {@return the fundamental block size ({@code f_frsize}), which the space figures count in} */
    @Override
    public long getBlockSize() throws IOException {
        return figures()[1];
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
        int at = FIGURES.indexOf(attribute);
        if (at < 0) {
            throw new UnsupportedOperationException("'" + attribute + "' not recognized");
        }
        return figures()[at];
    }

    /** Two stores are equal when they are the same mount of the same device. */
    @Override
    public boolean equals(Object o) {
        if (!(o instanceof FsFileStore)) {
            return false;
        }
        Mount m = ((FsFileStore) o).mount;
        return m.major == mount.major && m.minor == mount.minor && Arrays.equals(m.dir, mount.dir);
    }

    @Override
    public int hashCode() {
        return Long.hashCode(mount.major * 31 + mount.minor) ^ Arrays.hashCode(mount.dir);
    }

    /** {@return the mount point and the source, as the default provider shows a store} */
    @Override
    public String toString() {
        return FileNames.display(mount.dir) + " (" + FileNames.display(mount.source) + ")";
    }
}
