package com.durvo.ufe.fsutil.bench;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FolderListing;

import java.io.IOException;
import java.io.PrintStream;
import java.math.BigDecimal;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.PosixFileAttributes;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;

/**
 * Times folder iteration with lstat attributes, tree walks and file-system
 * statistics: the library through its Java API against NIO, Python and the
 * bare system calls (the floor program). Every contender runs on the same
 * directory in the same rounds, in an order that rotates from round to round
 * so that a slow spell of the machine does not fall on one contender only.
 *
 * <p>Arguments: {@code --floor PROGRAM --dir BASE [--dir BASE] [--big]
 * [--sizes N,N,..] [--rounds N] [--walk ROOT]...}. Each BASE is an empty
 * directory that the caller owns; the first one is expected on tmpfs, and
 * only there is the 1,000,000-entry size made (with {@code --big}) and the
 * generated tree walked. Each ROOT is walked as it is (e.g. /usr). Progress
 * goes to stderr, the table to stdout.
 *
 * <p>With {@code --walk-engine} it times walks alone, the library against
 * find, bfs and fd run whole (each given by its path, {@code --find P
 * --bfs P --fd P}; one not given is shown as not installed): on a tree of
 * {@code --tree N} entries made in the first BASE, on each
 * {@code --engine-root ROOT}, and on {@code --fuse ROOT}, a tree behind the
 * FUSE delay layer that the caller has mounted.
 *
 * <p>With {@code --provider} it times the {@code fsstat:} file system's
 * channels and directory streams against the default file system's on each
 * BASE: a 1 GiB file read and written whole, 10,000 files of 4 KiB opened,
 * read and closed, and made, written and closed, and a directory of 100,000
 * entries listed with each entry's attributes; then each {@code --list DIR}
 * as it is.
 *
 * <p>With {@code --snap} it times snapshots ({@link SnapBench}) on a tree of
 * {@code --tree N} entries made in the first BASE and on each
 * {@code --snap-root ROOT}, against {@code --mtree P} where given.
 *
 * <p>This class holds what every part shares: the arguments, the rounds and
 * their measuring, the table; {@link ListingBench}, {@link WalkBench} and
 * {@link ProviderBench} hold the parts.
 */
public final class Bench {
    private static final int[] DEFAULT_SIZES = {1_000, 10_000, 100_000};
    static final int BIG_SIZE = 1_000_000;
    /** Small sizes repeat their listing within a round so a round lasts long enough to time. */
    static final int ENTRIES_PER_ROUND = 100_000;
    private static final int MEMORY_MIN_SIZE = 100_000;
    private static final int TREE_SIZE = 150_000;
    private static final int ENGINE_TREE_SIZE = 1_000_000;
    static final long MIB = 1024 * 1024;

    /** Keeps the JIT from dropping work whose result is otherwise unused. */
    static long sink;

    final Floor floor;
    final int rounds;
    final int warmup;
    private final List<Row> rows = new ArrayList<>();
    final List<String> notes = new ArrayList<>();
    final List<Target> targets = new ArrayList<>();

    private Bench(Floor floor, int rounds, int warmup) {
        this.floor = floor;
        this.rounds = rounds;
        this.warmup = warmup;
    }

    /** One line of the table. */
    record Row(String test, String fs, String size, String contender, double[] perOp) {
        /** NaN for a contender that did not run. */
        double median() {
            return perOp.length == 0 ? Double.NaN : percentile(perOp, 0.5);
        }
    }

    /** One timed round: operations done and nanoseconds spent. */
    interface Round {
        long[] run() throws IOException;
    }

    record Contender(String name, Round round) {
    }

    /**
     * A target: the median of row a at most limit times the median of row b; or, paired, the median
     * of the rounds' own ratios a / b, which a slow spell of the machine during a round leaves alone
     * (both contenders ran in it), for contenders that differ by a few percent.
     */
    record Target(Row a, Row b, double limit, boolean paired) {
        Target(Row a, Row b, double limit) {
            this(a, b, limit, false);
        }

