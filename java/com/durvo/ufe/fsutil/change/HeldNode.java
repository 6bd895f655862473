package com.durvo.ufe.fsutil.change;

import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import java.util.Arrays;
import java.util.HashMap;
import java.util.Map;

/**
 * One entry of the tree a {@link TreeWatcher} holds: its name under its parent, its attributes as the
 * natives deliver them (the stat values, then the creation time), and for a directory its children and
 * the inotify watch on it. A node that moves keeps its subtree and watches; only its parent and name
 * change, so paths are made from the parents on demand.
 */
final class HeldNode {
    /** Longs of {@link #attrs}: the stat values, the creation time's seconds and nanoseconds, {@link #READ_BITS}. */
    static final int ATTRS = NativeConstants.STAT_LONGS + 3;
    /** In {@link #attrs}: the attribute bits read (no creation time where the file system keeps none). */
    static final int READ_BITS = ATTRS - 1;

    Name name;
    /** Null for the root, and for a node moved away whose destination is not known yet. */
    HeldNode parent;
    final long[] attrs;
    /** By name, for a directory; null otherwise. */
    Map<Name, HeldNode> children;
    /** The inotify watch descriptor, -1 while the directory is not watched. */
    int wd = -1;

    HeldNode(Name name, HeldNode parent, long[] attrs) {
        this.name = name;
        this.parent = parent;
        this.attrs = attrs;
        if (isDirectory()) {
            children = new HashMap<>(4);
        }
    }

    boolean isDirectory() {
        return StatValues.typeBits(StatValues.mode(attrs, 0)) == NativeConstants.S_IFDIR;
    }

    /**
     * Whether {@code values} (in {@link #attrs}' layout) are of this very file: device, inode, type and,
     * where known, creation time, as file systems give a freed inode's number to the next new file.
     */
    boolean isSameFile(long[] values) {
        return StatValues.sameFile(attrs, values)
                && StatValues.typeBits(StatValues.mode(attrs, 0)) == StatValues.typeBits(StatValues.mode(values, 0))
                && ((attrs[READ_BITS] & values[READ_BITS] & NativeConstants.BTIME_BIT) == 0
                        || StatValues.birthSeconds(attrs, 0) == StatValues.birthSeconds(values, 0)
                        && StatValues.birthNanos(attrs, 0) == StatValues.birthNanos(values, 0));
    }

    /**
     * Takes {@code values} of the same file; whether anything a snapshot keeps changed (access time,
     * blocks and block size are not kept: blocks change with delayed allocation, and no event says so).
     */
    boolean update(long[] values) {
        boolean changed = false;
        for (int i = 0; i < ATTRS; i++) {
            if (i != NativeConstants.ST_ATIME && i != NativeConstants.ST_ATIME_NSEC && i != NativeConstants.ST_BLOCKS
                    && i != NativeConstants.ST_BLKSIZE && attrs[i] != values[i]) {
                attrs[i] = values[i];
                changed = true;
            }
        }
        return changed;
    }

    /** Whether this is still in the tree: its parents lead to {@code root}. */
    boolean isIn(HeldNode root) {
        HeldNode n = this;
        while (n.parent != null) {
            n = n.parent;
        }
        return n == root;
    }

    /** The path relative to the root, names joined by '/'; empty for the root. */
    byte[] path() {
        int length = -1;
        for (HeldNode n = this; n.parent != null; n = n.parent) {
            length += n.name.bytes.length + 1;
        }
        if (length < 0) {
            return new byte[0];
        }
        byte[] out = new byte[length];
        int end = length;
        for (HeldNode n = this; n.parent != null; n = n.parent) {
            byte[] b = n.name.bytes;
            System.arraycopy(b, 0, out, end - b.length, b.length);
            end -= b.length + 1;
            if (end > 0) {
                out[end] = '/';
            }
        }
        return out;
    }

    /** A name as a map key. */
    static final class Name {
        final byte[] bytes;
        private final int hash;

        Name(byte[] bytes) {
            this.bytes = bytes;
            this.hash = Arrays.hashCode(bytes);
        }

        @Override
        public boolean equals(Object o) {
            return o instanceof Name n && n.hash == hash && Arrays.equals(n.bytes, bytes);
        }

        @Override
        public int hashCode() {
            return hash;
        }
    }
}
