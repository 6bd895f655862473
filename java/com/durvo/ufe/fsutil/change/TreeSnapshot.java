package com.durvo.ufe.fsutil.change;

import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.WalkOptions;
import com.durvo.ufe.fsutil.internal.names.NameBytes;
import com.durvo.ufe.fsutil.nio.FsFileSystem;
import java.io.IOException;
import java.nio.file.Path;
import java.time.Instant;
import java.util.AbstractList;
import java.util.Arrays;
import java.util.List;
import java.util.Objects;

/**
 * What a tree held at one moment: every entry below a root, by the exact
 * bytes of its path, with its type, permissions, owner, group, size, inode,
 * device, link count, modification and change times in nanoseconds, and
 * creation time where the file system keeps one. Access times are not kept:
 * reading a tree moves them. Two snapshots of one tree give its changes
 * ({@link #diff}); a snapshot is kept in a file ({@link #writeTo},
 * {@link #readFrom}). A snapshot never changes; it is safe to share between
 * threads.
 *
 * <pre>{@code
 * TreeSnapshot before = TreeSnapshot.readFrom(Path.of("/var/lib/app/tree.snap"));
 * TreeSnapshot now = TreeSnapshot.take(Path.of("/srv/data"));
 * for (TreeChange c : TreeSnapshot.diff(before, now)) {
 *     System.out.println(c);
 * }
 * now.writeTo(Path.of("/var/lib/app/tree.snap"));
 * }</pre>
 *
 * <h2>Writes the snapshot cannot see</h2>
 * A file written again with the same size within the file system's timestamp
 * tick (a nanosecond on most, a kernel clock tick in practice, two seconds on
 * FAT) keeps every attribute a snapshot compares. So a regular file whose
 * modification time is later than three seconds before the snapshot began is
 * kept {@linkplain TreeEntry#uncertain() uncertain} (three: FAT's two-second
 * tick, and a second for the kernel's coarse clock and a file server's clock),
 * and the next {@link #diff} reports it, if it otherwise looks unchanged, as
 * {@link TreeChange.Kind#MODIFIED} with {@link TreeChange#possiblyModified()}.
 * A writer is never missed; a file just written is reported once more than
 * needed.
 *
 * <h2>Renames</h2>
 * An entry gone from one path while the same file (device and inode) appears
 * at one new path is one {@link TreeChange.Kind#RENAMED} change. Only
 * unambiguous cases pair: when several removed or several added entries are
 * one file (hard links), they stay removals and additions. A renamed
 * directory is one change; its entries, compared name by name under the new
 * path, are reported only if they changed themselves, by their new paths.
 * A file replaced under the same name (another inode) is
 * {@link TreeChange.Kind#MODIFIED}.
 *
 * <h2>The file format</h2>
 * Version 1. Every number is little-endian; the columns hold one value per
 * entry, entries in path order (depth first, each directory's entries sorted
 * by the unsigned bytes of their names).
 * <pre>
 * offset size       content
 *      0 8          the bytes "FSSTTREE"
 *      8 4          the version, 1
 *     12 4          n, the number of entries
 *     16 4          d, the number of devices
 *     20 4          r, the length of the root's path
 *     24 8          m, the length of all names together
 *     32 8          when the snapshot began: nanoseconds since 1970-01-01T00:00Z
 *     40 8 d        the device numbers
 *        4 n each   six int columns: parent (index of the entry's directory, lower than the
 *                   entry's own; -1 for the root), end of the name (in the names, which follow
 *                   one another), kind (bits 0-15 mode, 16-29 index of the device, 30 attributes
 *                   not read, 31 uncertain), uid, gid, link count
 *        8 n each   five long columns: size, inode, modification, change and creation time (ns
 *                   since the epoch; creation time Long.MIN_VALUE when unknown)
 *        r          the root's absolute path
 *        m          the names
 *        4          CRC-32C of every byte before it
 * </pre>
 * A file is written beside its target, forced to the disk and renamed over
 * it, so a crash leaves the old file or the new one. A file that is shorter
 * or longer than its header says, fails its checksum, is of another version or
 * is no snapshot is refused with an {@link IOException} that says which.
 */
public final class TreeSnapshot {
    private final byte[] root;
    private final long takenAt;
    final EntryColumns columns;

    TreeSnapshot(byte[] root, long takenAt, EntryColumns columns) {
        this.root = root;
        this.takenAt = takenAt;
        this.columns = columns;
    }

    /**
     * The snapshot of the tree below {@code root}, read with four threads at most.
     *
     * @param root the directory
     * @return the snapshot
     * @throws IOException as {@link #take(Path, WalkOptions)}
     */
    public static TreeSnapshot take(Path root) throws IOException {
        int threads = Math.min(4, Runtime.getRuntime().availableProcessors());
        return take(root, WalkOptions.builder().threads(threads).build());
    }

