package com.durvo.ufe.fsutil.change;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import com.durvo.ufe.fsutil.nio.FsFileSystem;
import java.nio.file.Path;
import java.time.Instant;

/**
 * One entry of a {@link TreeSnapshot}: its path below the snapshot's root as
 * exact bytes, and the attributes the snapshot keeps of it. A view of the
 * snapshot, made when asked for; two views of one entry are equal.
 *
 * <p>An entry whose attributes could not be read (an entry of a directory that
 * may be read but not searched) has its name and, where the directory gives
 * it, its type; {@link #hasAttributes()} is false and every other accessor
 * throws {@link IllegalStateException}.
 */
public final class TreeEntry {
    private final EntryColumns columns;
    private final int index;

    TreeEntry(EntryColumns columns, int index) {
        this.columns = columns;
        this.index = index;
    }

    int index() {
        return index;
    }

    /**
     * The path below the snapshot's root: the names of the directories on the way and the entry's own,
     * joined by {@code /}.
     *
     * @return a new array
     */
    public byte[] pathBytes() {
        return columns.pathBytes(index);
    }

    /**
     * The path below the root on the {@code fsstat} file system, relative: resolve it against
     * {@link TreeSnapshot#root()} to reach the file.
     *
     * @return the relative path
     */
    public Path path() {
        return FsFileSystem.get().getPath(pathBytes());
    }

    /** {@return the name's bytes, a new array} */
    public byte[] nameBytes() {
        return java.util.Arrays.copyOfRange(columns.names, columns.nameStart(index), columns.nameEnd[index]);
    }

    /** {@return the file type; {@link ChildFile.Type#OTHER} when not even the type could be read} */
    public ChildFile.Type type() {
        return columns.mode(index) == 0 ? ChildFile.Type.OTHER : StatValues.type(columns.mode(index));
    }

    /** {@return whether the entry is a directory} */
    public boolean isDirectory() {
        return type() == ChildFile.Type.DIRECTORY;
    }

    /** {@return whether the attributes were read: false when only the name and type are known} */
    public boolean hasAttributes() {
        return !columns.is(index, EntryColumns.UNREAD);
    }

    /**
     * Whether the entry was read too soon after its last modification for a later write of the same size
     * to change what is kept of it (see {@link TreeSnapshot}); the next {@link TreeSnapshot#diff} reports
     * it as possibly modified. An entry without attributes is uncertain too.
     *
     * @return whether it is
     */
    public boolean uncertain() {
        return columns.is(index, EntryColumns.UNCERTAIN);
    }

    /** {@return the type and permission bits ({@code st_mode})} */
    public int mode() {
        need();
        return columns.mode(index);
    }

    /** {@return the owner's user id, read as {@link ChildFile#uid()} is} */
    public int uid() {
        need();
        return columns.uid[index];
    }

    /** {@return the group id, read as {@link ChildFile#gid()} is} */
    public int gid() {
        need();
        return columns.gid[index];
    }

    /** {@return the size in bytes} */
    public long size() {
        need();
        return columns.size[index];
    }

    /** {@return the inode number} */
    public long inode() {
        need();
        return columns.inode[index];
    }

    /** {@return the id of the device holding the entry ({@code st_dev})} */
    public long device() {
        need();
        return columns.device(index);
    }

    /** {@return the number of hard links} */
    public int links() {
        need();
        return columns.links[index];
    }

    /** {@return the time of last modification} */
    public Instant modifiedTime() {
        need();
        return instant(columns.mtime[index]);
    }

    /** {@return the time of the last status change} */
    public Instant changeTime() {
        need();
        return instant(columns.ctime[index]);
    }

    /** {@return the creation time; null where the file system keeps none} */
    public Instant creationTime() {
        need();
        long t = columns.btime[index];
        return t == EntryColumns.NO_TIME ? null : instant(t);
    }

    private static Instant instant(long nanos) {
        return Instant.ofEpochSecond(Math.floorDiv(nanos, 1_000_000_000L), Math.floorMod(nanos, 1_000_000_000L));
    }

    private void need() {
        if (!hasAttributes()) {
            throw new IllegalStateException("the attributes of " + FileNames.display(pathBytes())
                    + " could not be read when the snapshot was taken");
        }
    }

    /** {@return whether {@code o} is a view of the same entry of the same snapshot} */
    @Override
    public boolean equals(Object o) {
        return o instanceof TreeEntry && ((TreeEntry) o).columns == columns && ((TreeEntry) o).index == index;
    }

    @Override
    public int hashCode() {
        return System.identityHashCode(columns) * 31 + index;
    }

    /** {@return the type letter, the size and the path in display form} */
    @Override
    public String toString() {
        return type().letter() + " " + (hasAttributes() ? columns.size[index] : "?") + " "
                + FileNames.display(pathBytes());
    }
}
