package com.durvo.ufe.fsutil;

import com.durvo.ufe.fsutil.internal.loader.JdkFileSystem;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;

/**
 * A mounted file system as this process sees it: one line of the kernel's
 * mount table ({@code /proc/self/mountinfo}), with its names as their exact
 * bytes (the table's octal escapes, {@code \040} for a space, undone) and its
 * statistics read when asked for.
 *
 * <pre>{@code
 * for (Mount m : Mount.all()) {
 *     System.out.println(m.mountPoint() + " " + m.type() + " " + m.statistics().availableBytes());
 * }
 * }</pre>
 */
public final class Mount {
    private final long device;
    private final byte[] root;
    private final byte[] mountPoint;
    private final String type;
    private final byte[] source;

    private Mount(long device, byte[] root, byte[] mountPoint, String type, byte[] source) {
        this.device = device;
        this.root = root;
        this.mountPoint = mountPoint;
        this.type = type;
        this.source = source;
    }

    /**
     * Every mount of this process, in the table's order: a mount comes after
     * the one it is mounted on, and of mounts on the same directory the last
     * is the one a path there reaches.
     *
     * @return the mounts, an unmodifiable list read afresh at each call
     * @throws IOException when the table cannot be read
     */
    public static List<Mount> all() throws IOException {
        // The JDK's own file system: this provider may be the default one, and it needs no detour here.
        byte[] table = Files.readAllBytes(JdkFileSystem.get().getPath("/proc/self/mountinfo"));
        List<Mount> mounts = new ArrayList<>();
        int start = 0;
        for (int i = 0; i <= table.length; i++) {
            if (i == table.length || table[i] == '\n') {
                Mount m = i > start ? parse(Arrays.copyOfRange(table, start, i)) : null;
                if (m != null) {
                    mounts.add(m);
                }
                start = i + 1;
            }
        }
        return Collections.unmodifiableList(mounts);
    }

    /** "id parent major:minor root mountpoint options [optional...] - type source superoptions"; null if malformed. */
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
        for (int i = 6; i < fields.size() && dash < 0; i++) {
            if (fields.get(i).length == 1 && fields.get(i)[0] == '-') {
                dash = i;
            }
        }
        if (dash < 0 || dash + 2 >= fields.size()) {
            return null;
        }
        String[] majorMinor = new String(fields.get(2), StandardCharsets.ISO_8859_1).split(":", -1);
        long major;
        long minor;
        try {
            major = Long.parseLong(majorMinor[0]);
            minor = Long.parseLong(majorMinor[1]);
        } catch (NumberFormatException | ArrayIndexOutOfBoundsException e) {
            return null;
        }
        // As glibc's makedev builds st_dev: the major in bits 8-19 and 32-63, the minor in 0-7 and 20-31.
        long device = (major & 0xFFF) << 8 | (major & ~0xFFFL) << 32 | minor & 0xFF | (minor & ~0xFFL) << 12;
        return new Mount(device, fields.get(3), fields.get(4),
                new String(fields.get(dash + 1), StandardCharsets.ISO_8859_1), fields.get(dash + 2));
    }

    /** The table writes space, tab, newline and backslash as \ooo. */
    private static byte[] unescape(byte[] field) {
        byte[] out = new byte[field.length];
        int n = 0;
        for (int i = 0; i < field.length; i++) {
            if (field[i] == '\\' && i + 3 < field.length && isOctal(field[i + 1]) && isOctal(field[i + 2])
                    && isOctal(field[i + 3])) {
                out[n++] = (byte) ((field[i + 1] - '0') << 6 | (field[i + 2] - '0') << 3 | (field[i + 3] - '0'));
                i += 3;
            } else {
                out[n++] = field[i];
            }
        }
        return Arrays.copyOf(out, n);
    }

    private static boolean isOctal(byte b) {
        return b >= '0' && b <= '7';
    }

    /**
     * The device of the mounted file system, encoded as {@code stat} encodes
     * {@code st_dev} (and as {@link ChildFile#device()} delivers it), from the
     * table's major and minor numbers. The files of the mount have this
     * device, except on a file system that gives parts of itself devices of
     * their own (a btrfs subvolume).
     *
     * @return the device number
     */
    public long device() {
        return device;
    }

    /**
     * The mount point's bytes exactly as the table holds them, escapes undone.
     *
     * @return a new array
     */
    public byte[] mountPointBytes() {
        return mountPoint.clone();
    }

    /**
     * The library's string for {@link #mountPointBytes()}: handing it back to
     * the library finds the mount point.
     *
     * @return the mount point's path
     */
    public String mountPoint() {
        return FileNames.fromBytes(mountPoint);
    }

    /**
     * The directory of the mounted file system that is mounted here, as
     * exact bytes: {@code /} for a whole file system, the directory's path
     * within it for a bind mount of a part.
     *
     * @return a new array
     */
    public byte[] rootBytes() {
        return root.clone();
    }

    /**
     * The library's string for {@link #rootBytes()}.
     *
     * @return the root's path within the file system
     */
    public String root() {
        return FileNames.fromBytes(root);
    }

    /**
     * The file-system type as the kernel names it, such as {@code ext4},
     * {@code tmpfs} or {@code fuse.sshfs}; a byte past ASCII reads as its
     * ISO-8859-1 character.
     *
     * @return the type
     */
    public String type() {
        return type;
    }

    /**
     * The mounted source's bytes as the table holds them, escapes undone: a
     * device such as {@code /dev/sda1}, a server's export, or any word the
     * mounter chose (such as {@code tmpfs}).
     *
     * @return a new array
     */
    public byte[] sourceBytes() {
        return source.clone();
    }

    /**
     * The library's string for {@link #sourceBytes()}.
     *
     * @return the source
     */
    public String source() {
        return FileNames.fromBytes(source);
    }

    /**
     * The statistics of the file system at the mount point, read now. Where a
     * later mount covers this one's mount point, they are that mount's.
     *
     * @return the statistics
     * @throws IOException when {@code statvfs} of the mount point fails, as
     *                     {@link java.nio.file.AccessDeniedException} for a
     *                     mount point this process may not reach and
     *                     {@link java.nio.file.NoSuchFileException} for one
     *                     gone since the table was read, naming the mount point
     */
    public FileSysStatUnix statistics() throws IOException {
        return Statistics.of(mountPoint);
    }

    /**
     * Two mounts are equal when they show the same device's same directory at
     * the same mount point with the same type and source.
     *
     * @param o the other object
     * @return whether it is an equal mount
     */
    @Override
    public boolean equals(Object o) {
        return o instanceof Mount m && m.device == device && Arrays.equals(m.mountPoint, mountPoint)
                && Arrays.equals(m.root, root) && m.type.equals(type) && Arrays.equals(m.source, source);
    }

    @Override
    public int hashCode() {
        return Long.hashCode(device) * 31 + Arrays.hashCode(mountPoint);
    }

    /** {@return the mount as {@code mount} lists it: source, mount point and type, readable} */
    @Override
    public String toString() {
        return FileNames.display(source) + " on " + FileNames.display(mountPoint) + " type " + type;
    }
}
