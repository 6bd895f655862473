package com.durvo.ufe.fsutil.change;

import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Random;

/** Columns that walking threads gather apart and join after the walk. */
public final class JoinChecks {
    private JoinChecks() {
    }

    /**
     * Two parts, each numbering the two devices its own way, one holding an entry whose attributes could
     * not be read, joined give the snapshot that one builder of all the entries gives; a large tree is put
     * in path order, by several threads as by one; "" if so.
     */
    public static String joined() {
        SnapshotBuilder whole = new SnapshotBuilder(0);
        SnapshotBuilder first = new SnapshotBuilder(0);
        SnapshotBuilder second = new SnapshotBuilder(0);
        int d = add(whole, -1, "d", 7, true);
        int m = add(whole, -1, "m", 9, true);
        add(whole, d, "x", 7, true);
        add(whole, m, "y", 9, true);
        add(whole, d, "unread", 0, false);
        add(first, -1, "d", 7, true);
        add(first, -1, "m", 9, true);
        // The second part met device 9 first, and names its directories 0 ("m") and 1 ("d").
        add(second, 0, "y", 9, true);
        add(second, 1, "x", 7, true);
        add(second, 1, "unread", 0, false);
        first.append(second, new int[] {1, 0});
        TreeSnapshot expected = whole.build("/r".getBytes(), 0, 1);
        TreeSnapshot got = first.build("/r".getBytes(), 0, 1);
        String failed = got.equals(expected) ? "" : "joined: " + got.entries() + " on " + devices(got) + ", not "
                + expected.entries() + " on " + devices(expected) + "\n";
        // Enough entries for several threads to put them in order: directories of one to thousands of
        // entries, names sharing long prefixes, some the prefix of others, some twice in one directory.
        SnapshotBuilder big = new SnapshotBuilder(0);
        Random r = new Random(1);
        List<Integer> directories = new ArrayList<>(List.of(add(big, -1, "d", 7, true)));
        for (int i = 0; i < 100_000; i++) {
            int parent = directories.get(r.nextInt(r.nextBoolean() ? Math.min(directories.size(), 20) : directories.size()));
            String name = r.nextInt(10) == 0 ? "library-file-".substring(0, 4 + r.nextInt(9))
                    : (r.nextInt(3) == 0 ? "d" : "library-file-") + r.nextInt(60_000);
            int at = add(big, parent, name, 7, true);
            if (name.startsWith("d")) {
                directories.add(at);
            }
        }
        TreeSnapshot one = big.build("/r".getBytes(), 0, 1);
        TreeSnapshot three = big.build("/r".getBytes(), 0, 3);
        return failed + (one.equals(three) && one.size() > 90_000 ? "" : "ordered by three threads: " + three
                + " differs from one thread's " + one + "\n") + outOfOrder(one);
    }

    /** The first entry not after the one before it in its directory, by unsigned bytes; "" if none. */
    private static String outOfOrder(TreeSnapshot s) {
        Map<String, byte[]> last = new HashMap<>();
        for (TreeEntry e : s.entries()) {
            byte[] path = e.pathBytes();
            int slash = path.length - 1;
            while (slash >= 0 && path[slash] != '/') {
                slash--;
            }
            byte[] name = Arrays.copyOfRange(path, slash + 1, path.length);
            byte[] before = last.put(new String(path, 0, slash + 1, StandardCharsets.ISO_8859_1), name);
            if (before != null && Arrays.compareUnsigned(before, name) >= 0) {
                return "out of path order: " + e + " after " + new String(before, StandardCharsets.ISO_8859_1);
            }
        }
        return "";
    }

    private static int add(SnapshotBuilder b, int parent, String name, long device, boolean read) {
        long[] v = new long[NativeConstants.ENTRY_LONGS];
        v[NativeConstants.ST_DEV] = device;
        v[NativeConstants.ST_INO] = name.hashCode();
        v[NativeConstants.ST_MODE] = name.startsWith("d") || name.equals("m") ? 040755 : 0100644;
        v[NativeConstants.ST_SIZE] = name.length();
        return b.add(parent, name.getBytes(), 0, name.length(), v, 0,
                read ? NativeConstants.LSTAT : NativeConstants.TYPE);
    }

    private static Object devices(TreeSnapshot s) {
        return s.entries().stream().map(TreeEntry::device).toList();
    }
}
