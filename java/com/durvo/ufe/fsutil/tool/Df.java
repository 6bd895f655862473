package com.durvo.ufe.fsutil.tool;

import com.durvo.ufe.fsutil.FileSysStatUnix;
import com.durvo.ufe.fsutil.FileSystemStat;
import com.durvo.ufe.fsutil.Mount;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;

/** {@code fsutil df}: space and inodes of mounted file systems, laid out as GNU df lays them out. */
final class Df {
    static final String HELP = String.join("\n",
            "Usage: fsutil df [OPTION]... [PATH]...",
            "Show the size, use and free space of the file system holding each PATH,",
            "or of every mounted file system when no PATH is given (pseudo file systems",
            "such as /proc, and file systems without blocks, are left out unless named).",
            "",
            "  -h, --human-readable  sizes in powers of 1024 (1.5K, 234M, 2.0G)",
            "  -H, --si              sizes in powers of 1000 (1.5k, 234M, 2.1G)",
            "  -i, --inodes          inode counts instead of blocks",
            "  -T, --print-type      add the file-system type",
            "  -v, --verbose         add a line with the eleven statvfs figures under each row",
            "      --help            show this help",
            "",
            "Without -h or -H sizes are in 1024-byte blocks. Figures are rounded up.",
            "Use% is the used share of the space a normal user can have (used + available),",
            "shown as - where a file system has neither.",
            "Exit status: 0 if every file system could be examined, 1 otherwise.");

    // In GNU df's order, which an ambiguous prefix lists.
    private static final List<String> LONG_OPTIONS = List.of("--inodes", "--human-readable", "--si", "--print-type",
            "--verbose", "--help");

    // Kernel and automounter file systems that hold no user data: df leaves them out unless named.
    private static final Set<String> DUMMY_TYPES = Set.of("autofs", "proc", "subfs", "debugfs", "devpts",
            "fusectl", "fuse.portal", "mqueue", "rpc_pipefs", "sysfs", "devfs", "kernfs", "ignore", "none");

    private static final byte[] UNKNOWN = {'-'};

    private final FileSystemStat stat = FileSystemStat.forCurrentOs();
    private final PrintStream err;
    private int status;
    private boolean inodes;
    private boolean withType;
    private int base;
    private final List<String[]> rows = new ArrayList<>();
    private final List<FileSysStatUnix> statistics = new ArrayList<>();

    private Df(PrintStream err) {
        this.err = err;
    }

    static int run(List<byte[]> argv, Out out, PrintStream err) throws Args.UsageException {
        Args args = Args.parse(argv, "hHiTv", LONG_OPTIONS);
        if (args.has("--help")) {
            out.ascii(HELP).nl();
            return 0;
        }
        Df df = new Df(err);
        df.inodes = args.has("-i", "--inodes");
        df.withType = args.has("-T", "--print-type");
        String human = args.last("-h", "--human-readable", "-H", "--si");
        df.base = human == null ? Sizes.PLAIN
                : human.equals("-H") || human.equals("--si") ? Sizes.DECIMAL : Sizes.BINARY;
        List<Mount> mounts;
        try {
            mounts = Mount.all();
        } catch (IOException e) {
            if (args.operands.isEmpty()) {
                err.println("fsutil df: cannot read the mount table: " + e.getMessage());
                return 1;
            }
            mounts = List.of();  // the named paths' statistics can still be had, without device and mount point
        }
        if (args.operands.isEmpty()) {
            for (Mount m : distinct(mounts)) {
                df.row(m, m.mountPointBytes(), true);
            }
        } else {
            for (byte[] path : args.operands) {
                df.row(containing(mounts, Lookup.canonical(path)), path, false);
            }
        }
        if (!df.rows.isEmpty()) {  // as GNU df: no header over no rows
            df.print(out, args.has("-v", "--verbose"));
        }
        return df.status;
    }

