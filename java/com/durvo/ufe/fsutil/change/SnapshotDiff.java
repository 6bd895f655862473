package com.durvo.ufe.fsutil.change;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * The changes between two snapshots' columns. Both are in path order, so one
 * merge pass pairs the entries at the same path: of two entries the deeper
 * comes first (the other side has left the directory it is in), and at one
 * depth their names decide, since their directories are then the same path.
 * Entries left over are paired by device and inode where that is unambiguous
 * (renames), and a renamed directory's entries are merged the same way under
 * it. A second merge pass, in the same order, reports.
 */
final class SnapshotDiff {
    private final EntryColumns a;
    private final EntryColumns b;
    private final int[] depthA;
    private final int[] depthB;
    /** The entry each is paired with, -1 for none. */
    private final int[] matchA;
    private final int[] matchB;
    /** The later snapshot's entries that are renames of a paired earlier one. */
    private final boolean[] renamed;
    private final List<TreeChange> changes = new ArrayList<>();

    /** What a merge pass does with what it finds. */
    private interface Visitor {
        void both(int i, int j);

        void onlyBefore(int i);

        void onlyAfter(int j);
    }

    private SnapshotDiff(EntryColumns a, EntryColumns b) {
        this.a = a;
        this.b = b;
        depthA = depths(a);
        depthB = depths(b);
        matchA = new int[a.count];
        matchB = new int[b.count];
        Arrays.fill(matchA, -1);
        Arrays.fill(matchB, -1);
        renamed = new boolean[b.count];
    }

    static List<TreeChange> diff(EntryColumns before, EntryColumns after) {
        SnapshotDiff d = new SnapshotDiff(before, after);
        Visitor pair = d.new Pairing();
        d.merge(0, before.count, 0, 0, after.count, 0, pair);
        d.pairRenames(pair);
        d.merge(0, before.count, 0, 0, after.count, 0, d.new Reporting());
        return d.changes;
    }

    private static int[] depths(EntryColumns c) {
        int[] depth = new int[c.count];
        for (int i = 0; i < c.count; i++) {
            depth[i] = c.parent[i] < 0 ? 1 : depth[c.parent[i]] + 1;
        }
        return depth;
    }

    /**
     * Merges the earlier entries from..to at depths counted from {@code baseA} with the later ones likewise;
     * entries paired before are passed over with what is below them.
     */
    private void merge(int i, int endA, int baseA, int j, int endB, int baseB, Visitor v) {
        int[] skipA = null;
        int[] skipB = null;
        while (i < endA || j < endB) {
            if (i < endA && v instanceof Pairing && matchA[i] >= 0) {
                skipA = skipA == null ? a.ends() : skipA;
                i = skipA[i];
                continue;
            }
            if (j < endB && v instanceof Pairing && matchB[j] >= 0) {
                skipB = skipB == null ? b.ends() : skipB;
                j = skipB[j];
                continue;
            }
            int order;
            if (i == endA) {
                order = 1;
            } else if (j == endB) {
                order = -1;
            } else {
                int da = depthA[i] - baseA;
                int db = depthB[j] - baseB;
                order = da != db ? db - da : a.compareNames(i, b, j);
            }
            if (order < 0) {
                v.onlyBefore(i++);
            } else if (order > 0) {
                v.onlyAfter(j++);
            } else {
                v.both(i++, j++);
            }
        }
    }

    /** The first pass: pairs entries at the same path. */
    private final class Pairing implements Visitor {
        @Override
        public void both(int i, int j) {
            matchA[i] = j;
            matchB[j] = i;
        }

        @Override
        public void onlyBefore(int i) {
        }

        @Override
        public void onlyAfter(int j) {
        }
    }

    /**
     * Pairs the entries left over that are one file (device, inode, type, and creation time where both
     * have one) met once on each side, ancestors first: a renamed directory's entries are then merged
     * under it, and those of a directory renamed inside it after it.
     */
    private void pairRenames(Visitor pair) {
        Identities left = new Identities(a.count + b.count);
        for (int i = 0; i < a.count; i++) {
            if (matchA[i] < 0 && !a.is(i, EntryColumns.UNREAD)) {
                left.add(a.device(i), a.inode[i], i, true);
            }
        }
        for (int j = 0; j < b.count; j++) {
            if (matchB[j] < 0 && !b.is(j, EntryColumns.UNREAD)) {
                left.add(b.device(j), b.inode[j], j, false);
            }
        }
        long[] pairs = left.unique();
        Arrays.sort(pairs);  // by the earlier index: ancestors first
        int[] endsA = a.ends();
        int[] endsB = b.ends();
        for (long p : pairs) {
            int i = (int) (p >>> 32);
            int j = (int) p;
            if (matchA[i] >= 0 || matchB[j] >= 0 || !sameFile(i, j)) {
                continue;
            }
            matchA[i] = j;
            matchB[j] = i;
            renamed[j] = true;
            merge(i + 1, endsA[i], depthA[i], j + 1, endsB[j], depthB[j], pair);
        }
    }

