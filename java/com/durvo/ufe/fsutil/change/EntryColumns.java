package com.durvo.ufe.fsutil.change;

import java.util.Arrays;

/**
 * A snapshot's entries as parallel columns, in path order: depth first, the
 * entries of a directory right after it, sorted by the unsigned bytes of their
 * names. Each entry keeps its name alone, relative to its parent, so a path is
 * stored once however deep the tree; 64 bytes per entry besides the names.
 */
final class EntryColumns {
    /** A creation time the file system does not keep. */
    static final long NO_TIME = Long.MIN_VALUE;
    // The bits of an entry's kind: the mode (type and permissions), the device's index, two flags.
    static final int MODE_BITS = 0xFFFF;
    static final int DEVICE_SHIFT = 16;
    static final int MAX_DEVICES = 1 << 14;
    /** The entry's attributes could not be read: it has its name and, where known, its type. */
    static final int UNREAD = 1 << 30;
    /** Read too soon after its last modification to rule out a write of the same size in the same tick. */
    static final int UNCERTAIN = 1 << 31;
    /** The kind bits a snapshot compares: the flags say how it was read, not what it is. */
    static final int COMPARED = ~(UNREAD | UNCERTAIN);

    final int count;
    /** The parent's index, -1 under the root; always below the entry's own. */
    final int[] parent;
    /** Where the entry's name ends in {@link #names}; it starts where the previous one's ends. */
    final int[] nameEnd;
    final int[] kind;
    final int[] uid;
    final int[] gid;
    final int[] links;
    final long[] size;
    final long[] inode;
    /** Times in nanoseconds since the epoch. */
    final long[] mtime;
    final long[] ctime;
    final long[] btime;
    final byte[] names;
    /** The device numbers that {@link #kind} indexes. */
    final long[] devices;
    /** Where each entry's subtree ends, made on first use. */
    private volatile int[] ends;

    EntryColumns(int count, int[] parent, int[] nameEnd, int[] kind, int[] uid, int[] gid, int[] links,
            long[] size, long[] inode, long[] mtime, long[] ctime, long[] btime, byte[] names, long[] devices) {
        this.count = count;
        this.parent = parent;
        this.nameEnd = nameEnd;
        this.kind = kind;
        this.uid = uid;
        this.gid = gid;
        this.links = links;
        this.size = size;
        this.inode = inode;
        this.mtime = mtime;
        this.ctime = ctime;
        this.btime = btime;
        this.names = names;
        this.devices = devices;
    }

    int nameStart(int i) {
        return i == 0 ? 0 : nameEnd[i - 1];
    }

    int mode(int i) {
        return kind[i] & MODE_BITS;
    }

    /** The device number; 0 for an entry whose attributes were not read. */
    long device(int i) {
        return is(i, UNREAD) ? 0 : devices[(kind[i] & COMPARED) >>> DEVICE_SHIFT];
    }

    boolean is(int i, int flag) {
        return (kind[i] & flag) != 0;
    }

    /** Compares the name of {@code i} with that of {@code j} in {@code other}, as unsigned bytes. */
    int compareNames(int i, EntryColumns other, int j) {
        return Arrays.compareUnsigned(names, nameStart(i), nameEnd[i], other.names, other.nameStart(j),
                other.nameEnd[j]);
    }

    /** The entry's path below the root: its ancestors' names and its own, joined by {@code /}. */
    byte[] pathBytes(int i) {
        int length = -1;
        for (int e = i; e >= 0; e = parent[e]) {
            length += nameEnd[e] - nameStart(e) + 1;
        }
        byte[] path = new byte[length];
        int end = length;
        for (int e = i; e >= 0; e = parent[e]) {
            int n = nameEnd[e] - nameStart(e);
            System.arraycopy(names, nameStart(e), path, end - n, n);
            end -= n + 1;
            if (end > 0) {
                path[end] = '/';
            }
        }
        return path;
    }

    /** The index just past the subtree of each entry: its descendants are the entries between. */
    int[] ends() {
        int[] e = ends;
        if (e == null) {
            e = new int[count];
            for (int i = count - 1; i >= 0; i--) {
                e[i] = Math.max(e[i], i + 1);
                int p = parent[i];
                if (p >= 0 && e[i] > e[p]) {
                    e[p] = e[i];
                }
            }
            ends = e;
        }
        return e;
    }

    /** The entry at {@code path} (names joined by {@code /}), or -1. */
    int find(byte[] path) {
        int[] end = ends();
        int from = 0;
        int stop = count;
        int found = -1;
        int at = 0;
        while (at <= path.length) {
            int slash = at;
            while (slash < path.length && path[slash] != '/') {
                slash++;
            }
            if (slash > at) {  // an empty component ("a//b", a trailing "/") names nothing new
                found = -1;
                for (int i = from; i < stop; i = end[i]) {
                    if (Arrays.equals(names, nameStart(i), nameEnd[i], path, at, slash)) {
                        found = i;
                        break;
                    }
                }
                if (found < 0) {
                    return -1;
                }
                from = found + 1;
                stop = end[found];
            }
            at = slash + 1;
        }
        return found;
    }

    /** Whether both hold the same entries with the same attributes, how they were read aside. */
    boolean sameTree(EntryColumns o) {
        if (count != o.count || !Arrays.equals(parent, o.parent) || !Arrays.equals(nameEnd, o.nameEnd)
                || !Arrays.equals(names, o.names) || !Arrays.equals(uid, o.uid) || !Arrays.equals(gid, o.gid)
                || !Arrays.equals(links, o.links) || !Arrays.equals(size, o.size)
                || !Arrays.equals(inode, o.inode) || !Arrays.equals(mtime, o.mtime)
                || !Arrays.equals(ctime, o.ctime) || !Arrays.equals(btime, o.btime)) {
            return false;
        }
        for (int i = 0; i < count; i++) {
            if (mode(i) != o.mode(i) || device(i) != o.device(i)) {
                return false;
            }
        }
        return true;
    }

    int hashTree() {
        return 31 * Arrays.hashCode(names) + Arrays.hashCode(mtime);
    }
}