    /**
     * The snapshot of the tree below {@code root}, read as {@code options} say of threads, depth,
     * directories entered and where the errors of unreadable directories go (a directory that cannot be read
     * is then kept without its entries). Whatever the options, no symbolic link is followed below the root
     * and no other file system entered (its mount point is kept), and every attribute the snapshot keeps is
     * read. The root itself is opened as {@link com.durvo.ufe.fsutil.FolderListing#walk(Path)} opens it.
     *
     * @param root    the directory: a path of the {@code fsstat:} or the default file system
     * @param options how to read
     * @return the snapshot
     * @throws java.nio.file.NotDirectoryException when {@code root} is not a directory
     * @throws java.nio.file.NoSuchFileException   when there is no such file
     * @throws IOException                          when a directory cannot be read and the options send
     *                                              errors nowhere, or the root cannot be opened
     */
    public static TreeSnapshot take(Path root, WalkOptions options) throws IOException {
        Objects.requireNonNull(options, "options");
        byte[] path = NameBytes.exactBytesOf(root);
        NameBytes.checkPath(path);
        return TreeReader.read(path, absolute(path), options);
    }

    static byte[] absolute(byte[] path) {
        if (path.length > 0 && path[0] == '/') {
            int end = path.length;
            while (end > 1 && path[end - 1] == '/') {
                end--;
            }
            return Arrays.copyOf(path, end);
        }
        byte[] cwd = NameBytes.exactBytesOf(Path.of("").toAbsolutePath());
        byte[] joined = Arrays.copyOf(cwd, cwd.length + 1 + path.length);
        joined[cwd.length] = '/';
        System.arraycopy(path, 0, joined, cwd.length + 1, path.length);
        return absolute(path.length == 0 ? cwd : joined);
    }

    /**
     * Reads a snapshot that {@link #writeTo} wrote.
     *
     * @param file the file, of any file system
     * @return the snapshot
     * @throws IOException when it cannot be read, or is no whole snapshot of this version (the message says
     *                     which: not a snapshot, another version, truncated, corrupt)
     */
    public static TreeSnapshot readFrom(Path file) throws IOException {
        return SnapshotFormat.read(file);
    }

    /**
     * Writes the snapshot to {@code file} in the format above: into a new file beside it, forced to the
     * disk, then renamed over it.
     *
     * @param file the file, of any file system that can rename atomically
     * @throws IOException when it cannot be written; {@code file} is then as it was
     */
    public void writeTo(Path file) throws IOException {
        SnapshotFormat.write(this, file);
    }

    /**
     * The changes from {@code before} to {@code after}, two snapshots of one root, in the order of their
     * paths (a removed entry by its old path), each directory before its entries. See the class comment
     * for renames and for writes too fast to see.
     *
     * @param before the earlier snapshot
     * @param after  the later one
     * @return the changes, empty when the trees are the same
     * @throws IllegalArgumentException when the snapshots are of different roots
     */
    public static List<TreeChange> diff(TreeSnapshot before, TreeSnapshot after) {
        if (!Arrays.equals(before.root, after.root)) {
            throw new IllegalArgumentException("snapshots of different roots: " + FileNames.display(before.root)
                    + " and " + FileNames.display(after.root));
        }
        return SnapshotDiff.diff(before.columns, after.columns);
    }

    /** {@return the root's absolute path on the {@code fsstat} file system} */
    public Path root() {
        return FsFileSystem.get().getPath(root);
    }

    byte[] rootBytes() {
        return root;
    }

    long takenAtNanos() {
        return takenAt;
    }

    /** {@return when the reading began: every change made before then is in the snapshot} */
    public Instant takenAt() {
        return Instant.ofEpochSecond(Math.floorDiv(takenAt, 1_000_000_000L), Math.floorMod(takenAt, 1_000_000_000L));
    }

    /** {@return the number of entries below the root} */
    public int size() {
        return columns.count;
    }

    /**
     * The entries in path order: depth first, each directory right before its entries, which are sorted by
     * the unsigned bytes of their names.
     *
     * @return an unmodifiable view
     */
    public List<TreeEntry> entries() {
        return new AbstractList<>() {
            @Override
            public TreeEntry get(int i) {
                Objects.checkIndex(i, columns.count);
                return new TreeEntry(columns, i);
            }

            @Override
            public int size() {
                return columns.count;
            }
        };
    }

    /**
     * The entry at a path below the root.
     *
     * @param pathBytes the names from the root down, joined by {@code /}
     * @return the entry, or null when the snapshot has none there
     */
    public TreeEntry entry(byte[] pathBytes) {
        int i = columns.find(pathBytes);
        return i < 0 ? null : new TreeEntry(columns, i);
    }

    /**
     * The entry at a relative path below the root.
     *
     * @param path a relative path of the {@code fsstat:} or the default file system
     * @return the entry, or null when the snapshot has none there
     */
    public TreeEntry entry(Path path) {
        return entry(NameBytes.exactBytesOf(path));
    }

    /**
     * Whether {@code o} is a snapshot of the same root holding the same entries with the same attributes;
     * when each was taken, and which entries are uncertain, are not compared.
     *
     * @param o the other object
     * @return whether they are equal
     */
    @Override
    public boolean equals(Object o) {
        return o instanceof TreeSnapshot && Arrays.equals(root, ((TreeSnapshot) o).root)
                && columns.sameTree(((TreeSnapshot) o).columns);
    }

    @Override
    public int hashCode() {
        return Arrays.hashCode(root) * 31 + columns.hashTree();
    }

    /** {@return the root, the number of entries and when it was taken} */
    @Override
    public String toString() {
        return "TreeSnapshot of " + FileNames.display(root) + ": " + columns.count + " entries, " + takenAt();
    }

    /** Now, in nanoseconds since the epoch. */
    static long now() {
        Instant t = Instant.now();
        return t.getEpochSecond() * 1_000_000_000L + t.getNano();
    }
}
