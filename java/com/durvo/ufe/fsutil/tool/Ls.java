package com.durvo.ufe.fsutil.tool;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FsFiles;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.time.Instant;
import java.time.LocalDateTime;
import java.time.ZoneId;
import java.time.ZoneOffset;
import java.time.zone.ZoneRules;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;

/** {@code fsutil ls}: directory listings laid out as GNU ls lays them out in the C locale. */
final class Ls {
    static final String HELP = String.join("\n",
            "Usage: fsutil ls [OPTION]... [PATH]...",
            "List each directory PATH (the current directory when none is given), one name",
            "a line, sorted by the bytes of the names; a PATH that is not a directory is",
            "listed itself, before the directories. In a name, a character of the locale",
            "shows as itself, a backslash as \\\\, and any byte that would not show as a",
            "character of its own (a control, a byte the locale's charset cannot read) as",
            "\\xNN, on a terminal and in a pipe alike.",
            "",
            "  -l                     long listing: type and permissions, links, owner, group,",
            "                         size, modification time and name (a link adds -> target);",
            "                         a directory gets a 'total' line of its blocks (1024 bytes)",
            "  -a, --all              include names starting with '.', and . and ..",
            "  -A, --almost-all       include names starting with '.', but not . and ..",
            "  -R, --recursive        list subdirectories too (links to directories are not followed)",
            "  -h, --human-readable   with -l, sizes in powers of 1024 (1.5K, 234M, 2.0G)",
            "  -n, --numeric-uid-gid  like -l, with user and group ids instead of names",
            "      --full-time        like -l, with the full date and time to the nanosecond",
            "      --help             show this help",
            "",
            "A time more than six months ago or in the future shows the year instead of",
            "the time of day. A symbolic link named as a PATH is followed unless -l is given.",
            "Exit status: 0 if all is well, 1 if a subdirectory could not be listed,",
            "2 if a PATH could not be listed.");