    private boolean sameFile(int i, int j) {
        long ba = a.btime[i];
        long bb = b.btime[j];
        return (a.mode(i) & ~07777) == (b.mode(j) & ~07777)
                && (ba == EntryColumns.NO_TIME || bb == EntryColumns.NO_TIME || ba == bb);
    }

    /** The second pass: reports in path order, each pair where it is in the later snapshot. */
    private final class Reporting implements Visitor {
        @Override
        public void both(int i, int j) {
            report(i, j);
        }

        @Override
        public void onlyBefore(int i) {
            if (matchA[i] < 0) {
                changes.add(new TreeChange(TreeChange.Kind.REMOVED, new TreeEntry(a, i), null, false, false));
            }
        }

        @Override
        public void onlyAfter(int j) {
            if (matchB[j] < 0) {
                changes.add(new TreeChange(TreeChange.Kind.ADDED, null, new TreeEntry(b, j), false, false));
            } else {
                report(matchB[j], j);
            }
        }

        private void report(int i, int j) {
            boolean differs = differs(i, j);
            boolean possibly = !differs && a.is(i, EntryColumns.UNCERTAIN);
            if (renamed[j] || differs || possibly) {
                TreeChange.Kind kind = renamed[j] ? TreeChange.Kind.RENAMED : TreeChange.Kind.MODIFIED;
                changes.add(new TreeChange(kind, new TreeEntry(a, i), new TreeEntry(b, j), possibly, false));
            }
        }
    }

    /** Whether what the snapshots keep of the two differs: how each was read aside, and the link count. */
    private boolean differs(int i, int j) {
        return (a.kind[i] & EntryColumns.MODE_BITS) != (b.kind[j] & EntryColumns.MODE_BITS)
                || a.is(i, EntryColumns.UNREAD) != b.is(j, EntryColumns.UNREAD)
                || a.size[i] != b.size[j] || a.mtime[i] != b.mtime[j] || a.ctime[i] != b.ctime[j]
                || a.inode[i] != b.inode[j] || a.uid[i] != b.uid[j] || a.gid[i] != b.gid[j]
                || a.btime[i] != b.btime[j] || a.device(i) != b.device(j);
    }

    /**
     * Device and inode pairs, each with the entry met first on each side and whether it was the only one:
     * an open-addressing table over primitive arrays.
     */
    private static final class Identities {
        private final long[] device;
        private final long[] inode;
        /** Per slot and side: the entry's index plus one, or -1 when several are that file; 0 for none. */
        private final int[] before;
        private final int[] after;
        private final int mask;

        Identities(int entries) {
            int slots = Integer.highestOneBit(Math.max(16, entries) * 2 - 1) << 1;
            device = new long[slots];
            inode = new long[slots];
            before = new int[slots];
            after = new int[slots];
            mask = slots - 1;
        }

        void add(long dev, long ino, int index, boolean earlier) {
            int s = (int) mix(dev * 0x9E3779B97F4A7C15L + ino) & mask;
            while ((before[s] != 0 || after[s] != 0) && (device[s] != dev || inode[s] != ino)) {
                s = (s + 1) & mask;
            }
            device[s] = dev;
            inode[s] = ino;
            int[] side = earlier ? before : after;
            side[s] = side[s] == 0 ? index + 1 : -1;
        }

        /** The pairs met once on each side, as the earlier index in the high half and the later in the low. */
        long[] unique() {
            long[] pairs = new long[16];
            int n = 0;
            for (int s = 0; s <= mask; s++) {
                if (before[s] > 0 && after[s] > 0) {
                    if (n == pairs.length) {
                        pairs = Arrays.copyOf(pairs, n * 2);
                    }
                    pairs[n++] = (long) (before[s] - 1) << 32 | (after[s] - 1);
                }
            }
            return Arrays.copyOf(pairs, n);
        }

        private static long mix(long x) {
            x ^= x >>> 33;
            x *= 0xFF51AFD7ED558CCDL;
            return x ^ (x >>> 33);
        }
    }
}