    /**
     * One row per file system: of mounts that show the same device, the one
     * with a real device name, else the one nearer the device's root, else
     * one mounted over an earlier one on the same directory, keeps the place
     * of the first.
     */
    private static List<Mount> distinct(List<Mount> mounts) {
        // The device a path at each mount point shows: of several mounts on one directory, the last one's.
        Map<String, Long> visible = new HashMap<>();
        for (Mount m : mounts) {
            visible.put(key(m.mountPointBytes()), m.device());
        }
        Map<Long, Integer> slotOfDevice = new LinkedHashMap<>();
        List<Mount> kept = new ArrayList<>();
        for (Mount m : mounts) {
            long dev = dummy(m) ? m.device() : visible.get(key(m.mountPointBytes()));
            Integer slot = slotOfDevice.get(dev);
            if (slot == null || dummy(m)) {
                slotOfDevice.putIfAbsent(dev, kept.size());
                kept.add(m);
                continue;
            }
            Mount seen = kept.get(slot);
            byte[] source = m.sourceBytes();
            byte[] seenSource = seen.sourceBytes();
            boolean nearerRoot = seen.mountPointBytes().length > m.mountPointBytes().length;
            boolean sourceBelowRoot = seen.rootBytes().length < m.rootBytes().length;
            if (remote(m) && remote(seen) && !Arrays.equals(seenSource, source)) {
                kept.add(m);  // different exports of one server are mounted on purpose
            } else if (contains(source, '/') && !contains(seenSource, '/') || nearerRoot && !sourceBelowRoot
                    || !Arrays.equals(seenSource, source) && Arrays.equals(seen.mountPointBytes(), m.mountPointBytes())) {
                kept.set(slot, m);
            }
        }
        return kept;
    }

    private static String key(byte[] bytes) {
        return new String(bytes, StandardCharsets.ISO_8859_1);
    }

    private static boolean dummy(Mount m) {
        return DUMMY_TYPES.contains(m.type());
    }

    private static boolean remote(Mount m) {
        String source = key(m.sourceBytes());
        String type = m.type();
        return source.indexOf(':') >= 0 || source.startsWith("//")
                && (type.equals("smbfs") || type.equals("smb3") || type.equals("cifs"));
    }

    private static boolean contains(byte[] s, char c) {
        for (byte b : s) {
            if (b == c) {
                return true;
            }
        }
        return false;
    }

    /** The mount whose directory is the longest prefix of {@code path}; the later of equals, as it hides the other. */
    private static Mount containing(List<Mount> mounts, byte[] path) {
        Mount best = null;
        int bestLength = -1;
        for (Mount m : mounts) {
            if (m.type().equals("lofs") || best != null && !dummy(best) && dummy(m)) {
                continue;
            }
            byte[] dir = m.mountPointBytes();
            int len = dir.length;
            boolean prefix = len <= path.length && Arrays.equals(dir, 0, len, path, 0, len)
                    && (len == 1 || len == path.length || path[len] == '/');
            if (prefix && bestLength <= len) {
                best = m;
                bestLength = len;
            }
        }
        return best;
    }

    /**
     * Adds the row of mount {@code m} (null where the table did not show it:
     * "-" for source, type and mount point); the statistics are those of {@code path}.
     */
    private void row(Mount m, byte[] path, boolean everyMount) {
        if (everyMount && (dummy(m) || path.length == 0 || path[0] != '/')) {
            return;
        }
        FileSysStatUnix st;
        try {
            st = everyMount ? m.statistics() : stat.getFileSysStat(path);
        } catch (IOException e) {
            String why = Lookup.reason(e);
            // A listed mount that has gone, or that we may not enter, is not worth an error.
            if (everyMount && (why.equals("No such file or directory") || why.equals("Permission denied"))) {
                return;
            }
            err.println("fsutil df: " + Names.shown(path) + ": " + why);
            status = 1;
            return;
        }
        if (everyMount && st.blocks() == 0) {
            return;
        }
        List<String> cells = new ArrayList<>();
        byte[] source = m == null ? UNKNOWN : m.sourceBytes();
        cells.add(Names.shown(everyMount && hasUuidSuffix(source) ? Lookup.canonical(source) : source));
        if (withType) {
            cells.add(Names.shown(m == null ? UNKNOWN : m.type().getBytes(StandardCharsets.ISO_8859_1)));
        }
        long unit = st.frsize() != 0 ? st.frsize() : st.bsize();
        if (inodes) {
            amounts(cells, st.files(), st.ffree(), st.ffree(), 1, 1);
        } else {
            amounts(cells, st.blocks(), st.bfree(), st.bavail(), unit, base == Sizes.PLAIN ? 1024 : 1);
        }
        cells.add(Names.shown(m == null ? UNKNOWN : m.mountPointBytes()));
        rows.add(cells.toArray(new String[0]));
        statistics.add(st);
    }

