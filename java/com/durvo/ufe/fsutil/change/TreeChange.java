package com.durvo.ufe.fsutil.change;

import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.nio.FsFileSystem;
import java.nio.file.Path;

/**
 * One difference between two snapshots of a tree (see
 * {@link TreeSnapshot#diff}): an entry added, removed, modified or renamed,
 * with what each snapshot holds of it.
 */
public final class TreeChange {
    /** What happened to an entry. */
    public enum Kind {
        /** The entry is new: {@link #before()} is null. */
        ADDED,
        /** The entry is gone: {@link #after()} is null. */
        REMOVED,
        /**
         * The entry is still at its path but differs: type, permissions, owner, group, size, modification,
         * change or creation time, or it is another file (device and inode) under the same name.
         */
        MODIFIED,
        /**
         * The file is the same (device and inode) under a new path, the old one gone; its attributes may
         * differ too.
         */
        RENAMED;

        /**
         * The letter {@code fsutil diff} shows for the kind.
         *
         * @return one of {@code A D M R}
         */
        public char letter() {
            return "ADMR".charAt(ordinal());
        }
    }

    private final Kind kind;
    private final TreeEntry before;
    private final TreeEntry after;
    private final boolean possiblyModified;
    private final boolean foundByRescan;

    TreeChange(Kind kind, TreeEntry before, TreeEntry after, boolean possiblyModified, boolean foundByRescan) {
        this.kind = kind;
        this.before = before;
        this.after = after;
        this.possiblyModified = possiblyModified;
        this.foundByRescan = foundByRescan;
    }

    /** This change as one that a rescan found. */
    TreeChange asFoundByRescan() {
        return new TreeChange(kind, before, after, possiblyModified, true);
    }

    /** {@return what happened} */
    public Kind kind() {
        return kind;
    }

    /** {@return the entry's path below the root now (for {@link Kind#REMOVED}: where it was), as exact bytes} */
    public byte[] pathBytes() {
        return (after != null ? after : before).pathBytes();
    }

    /** {@return the path before a rename, as exact bytes; null for the other kinds} */
    public byte[] oldPathBytes() {
        return kind == Kind.RENAMED ? before.pathBytes() : null;
    }

    /** {@return {@link #pathBytes()} as a relative path of the {@code fsstat} file system} */
    public Path path() {
        return FsFileSystem.get().getPath(pathBytes());
    }

    /** {@return {@link #oldPathBytes()} as a relative path of the {@code fsstat} file system; null but for a rename} */
    public Path oldPath() {
        return kind == Kind.RENAMED ? before.path() : null;
    }

    /** {@return the entry as the earlier snapshot holds it; null when {@link Kind#ADDED}} */
    public TreeEntry before() {
        return before;
    }

    /** {@return the entry as the later snapshot holds it; null when {@link Kind#REMOVED}} */
    public TreeEntry after() {
        return after;
    }

    /**
     * Whether the entry looks unchanged but was {@link TreeEntry#uncertain()} in the earlier snapshot: a
     * write of the same size in the same timestamp tick would look just so, so it is reported, as
     * {@link Kind#MODIFIED} (or {@link Kind#RENAMED}), with this flag.
     *
     * @return whether the change is only possible
     */
    public boolean possiblyModified() {
        return possiblyModified;
    }

    /**
     * Whether a watcher found this change by reading the tree again (after lost events) rather than from
     * an event; always false for a difference of two snapshots.
     *
     * @return whether it was
     */
    public boolean foundByRescan() {
        return foundByRescan;
    }

    /** {@return the change as {@code fsutil diff} prints it: a letter, "?" when only possible, the path(s)} */
    @Override
    public String toString() {
        return kind.letter() + (possiblyModified ? "? " : " ")
                + (kind == Kind.RENAMED ? FileNames.display(oldPathBytes()) + " -> " : "")
                + FileNames.display(pathBytes());
    }
}
