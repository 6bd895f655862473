package com.durvo.ufe.fsutil.change;

import com.durvo.ufe.fsutil.internal.engine.Threads;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import java.lang.invoke.MethodHandles;
import java.lang.invoke.VarHandle;
import java.nio.ByteOrder;
import java.util.Arrays;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * Gathers entries in any order, each under the index of its parent (-1: the
 * root), and makes a {@link TreeSnapshot} of them in path order. An entry
 * whose parent is not reached from the root is left out, so is a second entry
 * of one name in one directory: a tree read while it changes may deliver both.
 *
 * <p>A regular file is marked uncertain when its modification time is later
 * than {@link #RACY_NANOS} before the reads began: a write of the same size
 * after it was read could then carry the same time, and only its next
 * comparison can tell (see {@link TreeSnapshot}).
 */
final class SnapshotBuilder {
    /**
     * How far before the reads began a modification time must lie to be trusted: FAT's ticks of two
     * seconds, and one more for the kernel's coarse clock and for a file server's clock that differs.
     */
    static final long RACY_NANOS = 3_000_000_000L;

    private final long readSince;
    private int count;
    private int[] parent = new int[1024];
    private int[] nameEnd = new int[1024];
    /**
     * The values the snapshot keeps, an entry's together ({@link #ROW} longs: kind and owner, group and
     * links, size, inode, modification, change and creation time), so that ordering them reads one
     * place per entry and adding one writes one.
     */
    private long[] rows = new long[1024 * ROW];
    private static final int ROW = 7;
    /** The first eight bytes of each name, big-endian and zero-padded: most comparisons end there. */
    private long[] prefix = new long[1024];
    private byte[] names = new byte[16384];
    private long[] devices = new long[4];
    private int deviceCount;

    /** @param readSince when the reads began, in nanoseconds since the epoch */
    SnapshotBuilder(long readSince) {
        this.readSince = readSince;
    }

    /**
     * Adds the entry named {@code name[from..from+length)} below {@code parentIndex}, with the stat values
     * at {@code v[at..]} ({@link StatValues}' slots; the creation time where {@code have} holds
     * {@link NativeConstants#BTIME_BIT}); {@code have} holding no more than {@link NativeConstants#TYPE}
     * means the attributes could not be read. Answers the entry's index.
     */
    int add(int parentIndex, byte[] name, int from, int length, long[] v, int at, int have) {
        if (length == 0 || parentIndex < -1) {
            throw new IllegalArgumentException("an entry needs a name and a parent index of -1 or more");
        }
        if (count == parent.length) {
            grow(count + 1);
        }
        int i = count++;
        int nameStart = i == 0 ? 0 : nameEnd[i - 1];
        if (nameStart + length > names.length) {
            names = Arrays.copyOf(names, Math.max(names.length * 2, nameStart + length));
        }
        System.arraycopy(name, from, names, nameStart, length);
        nameEnd[i] = nameStart + length;
        prefix[i] = prefix(name, from, length);
        parent[i] = parentIndex;
        int mode = StatValues.mode(v, at);
        int r = i * ROW;
        if ((have & ~NativeConstants.TYPE) == 0) {
            int type = (have & NativeConstants.TYPE) != 0 ? StatValues.typeBits(mode) : 0;
            rows[r] = (long) (type | EntryColumns.UNREAD | EntryColumns.UNCERTAIN) << 32;
            rows[r + 6] = EntryColumns.NO_TIME;
            return i;
        }
        long modified = nanos(StatValues.modifiedSeconds(v, at), StatValues.modifiedNanos(v, at));
        boolean racy = StatValues.typeBits(mode) == NativeConstants.S_IFREG && modified > readSince - RACY_NANOS;
        int kind = (mode & EntryColumns.MODE_BITS) | deviceIndex(StatValues.dev(v, at)) << EntryColumns.DEVICE_SHIFT
                | (racy ? EntryColumns.UNCERTAIN : 0);
        rows[r] = (long) kind << 32 | StatValues.uid(v, at) & 0xFFFF_FFFFL;
        rows[r + 1] = (long) StatValues.gid(v, at) << 32 | StatValues.links(v, at) & 0xFFFF_FFFFL;
        rows[r + 2] = StatValues.size(v, at);
        rows[r + 3] = StatValues.ino(v, at);
        rows[r + 4] = modified;
        rows[r + 5] = nanos(StatValues.changeSeconds(v, at), StatValues.changeNanos(v, at));
        rows[r + 6] = (have & NativeConstants.BTIME_BIT) != 0
                ? nanos(StatValues.birthSeconds(v, at), StatValues.birthNanos(v, at)) : EntryColumns.NO_TIME;
        return i;
    }

    private static final VarHandle BIG_ENDIAN_LONG = MethodHandles.byteArrayViewVarHandle(long[].class,
            ByteOrder.BIG_ENDIAN);

    /** The first eight bytes of {@code name[from..from+length)}, big-endian, zero-padded. */
    private static long prefix(byte[] name, int from, int length) {
        if (length <= 0) {
            return 0;
        }
        if (from + 8 <= name.length) {
            // Eight bytes are there to read (a batch's array has room past its names): a short name is masked.
            long key = (long) BIG_ENDIAN_LONG.get(name, from);
            return length >= 8 ? key : key & -1L << 8 * (8 - length);
        }
        long key = 0;
        for (int k = 0; k < 8; k++) {
            key = key << 8 | (k < length ? name[from + k] & 0xFF : 0);
        }
        return key;
    }

    /** Replaces each parent index {@code p} of 0 or more by {@code map[p]} (an index or -1). */
    void mapParents(int[] map) {
        for (int i = 0; i < count; i++) {
            if (parent[i] >= 0) {
                parent[i] = map[parent[i]];
            }
        }
    }

    /** How many entries were added. */
    int size() {
        return count;
    }

    /**
     * Adds the entries of {@code part}, gathered apart (by another thread) since the same moment, after those
     * here: each parent index {@code p} of 0 or more becomes {@code map[p]} (as for {@link #mapParents}).
     */
    void append(SnapshotBuilder part, int[] map) {
        int n = part.count;
        if (count + n > parent.length) {
            grow(count + n);
        }
        int nameStart = count == 0 ? 0 : nameEnd[count - 1];
        int nameLength = n == 0 ? 0 : part.nameEnd[n - 1];
        if (nameStart + nameLength > names.length) {
            names = Arrays.copyOf(names, Math.max(names.length * 2, nameStart + nameLength));
        }
        System.arraycopy(part.names, 0, names, nameStart, nameLength);
        // The part numbered its devices apart: its entries' kinds take the numbers they have here.
        int[] device = new int[part.deviceCount];
        for (int d = 0; d < device.length; d++) {
            device[d] = deviceIndex(part.devices[d]);
        }
        boolean renumbered = false;
        for (int d = 0; d < device.length; d++) {
            renumbered |= device[d] != d;
        }
        for (int k = 0; k < n; k++) {
            nameEnd[count + k] = part.nameEnd[k] + nameStart;
            int p = part.parent[k];
            parent[count + k] = p >= 0 ? map[p] : p;
        }
        System.arraycopy(part.rows, 0, rows, count * ROW, n * ROW);
        long deviceBits = (long) (EntryColumns.MAX_DEVICES - 1) << EntryColumns.DEVICE_SHIFT + 32;
        for (int r = count * ROW; renumbered && r < (count + n) * ROW; r += ROW) {
            if ((rows[r] >>> 32 & EntryColumns.UNREAD) == 0) {
                int d = device[(int) ((rows[r] & deviceBits) >>> EntryColumns.DEVICE_SHIFT + 32)];
                rows[r] = rows[r] & ~deviceBits | (long) d << EntryColumns.DEVICE_SHIFT + 32;
            }
        }
        System.arraycopy(part.prefix, 0, prefix, count, n);
        count += n;
    }

    /** Seconds and nanoseconds as nanoseconds since the epoch; outside 1677..2262 the nearest (never NO_TIME). */
    static long nanos(long seconds, long nanos) {
        long limit = Long.MAX_VALUE / 1_000_000_000L - 1;
        if (seconds > limit) {
            return Long.MAX_VALUE;
        }
        if (seconds < -limit) {
            return EntryColumns.NO_TIME + 1;
        }
        return seconds * 1_000_000_000L + nanos;
    }

    private int deviceIndex(long device) {
        for (int d = deviceCount - 1; d >= 0; d--) {  // the root's device first: it is the usual one
            if (devices[d] == device) {
                return d;
            }
        }
        if (deviceCount == EntryColumns.MAX_DEVICES) {
            throw new IllegalStateException("more than " + EntryColumns.MAX_DEVICES + " devices in one tree");
        }
        if (deviceCount == devices.length) {
            devices = Arrays.copyOf(devices, deviceCount * 2);
        }
        devices[deviceCount] = device;
        return deviceCount++;
    }

    private void grow(int atLeast) {
        int n = Math.max(parent.length * 2, atLeast);
        parent = Arrays.copyOf(parent, n);
        nameEnd = Arrays.copyOf(nameEnd, n);
        rows = Arrays.copyOf(rows, Math.multiplyExact(n, ROW));
        prefix = Arrays.copyOf(prefix, n);
    }

    /**
     * The snapshot of the entries added, of the tree at {@code root}, taken at {@code takenAt} (ns); a large
     * one is put in order by up to {@code threads} threads, which take the directories and then the columns
     * between them.
     */
    TreeSnapshot build(byte[] root, long takenAt, int threads) {
        int t = count < PARALLEL_FROM ? 1 : Math.max(1, threads);
        int[] order = pathOrder(t);
        int n = order.length;
        int[] p = new int[n];
        int[] ends = new int[n];
        byte[] pool = new byte[namesLength(order)];
        int[][] ints = new int[4][n];  // kind, owner, group, links
        long[][] longs = new long[5][n];  // size, inode, modification, change and creation time
        // Job 0 the names and parents, the others a share of the values each.
        int shares = t == 1 ? 1 : 4 * t;
        AtomicInteger jobs = new AtomicInteger();
        Threads.inParallel(t, k -> {
            for (int job; (job = jobs.getAndIncrement()) <= shares;) {
                if (job == 0) {
                    namesAndParents(order, p, ends, pool);
                } else {
                    gather(order, (int) ((long) n * (job - 1) / shares), (int) ((long) n * job / shares), ints, longs);
                }
            }
        });
        EntryColumns columns = new EntryColumns(n, p, ends, ints[0], ints[1], ints[2], ints[3], longs[0], longs[1],
                longs[2], longs[3], longs[4], pool, Arrays.copyOf(devices, deviceCount));
        return new TreeSnapshot(root, takenAt, columns);
    }

    /** The values of the entries order[from..to) into the columns, at the same places. */
    private void gather(int[] order, int from, int to, int[][] ints, long[][] longs) {
        for (int k = from; k < to; k++) {
            int r = order[k] * ROW;
            long kindAndOwner = rows[r];
            long groupAndLinks = rows[r + 1];
            ints[0][k] = (int) (kindAndOwner >>> 32);
            ints[1][k] = (int) kindAndOwner;
            ints[2][k] = (int) (groupAndLinks >>> 32);
            ints[3][k] = (int) groupAndLinks;
            longs[0][k] = rows[r + 2];
            longs[1][k] = rows[r + 3];
            longs[2][k] = rows[r + 4];
            longs[3][k] = rows[r + 5];
            longs[4][k] = rows[r + 6];
        }
    }

    /** Fewer entries than this are put in order by one thread: another would cost more than it saves. */
    private static final int PARALLEL_FROM = 1 << 16;

    /** Each entry's parent as an index into {@code order}, and its name into {@code pool}, ending at {@code ends}. */
    private void namesAndParents(int[] order, int[] p, int[] ends, byte[] pool) {
        int[] newIndex = new int[count];
        Arrays.fill(newIndex, -1);
        int used = 0;
        for (int k = 0; k < order.length; k++) {
            int i = order[k];
            newIndex[i] = k;
            p[k] = parent[i] < 0 ? -1 : newIndex[parent[i]];
            int start = i == 0 ? 0 : nameEnd[i - 1];
            System.arraycopy(names, start, pool, used, nameEnd[i] - start);
            used += nameEnd[i] - start;
            ends[k] = used;
        }
    }

    private int namesLength(int[] order) {
        int length = 0;
        for (int i : order) {
            length += nameEnd[i] - (i == 0 ? 0 : nameEnd[i - 1]);
        }
        return length;
    }

    /**
     * The indices of the entries reached from the root, depth first, each directory's sorted by name; the
     * directories sorted by up to {@code threads} threads, each taking a run of them with about as many
     * entries.
     */
    private int[] pathOrder(int threads) {
        // The entries of each parent, together: those of parent p from first[p + 1] to first[p + 2].
        int[] first = new int[count + 2];
        for (int i = 0; i < count; i++) {
            if (parent[i] >= count) {
                throw new IllegalArgumentException("entry " + i + " has parent " + parent[i] + " of " + count);
            }
            first[parent[i] + 2]++;
        }
        for (int g = 2; g < first.length; g++) {
            first[g] += first[g - 1];
        }
        int[] members = new int[count];
        int[] fill = Arrays.copyOf(first, first.length);
        for (int i = 0; i < count; i++) {
            members[fill[parent[i] + 1]++] = i;
        }
        int[] scratch = new int[count];  // shared: each thread's directories use their own part of it
        int[] from = new int[threads + 1];  // the directories each thread sorts: from[k] to from[k + 1]
        for (int k = 1, g = 0; k <= threads; k++) {
            long entries = (long) count * k / threads;
            while (g + 1 < first.length && (first[g] < entries || k == threads)) {
                g++;
            }
            from[k] = g;
        }
        long[] keys = new long[count];  // shared as scratch is
        boolean[] twin = new boolean[count];
        Threads.inParallel(threads, k -> {
            for (int g = from[k]; g < from[k + 1]; g++) {
                sortByName(members, first[g], first[g + 1], 0, keys, scratch, twin);
            }
        });
        int[] order = new int[count];
        int n = 0;
        // Depth first with an explicit stack (no recursion, whatever the depth): positions in members.
        int[] next = new int[16];
        int[] stop = new int[16];
        int top = 0;
        next[0] = first[0];
        stop[0] = first[1];
        while (top >= 0) {
            if (next[top] == stop[top]) {
                top--;
                continue;
            }
            int i = members[next[top]++];
            if (twin[i]) {
                continue;  // the second of one name: it and what was read below it are left out
            }
            order[n++] = i;
            if (first[i + 1] < first[i + 2]) {
                if (++top == next.length) {
                    next = Arrays.copyOf(next, top * 2);
                    stop = Arrays.copyOf(stop, top * 2);
                }
                next[top] = first[i + 1];
                stop[top] = first[i + 2];
            }
        }
        return Arrays.copyOf(order, n);
    }

    private int compareNames(int i, int j) {
        int c = Long.compareUnsigned(prefix[i], prefix[j]);
        if (c != 0) {
            return c;
        }
        // Equal prefixes: names hold no NUL, so the shorter is padded only where both end; the rest decides.
        int si = i == 0 ? 0 : nameEnd[i - 1];
        int sj = j == 0 ? 0 : nameEnd[j - 1];
        int skip = Math.min(8, Math.min(nameEnd[i] - si, nameEnd[j] - sj));
        return Arrays.compareUnsigned(names, si + skip, nameEnd[i], names, sj + skip, nameEnd[j]);
    }

    /** Runs this short are sorted by insertion. */
    private static final int SHORT_RUN = 12;

    /**
     * Sorts a[from..to) by name, the names all equal in their first {@code depth} bytes, through a primitive
     * sort of keys: each name's next bytes above its place in the run, as many bytes as the place leaves room
     * for. Then each run of equal keys is sorted by the bytes after those. Of names met twice, the later
     * comers are marked in {@code twin} (by entry). {@code keys} and {@code scratch} are as long as
     * {@code a}; this uses their [from, to).
     */
    private void sortByName(int[] a, int from, int to, int depth, long[] keys, int[] scratch, boolean[] twin) {
        int n = to - from;
        if (n <= SHORT_RUN) {
            for (int k = from + 1; k < to; k++) {
                int v = a[k];
                int m = k - 1;
                int c = 1;
                while (m >= from && (c = compareFrom(a[m], v, depth)) > 0) {
                    a[m + 1] = a[m];
                    m--;
                }
                a[m + 1] = v;
                twin[v] = c == 0;
            }
            return;
        }
        int bytes = Integer.numberOfLeadingZeros(n - 1) / 8 + 4;  // 64 bits less the place's, in whole bytes
        long placeMask = -1L >>> 8 * bytes;
        for (int k = 0; k < n; k++) {
            // The sign bit flipped, so that a signed sort orders the bytes unsigned.
            keys[from + k] = (chunk(a[from + k], depth) & ~placeMask ^ Long.MIN_VALUE) | k;
        }
        Arrays.sort(keys, from, to);
        System.arraycopy(a, from, scratch, from, n);
        for (int k = from; k < to; k++) {
            a[k] = scratch[from + (int) (keys[k] & placeMask)];
        }
        int next = depth + bytes;
        for (int start = from, end; start < to; start = end) {
            long key = keys[start] & ~placeMask;
            end = start + 1;
            while (end < to && (keys[end] & ~placeMask) == key) {
                end++;
            }
            if (end - start == 1) {
                continue;
            }
            if (nameEnd[a[start]] - nameStart(a[start]) >= next) {
                sortByName(a, start, end, next, keys, scratch, twin);
                continue;
            }
            // A name that ends before the key's last byte equals every name of its run (names hold no NUL).
            for (int k = start + 1; k < end; k++) {
                twin[a[k]] = true;
            }
        }
    }

    private int nameStart(int i) {
        return i == 0 ? 0 : nameEnd[i - 1];
    }

    /** Entry i's name from byte {@code depth} on: the first eight bytes big-endian, zero-padded. */
    private long chunk(int i, int depth) {
        if (depth == 0) {
            return prefix[i];
        }
        int start = nameStart(i) + depth;
        return prefix(names, start, nameEnd[i] - start);
    }

    /** Compares the names of entries i and j, equal in their first {@code depth} bytes and no shorter. */
    private int compareFrom(int i, int j, int depth) {
        if (depth == 0) {
            return compareNames(i, j);
        }
        return Arrays.compareUnsigned(names, nameStart(i) + depth, nameEnd[i], names, nameStart(j) + depth, nameEnd[j]);
    }
}