    // In GNU ls's order, which an ambiguous prefix lists.
    private static final List<String> LONG_OPTIONS = List.of("--all", "--full-time", "--human-readable",
            "--numeric-uid-gid", "--almost-all", "--recursive", "--help");
    private static final byte[] DOT = {'.'};
    private static final byte[] DOT_DOT = {'.', '.'};
    private static final Comparator<Entry> BY_NAME = (a, b) -> Arrays.compareUnsigned(a.name(), b.name());
    private static final String[] MONTHS = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct",
            "Nov", "Dec"};
    // Half the average Gregorian year, in seconds.
    private static final long SIX_MONTHS = 31556952 / 2;

    private final Out out;
    private final PrintStream err;
    private boolean longFormat;
    private boolean all;
    private boolean almostAll;
    private boolean recursive;
    private boolean human;
    private boolean numeric;
    private boolean fullTime;
    private boolean printDirName = true;
    private boolean first = true;
    private int status;
    private Instant now = Instant.now();
    private final ZoneRules zone = ZoneId.systemDefault().getRules();
    private final Owners users = Owners.users();
    private final Owners groups = Owners.groups();
    private long shownSecond = Long.MIN_VALUE;
    private boolean shownRecent;
    private byte[] shownTime;

    private Ls(Out out, PrintStream err) {
        this.out = out;
        this.err = err;
    }

    static int run(List<byte[]> argv, Out out, PrintStream err) throws Args.UsageException {
        Args args = Args.parse(argv, "laARhn", LONG_OPTIONS);
        if (args.has("--help")) {
            out.ascii(HELP).nl();
            return 0;
        }
        Ls ls = new Ls(out, err);
        ls.numeric = args.has("-n", "--numeric-uid-gid");
        ls.fullTime = args.has("--full-time");
        ls.longFormat = args.has("-l") || ls.numeric || ls.fullTime;
        String hidden = args.last("-a", "--all", "-A", "--almost-all");
        ls.all = "-a".equals(hidden) || "--all".equals(hidden);
        ls.almostAll = hidden != null && !ls.all;
        ls.recursive = args.has("-R", "--recursive");
        ls.human = args.has("-h", "--human-readable");
        List<byte[]> operands = args.operands.isEmpty() ? List.of(DOT) : args.operands;
        ls.list(operands);
        return ls.status;
    }

    private void list(List<byte[]> operands) {
        List<Entry> files = new ArrayList<>();
        List<byte[]> dirs = new ArrayList<>();
        for (byte[] path : operands) {
            try {
                if (isDirectory(path)) {
                    dirs.add(path);
                } else {
                    files.add(Lookup.lstat(path));
                }
            } catch (IOException e) {
                err.println("fsutil ls: cannot access '" + Names.shown(path) + "': " + Lookup.reason(e));
                status = 2;
            }
        }
        files.sort(BY_NAME);
        dirs.sort(Arrays::compareUnsigned);
        if (!files.isEmpty()) {
            // GNU ls sizes the columns of the named files by every operand, directories too.
            List<Entry> widthsOf = new ArrayList<>(files);
            if (longFormat) {
                for (byte[] dir : dirs) {
                    try {
                        widthsOf.add(Lookup.lstat(dir));
                    } catch (IOException e) {
                        // listed below, with its own message
                    }
                }
            }
            print(files, null, widthsOf);
            if (!dirs.isEmpty()) {
                out.nl();
            }
        } else if (operands.size() <= 1) {
            printDirName = false;
        }
        for (byte[] dir : dirs) {
            listDirectory(dir, true);
        }
    }

    /** Whether an operand is listed as a directory: links are followed without -l, as GNU ls does. */
    private boolean isDirectory(byte[] path) throws IOException {
        if (longFormat && !endsInDirectory(path)) {
            return Lookup.lstat(path).file().isDirectory();
        }
        try {
            return FsFiles.stat(path).isDirectory();
        } catch (IOException e) {
            Lookup.lstat(path);  // a dangling link is listed as itself; a missing path says so
            return false;
        }
    }

    // "x/", ".", "..", "x/." and "x/.." name the directory itself, never a link to one.
    private static boolean endsInDirectory(byte[] path) {
        int n = path.length;
        return n > 0 && path[n - 1] == '/' || n == 1 && path[0] == '.' || n == 2 && path[0] == '.' && path[1] == '.'
                || n >= 2 && path[n - 1] == '.' && path[n - 2] == '/'
                || n >= 3 && path[n - 1] == '.' && path[n - 2] == '.' && path[n - 3] == '/';
    }

    private void listDirectory(byte[] dir, boolean operand) {
        List<Entry> entries;
        try {
            entries = Lookup.list(dir);
        } catch (IOException e) {
            // As GNU ls: a directory that cannot be opened gets its message but no header.
            err.println("fsutil ls: cannot open directory '" + Names.shown(dir) + "': " + Lookup.reason(e));
            status = operand ? 2 : Math.max(status, 1);
            return;
        }
        if (recursive || printDirName) {
            if (!first) {
                out.nl();
            }
            first = false;
            out.name(dir).ch(':').nl();
        }
        if (!all && !almostAll) {
            entries.removeIf(e -> e.name().length > 0 && e.name()[0] == '.');
        }
        if (all) {
            for (byte[] special : new byte[][] {DOT, DOT_DOT}) {
                try {
                    entries.add(Lookup.lstat(Lookup.join(dir, special)).named(special));
                } catch (IOException e) {
                    err.println("fsutil ls: cannot access '" + Names.shown(Lookup.join(dir, special)) + "': "
                            + Lookup.reason(e));
                    status = Math.max(status, 1);
                }
            }
        }
        entries.sort(BY_NAME);
        if (longFormat) {
            long blocks = 0;
            for (Entry e : entries) {
                blocks += e.file().blocks();
            }
            out.ascii("total ").ascii(Sizes.format(blocks, 512, human ? 1 : 1024,
                    human ? Sizes.BINARY : Sizes.PLAIN)).nl();
        }
        print(entries, dir, entries);
        if (recursive) {
            for (Entry e : entries) {
                if (e.file().isDirectory() && !Arrays.equals(e.name(), DOT) && !Arrays.equals(e.name(), DOT_DOT)) {
                    listDirectory(Lookup.join(dir, e.name()), false);
                }
            }
        }
    }

    /** Entries of {@code dir} (operands when it is null), in columns as wide as {@code widthsOf} needs. */
    private void print(List<Entry> entries, byte[] dir, List<Entry> widthsOf) {
        if (!longFormat) {
            for (Entry e : entries) {
                out.name(e.name()).nl();
            }
            return;
        }
        int linkWidth = 0;
        int userWidth = 0;
        int groupWidth = 0;
        int sizeWidth = 0;
        int majorWidth = 0;
        int minorWidth = 0;
        for (Entry e : widthsOf) {
            ChildFile f = e.file();
            linkWidth = Math.max(linkWidth, Out.digits(Integer.toUnsignedLong(f.links())));
            userWidth = Math.max(userWidth, ownerWidth(users, f.uid()));
            groupWidth = Math.max(groupWidth, ownerWidth(groups, f.gid()));
            if (e.isDevice()) {
                majorWidth = Math.max(majorWidth, Out.digits(major(f.rdev())));
                minorWidth = Math.max(minorWidth, Out.digits(minor(f.rdev())));
                sizeWidth = Math.max(sizeWidth, majorWidth + 2 + minorWidth);
            } else {
                sizeWidth = Math.max(sizeWidth, human ? size(e).length() : Out.digits(f.size()));
            }
        }
        for (Entry e : entries) {
            ChildFile f = e.file();
            out.ascii(f.modeString()).ch(' ').number(Integer.toUnsignedLong(f.links()), linkWidth).ch(' ');
            owner(users, f.uid(), userWidth);
            owner(groups, f.gid(), groupWidth);
            if (e.isDevice()) {
                out.number(major(f.rdev()), Math.max(sizeWidth - 2 - minorWidth, majorWidth)).ascii(", ")
                        .number(minor(f.rdev()), minorWidth);
            } else if (human) {
                out.right(size(e), sizeWidth);
            } else {
                out.number(f.size(), sizeWidth);
            }
            out.ch(' ');
            time(f.modifiedTime());
            out.ch(' ');
            out.name(e.name());
            if (f.type() == ChildFile.Type.SYMLINK) {
                byte[] path = dir == null ? e.name() : Lookup.join(dir, e.name());
                try {
                    byte[] target = Lookup.readLink(path);
                    out.ascii(" -> ");
                    out.name(target);
                } catch (IOException ignored) {
                    // GNU ls shows no arrow for a link it cannot read
                }
            }
            out.nl();
        }
    }

    private String size(Entry e) {
        return Sizes.format(e.file().size(), 1, 1, Sizes.BINARY);
    }

    private int ownerWidth(Owners names, int id) {
        String name = numeric ? null : names.name(id);
        return name != null ? name.length() : Out.digits(Integer.toUnsignedLong(id));
    }

    // A name is left-aligned, a number right-aligned; one space follows.
    private void owner(Owners names, int id, int width) {
        String name = numeric ? null : names.name(id);
        if (name != null) {
            out.left(name, width);
        } else {
            out.number(Integer.toUnsignedLong(id), width);
        }
        out.ch(' ');
    }

    private static long major(long dev) {
        return ((dev >>> 8) & 0xFFF) | ((dev >>> 32) & ~0xFFFL);
    }

    private static long minor(long dev) {
        return (dev & 0xFF) | ((dev >>> 12) & ~0xFFL);
    }

    /**
     * "Dec  6 06:52" within the last six months, "Dec  6  2025" before that or
     * in the future, "2026-12-06 06:52:00.123456789 +0000" with --full-time.
     */
    private void time(Instant t) {
        if (fullTime) {
            ZoneOffset offset = zone.getOffset(t);
            LocalDateTime local = LocalDateTime.ofEpochSecond(t.getEpochSecond(), t.getNano(), offset);
            out.ascii(Integer.toString(local.getYear())).ch('-');
            two(local.getMonthValue()).ch('-');
            two(local.getDayOfMonth()).ch(' ');
            two(local.getHour()).ch(':');
            two(local.getMinute()).ch(':');
            two(local.getSecond()).ch('.');
            String nanos = Integer.toString(local.getNano());
            out.ascii("000000000".substring(nanos.length())).ascii(nanos).ch(' ');
            int seconds = offset.getTotalSeconds();
            out.ch(seconds < 0 ? '-' : '+');
            two(Math.abs(seconds) / 3600);
            two(Math.abs(seconds) / 60 % 60);
            return;
        }
        if (t.isAfter(now)) {
            now = Instant.now();  // the file may have changed since we took the time
        }
        boolean recent = t.isAfter(now.minusSeconds(SIX_MONTHS)) && t.isBefore(now);
        // Files made together share their second: format each second once.
        if (t.getEpochSecond() != shownSecond || recent != shownRecent) {
            LocalDateTime local = LocalDateTime.ofEpochSecond(t.getEpochSecond(), 0, zone.getOffset(t));
            int day = local.getDayOfMonth();
            shownTime = (MONTHS[local.getMonthValue() - 1] + (day < 10 ? "  " : " ") + day
                    + (recent ? String.format(" %02d:%02d", local.getHour(), local.getMinute())
                            : "  " + local.getYear())).getBytes(StandardCharsets.ISO_8859_1);
            shownSecond = t.getEpochSecond();
            shownRecent = recent;
        }
        out.bytes(shownTime);
    }

    private Out two(int value) {
        return out.ch((char) ('0' + value / 10)).ch((char) ('0' + value % 10));
    }
}