        double ratio() {
            if (!paired || a.perOp().length == 0) {
                return a.median() / b.median();
            }
            double[] r = new double[a.perOp().length];
            for (int i = 0; i < r.length; i++) {
                r[i] = a.perOp()[i] / b.perOp()[i];
            }
            return percentile(r, 0.5);
        }
    }

    public static void main(String[] args) throws Exception {
        String floorProgram = null;
        List<String> bases = new ArrayList<>();
        boolean big = false;
        List<String> walkRoots = new ArrayList<>();
        int[] sizes = DEFAULT_SIZES;
        int rounds = -1;  // 7, or 15 for the provider, whose contenders differ by a few percent
        boolean engineOnly = false;
        boolean providerOnly = false;
        boolean snapOnly = false;
        List<String> snapRoots = new ArrayList<>();
        String mtree = null;
        List<String> lists = new ArrayList<>();
        int engineTree = ENGINE_TREE_SIZE;
        List<String> engineRoots = new ArrayList<>();
        String fuseRoot = null;
        WalkBench.Peers peers = new WalkBench.Peers();
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "--walk-engine" -> engineOnly = true;
                case "--provider" -> providerOnly = true;
                case "--snap" -> snapOnly = true;
                case "--snap-root" -> snapRoots.add(args[++i]);
                case "--mtree" -> mtree = args[++i];
                case "--list" -> lists.add(args[++i]);
                case "--tree" -> engineTree = Integer.parseInt(args[++i]);
                case "--engine-root" -> engineRoots.add(args[++i]);
                case "--fuse" -> fuseRoot = args[++i];
                case "--find" -> peers.find = args[++i];
                case "--bfs" -> peers.bfs = args[++i];
                case "--fd" -> peers.fd = args[++i];
                case "--floor" -> floorProgram = args[++i];
                case "--dir" -> bases.add(args[++i]);
                case "--big" -> big = true;
                case "--sizes" -> sizes = Arrays.stream(args[++i].split(",")).mapToInt(Integer::parseInt).toArray();
                case "--rounds" -> rounds = Integer.parseInt(args[++i]);
                case "--walk" -> walkRoots.add(args[++i]);
                default -> throw new IllegalArgumentException("unknown argument " + args[i]);
            }
        }
        if (rounds == -1) {
            rounds = providerOnly ? 15 : 7;
        }
        if (floorProgram == null || bases.isEmpty() || rounds < 1) {
            throw new IllegalArgumentException("usage: --floor PROGRAM --dir BASE [--dir BASE] [--big] "
                    + "[--sizes N,N,..] [--rounds N] [--walk ROOT].. | --walk-engine --floor PROGRAM --dir BASE "
                    + "[--tree N] [--engine-root ROOT].. [--fuse ROOT] [--find P] [--bfs P] [--fd P] [--rounds N] "
                    + "| --provider --floor PROGRAM --dir BASE [--dir BASE] [--list DIR].. [--rounds N] "
                    + "| --snap --floor PROGRAM --dir BASE [--tree N] [--snap-root ROOT].. [--mtree P] [--rounds N]");
        }
        try (Floor floor = new Floor(floorProgram)) {
            Bench bench = new Bench(floor, rounds, Math.max(2, rounds / 3));
            if (engineOnly) {
                new WalkBench(bench).engine(Paths.get(bases.get(0)), engineTree, engineRoots, fuseRoot, peers);
                bench.print(System.out);
                return;
            }
            if (snapOnly) {
                new SnapBench(bench).snap(Paths.get(bases.get(0)), engineTree, snapRoots, mtree);
                bench.print(System.out);
                return;
            }
            if (providerOnly) {
                new ProviderBench(bench).provider(bases, lists);
                bench.print(System.out);
                return;
            }
            ListingBench listing = new ListingBench(bench);
            WalkBench walks = new WalkBench(bench);
            for (int b = 0; b < bases.size(); b++) {
                Path base = Paths.get(bases.get(b));
                String fs = Files.getFileStore(base).type();
                int[] here = sizes;
                if (big && b == 0) {
                    here = Arrays.copyOf(sizes, sizes.length + 1);
                    here[sizes.length] = BIG_SIZE;
                }
                int largest = Arrays.stream(here).max().getAsInt();
                for (int n : here) {
                    // Memory is watched on tmpfs, over the largest listing, if that is long enough to tell.
                    listing.iteration(base, fs, n, b == 0 && n == largest && n >= MEMORY_MIN_SIZE);
                }
                listing.statistics(base, fs);
                if (b == 0) {
                    Path tree = base.resolve("tree");
                    progress("%s: making a tree of %,d entries in %s", fs, TREE_SIZE, tree);
                    floor.call("tree " + tree + " " + TREE_SIZE);
                    try {
                        walks.walk(tree.toString(), fs + " tree");
                    } finally {
                        floor.call("rm " + tree);
                    }
                }
            }
            for (String root : walkRoots) {
                walks.walk(root, root);
            }
            bench.print(System.out);
        }
    }

    // ---- what the parts share ---------------------------------------------------

    interface Lister {
        long list() throws IOException;
    }

    /** A Java lister repeated reps times per round; every listing must find all n entries. */
    static Contender contender(String name, int reps, long n, Lister lister) {
        return new Contender(name, () -> {
            long t0 = System.nanoTime();
            for (int r = 0; r < reps; r++) {
                long found = lister.list();
                if (found != n) {
                    throw new IllegalStateException(name + " listed " + found + " entries, not " + n);
                }
            }
            return new long[] {(long) reps * n, System.nanoTime() - t0};
        });
    }

    Contender floorContender(String name, String command, int reps, long n) {
        return new Contender(name, () -> {
            long ns = 0;
            for (int r = 0; r < reps; r++) {
                long[] answer = floor.timed(command);
                if (answer[1] != n) {
                    throw new IllegalStateException(name + " listed " + answer[1] + " entries, not " + n);
                }
                ns += answer[0];
            }
            return new long[] {(long) reps * n, ns};
        });
    }

    static long library(String dir) throws IOException {
        long count = 0;
        try (FolderListing listing = FolderListing.open(dir)) {
            for (ChildFile f : listing) {
                sink += f.name().length() + f.size() + f.mode() + f.inode();
                count++;
            }
        }
        return count;
    }

    static long nio(Path dir) throws IOException {
        long count = 0;
        try (DirectoryStream<Path> stream = Files.newDirectoryStream(dir)) {
            for (Path p : stream) {
                PosixFileAttributes a = Files.readAttributes(p, PosixFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
                sink += p.getFileName().toString().length() + a.size() + a.permissions().size() + a.fileKey().hashCode();
                count++;
            }
        }
        return count;
    }

    static double mib(long bytes) {
        return bytes / (double) MIB;
    }

    static long residentBytes() {
        try {
            for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
                if (line.startsWith("VmRSS:")) {
                    return Long.parseLong(line.replaceAll("[^0-9]", "")) * 1024;
                }
            }
        } catch (IOException e) {
            throw new IllegalStateException("cannot read /proc/self/status", e);
        }
        throw new IllegalStateException("no VmRSS in /proc/self/status");
    }

    // ---- measuring and reporting ------------------------------------------------

    /** Measures contenders in interleaved rounds and adds their rows. */
    List<Row> addRows(String test, String fs, String size, List<Contender> contenders, int warm, int measured)
            throws IOException {
        return addRows(test, fs, size, contenders, measure(contenders, warm, measured));
    }

    List<Row> addRows(String test, String fs, String size, List<Contender> contenders, double[][] perOp) {
        List<Row> added = new ArrayList<>();
        for (int c = 0; c < contenders.size(); c++) {
            Row row = new Row(test, fs, size, contenders.get(c).name(), perOp[c]);
            rows.add(row);
            added.add(row);
            progress("%s %s %s: %-40s %8.0f ns", test, fs, size, row.contender(), row.median());
        }
        return added;
    }

    /**
     * Nanoseconds per operation of each contender in each measured round,
     * after warm-up rounds; none for a contender that cannot run (no round).
     */
    double[][] measure(List<Contender> contenders, int warm, int measured) throws IOException {
        int k = contenders.size();
        double[][] result = new double[k][];
        for (int c = 0; c < k; c++) {
            result[c] = new double[contenders.get(c).round() == null ? 0 : measured];
        }
        for (int round = -warm; round < measured; round++) {
            for (int i = 0; i < k; i++) {
                int c = Math.floorMod(i + round, k);  // rotate the order
                if (contenders.get(c).round() == null) {
                    continue;
                }
                long[] opsAndNs = contenders.get(c).round().run();
                if (round >= 0) {
                    result[c][round] = opsAndNs[1] / (double) opsAndNs[0];
                }
            }
        }
        return result;
    }

    private void print(PrintStream out) {
        out.printf(Locale.ROOT, "ns per entry (iteration, walk, names, attrs, dir stream), per file (4 KiB), per"
                + " buffer (1 GiB) or per call (statistics): median and min-max of the measured rounds after warm-up;"
                + " x fsstat = median / median of the first one-thread fsstat row above it%n");
        String format = "%-11s | %-8s | %9s | %-40s | %8s | %-17s | %6s | %8s%n";
        out.printf(Locale.ROOT, format, "test", "fs", "entries", "contender", "median", "min-max", "rounds",
                "x fsstat");
        out.printf(Locale.ROOT, format, "-".repeat(11), "-".repeat(8), "-".repeat(9), "-".repeat(40), "-".repeat(8),
                "-".repeat(17), "-".repeat(6), "-".repeat(8));
        double library = 0;
        String group = "";
        for (Row row : rows) {
            String here = row.test() + " " + row.fs() + " " + row.size();
            if (!here.equals(group)) {
                group = here;
                library = Double.NaN;
            }
            if (Double.isNaN(library) && row.contender().startsWith("fsstat") && !row.contender().contains("threads")) {
                library = row.median();
            }
            if (row.perOp().length == 0) {
                out.printf(Locale.ROOT, format, row.test(), row.fs(), row.size(), row.contender(), "-", "-", "0", "-");
                continue;
            }
            double[] sorted = row.perOp().clone();
            Arrays.sort(sorted);
            out.printf(Locale.ROOT, format, row.test(), row.fs(), row.size(), row.contender(),
                    String.format(Locale.ROOT, "%,.0f", row.median()),
                    String.format(Locale.ROOT, "%,.0f-%,.0f", sorted[0], sorted[sorted.length - 1]),
                    sorted.length, Double.isNaN(library) ? "-" : String.format(Locale.ROOT, "%.2f", row.median() / library));
        }
        out.println();
        for (Target t : targets) {
            double ratio = t.ratio();
            String verdict = Double.isNaN(ratio) ? "not measured"
                    : Double.isNaN(t.limit()) ? "no target at this size"
                    : String.format(Locale.ROOT, "at most %s: %s",
                            BigDecimal.valueOf(t.limit()).stripTrailingZeros().toPlainString(), ratio <= t.limit() ? "met" : "MISSED");
            out.printf(Locale.ROOT, "target %-11s %-8s %9s: %s / %s = %.2f%s (%s)%n", t.a().test(), t.a().fs(),
                    t.a().size(), t.a().contender(), t.b().contender(), ratio, t.paired() ? " round by round" : "",
                    verdict);
        }
        for (String note : notes) {
            out.println(note);
        }
    }

    static double percentile(double[] values, double p) {
        double[] sorted = values.clone();
        Arrays.sort(sorted);
        double at = p * (sorted.length - 1);
        int lo = (int) Math.floor(at);
        int hi = (int) Math.ceil(at);
        return sorted[lo] + (sorted[hi] - sorted[lo]) * (at - lo);
    }

    static void progress(String format, Object... args) {
        System.err.println("bench: " + String.format(Locale.ROOT, format, args));
    }
}