    // /dev/disk/by-uuid/... and /dev/mapper/luks-... say more as the device they link to (/dev/sda1, /dev/dm-0).
    private static boolean hasUuidSuffix(byte[] device) {
        if (device.length <= 36) {
            return false;
        }
        for (int i = device.length - 36; i < device.length; i++) {
            if (Character.digit(device[i], 16) < 0 && device[i] != '-') {
                return false;
            }
        }
        return true;
    }

    /** Size, used, available and use%; unknown amounts (all bits set) show as "-". */
    private void amounts(List<String> cells, long total, long free, long available, long from, long to) {
        boolean usedKnown = total != -1 && free != -1;
        long used = total - free;
        boolean usedNegative = usedKnown && Long.compareUnsigned(total, free) < 0;
        cells.add(total == -1 ? "-" : Sizes.format(total, from, to, base));
        cells.add(!usedKnown ? "-" : usedNegative ? "-" + Sizes.format(-used, from, to, base)
                : Sizes.format(used, from, to, base));
        cells.add(available == -1 ? "-" : Sizes.format(available, from, to, base));
        String percent = "-";
        if (usedKnown && available != -1 && !usedNegative && used >= 0 && used <= Long.MAX_VALUE / 100
                && available >= 0 && used + available > 0) {
            long whole = used + available;
            percent = (used * 100 / whole + (used * 100 % whole != 0 ? 1 : 0)) + "%";
        }
        cells.add(percent);
    }

    private void print(Out out, boolean verbose) {
        String[] header;
        if (inodes) {
            header = new String[] {"Inodes", "IUsed", "IFree", "IUse%"};
        } else if (base != Sizes.PLAIN) {
            header = new String[] {"Size", "Used", "Avail", "Use%"};
        } else {
            header = new String[] {"1K-blocks", "Used", "Available", "Use%"};
        }
        List<String> head = new ArrayList<>();
        List<Integer> widths = new ArrayList<>();
        head.add("Filesystem");
        widths.add(14);
        if (withType) {
            head.add("Type");
            widths.add(4);
        }
        for (int i = 0; i < 4; i++) {
            head.add(header[i]);
            widths.add(i == 3 ? 4 : 5);
        }
        head.add("Mounted on");
        widths.add(0);
        List<String[]> table = new ArrayList<>();
        table.add(head.toArray(new String[0]));
        table.addAll(rows);
        for (String[] cells : table) {
            for (int c = 0; c < cells.length; c++) {
                widths.set(c, Math.max(widths.get(c), cells[c].length()));
            }
        }
        int first = withType ? 2 : 1;
        for (int r = 0; r < table.size(); r++) {
            String[] cells = table.get(r);
            for (int c = 0; c < cells.length; c++) {
                if (c > 0) {
                    out.ch(' ');
                }
                if (c == cells.length - 1) {
                    out.text(cells[c]);
                } else if (c < first) {
                    out.left(cells[c], widths.get(c));
                } else {
                    out.right(cells[c], widths.get(c));
                }
            }
            out.nl();
            if (verbose && r > 0) {
                FileSysStatUnix st = statistics.get(r - 1);
                out.ascii("  bsize=" + st.bsize() + " frsize=" + st.frsize() + " blocks="
                        + Long.toUnsignedString(st.blocks()) + " bfree=" + Long.toUnsignedString(st.bfree())
                        + " bavail=" + Long.toUnsignedString(st.bavail()) + " files="
                        + Long.toUnsignedString(st.files()) + " ffree=" + Long.toUnsignedString(st.ffree())
                        + " favail=" + Long.toUnsignedString(st.favail()) + " fsid=0x" + Long.toHexString(st.fsid())
                        + " flag=0x" + Long.toHexString(st.flag()) + " namemax=" + st.namemax()).nl();
            }
        }
    }
}
