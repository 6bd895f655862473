package com.durvo.ufe.fsutil.bench;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FileSysStatUnix;
import com.durvo.ufe.fsutil.FileSystemStat;
import com.durvo.ufe.fsutil.FolderListing;
import com.durvo.ufe.fsutil.WalkOptions;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.OutputStreamWriter;
import java.io.PrintStream;
import java.io.Writer;
import java.lang.management.ManagementFactory;
import java.lang.management.MemoryMXBean;
import java.math.BigDecimal;
import java.net.URI;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.FileSystem;
import java.nio.file.FileSystems;
import java.nio.file.FileVisitResult;
import java.nio.file.FileStore;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.SimpleFileVisitor;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.PosixFileAttributes;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.Set;
import java.util.stream.Stream;

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
 */
public final class Bench {
    private static final int[] DEFAULT_SIZES = {1_000, 10_000, 100_000};
    private static final int BIG_SIZE = 1_000_000;
    /** Small sizes repeat their listing within a round so a round lasts long enough to time. */
    private static final int ENTRIES_PER_ROUND = 100_000;
    private static final int STAT_CALLS_PER_ROUND = 20_000;
    private static final int FILESTORE_CALLS_PER_ROUND = 500;
    private static final int MEMORY_MIN_SIZE = 100_000;
    private static final int TREE_SIZE = 150_000;
    private static final int ENGINE_TREE_SIZE = 1_000_000;
    private static final long BIG_FILE = 1L << 30;
    private static final int SMALL_FILES = 10_000;
    private static final int SMALL_FILE_SIZE = 4096;
    private static final int PROVIDER_DIR_SIZE = 100_000;
    /** os.walk with an lstat of every entry, timed inside Python: prints "NS COUNT". */
    private static final String PYTHON_WALK = String.join("\n",
            "import os, sys, time",
            "t0 = time.perf_counter_ns()",
            "n = 0",
            "for d, dirs, files in os.walk(sys.argv[1]):",
            "    for name in dirs + files:",
            "        os.lstat(os.path.join(d, name))",
            "        n += 1",
            "print(time.perf_counter_ns() - t0, n)");
    private static final long MIB = 1024 * 1024;

    /** Keeps the JIT from dropping work whose result is otherwise unused. */
    static long sink;

    private final Floor floor;
    private final int rounds;
    private final int warmup;
    private final List<Row> rows = new ArrayList<>();
    private final List<String> notes = new ArrayList<>();
    private final List<Target> targets = new ArrayList<>();

    private Bench(Floor floor, int rounds, int warmup) {
        this.floor = floor;
        this.rounds = rounds;
        this.warmup = warmup;
    }

    /** One line of the table. */
    private record Row(String test, String fs, String size, String contender, double[] perOp) {
        /** NaN for a contender that did not run. */
        double median() {
            return perOp.length == 0 ? Double.NaN : percentile(perOp, 0.5);
        }
    }

    /** One timed round: operations done and nanoseconds spent. */
    private interface Round {
        long[] run() throws IOException;
    }

    private record Contender(String name, Round round) {
    }

    /**
     * A target: the median of row a at most limit times the median of row b; or, paired, the median
     * of the rounds' own ratios a / b, which a slow spell of the machine during a round leaves alone
     * (both contenders ran in it), for contenders that differ by a few percent.
     */
    private record Target(Row a, Row b, double limit, boolean paired) {
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
        List<String> lists = new ArrayList<>();
        int engineTree = ENGINE_TREE_SIZE;
        List<String> engineRoots = new ArrayList<>();
        String fuseRoot = null;
        Peers peers = new Peers();
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "--walk-engine" -> engineOnly = true;
                case "--provider" -> providerOnly = true;
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
                    + "| --provider --floor PROGRAM --dir BASE [--dir BASE] [--list DIR].. [--rounds N]");
        }
        try (Floor floor = new Floor(floorProgram)) {
            Bench bench = new Bench(floor, rounds, Math.max(2, rounds / 3));
            if (engineOnly) {
                bench.engine(Paths.get(bases.get(0)), engineTree, engineRoots, fuseRoot, peers);
                bench.print(System.out);
                return;
            }
            if (providerOnly) {
                bench.provider(bases, lists);
                bench.print(System.out);
                return;
            }
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
                    bench.iteration(base, fs, n, b == 0 && n == largest && n >= MEMORY_MIN_SIZE);
                }
                bench.statistics(base, fs);
                if (b == 0) {
                    Path tree = base.resolve("tree");
                    progress("%s: making a tree of %,d entries in %s", fs, TREE_SIZE, tree);
                    floor.call("tree " + tree + " " + TREE_SIZE);
                    try {
                        bench.walk(tree.toString(), fs + " tree");
                    } finally {
                        floor.call("rm " + tree);
                    }
                }
            }
            for (String root : walkRoots) {
                bench.walk(root, root);
            }
            bench.print(System.out);
        }
    }

    // ---- folder iteration ----------------------------------------------------

    private void iteration(Path base, String fs, int n, boolean measureMemory) throws IOException {
        Path dir = base.resolve("n" + n);
        String d = dir.toString();
        progress("%s: making %,d entries in %s", fs, n, d);
        floor.call("make " + d + " " + n);
        try {
            int reps = Math.max(1, ENTRIES_PER_ROUND / n);
            List<Contender> contenders = List.of(
                    contender("fsstat FolderListing", reps, n, () -> library(d)),
                    contender("NIO DirectoryStream + readAttributes", reps, n, () -> nio(dir)),
                    floorContender("floor: readdir + fstatat", "fstatat " + d, reps, n));
            // Smaller sizes warm up more rounds, since each of theirs is short
            // anyway; the largest gets fewer rounds, since each takes seconds.
            int warm = n <= 10_000 ? warmup + 2 : n >= BIG_SIZE ? 1 : warmup;
            double[][] perEntry = measure(contenders, warm, n >= BIG_SIZE ? Math.min(rounds, 5) : rounds);
            List<Row> added = addRows("iteration", fs, String.format(Locale.ROOT, "%,d", n), contenders, perEntry);
            // The targets are set at 100,000 entries; other sizes show how the cost follows the floor's.
            if (n == 100_000) {
                targets.add(new Target(added.get(0), added.get(2), 1.15));
                targets.add(new Target(added.get(0), added.get(1), 0.8));
            } else {
                targets.add(new Target(added.get(0), added.get(2), Double.NaN));
            }
            if (measureMemory) {
                memory(d, fs, n);
            }
        } finally {
            floor.call("rm " + d);
        }
    }

    private interface Lister {
        long list() throws IOException;
    }

    /** A Java lister repeated reps times per round; every listing must find all n entries. */
    private static Contender contender(String name, int reps, long n, Lister lister) {
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

    private Contender floorContender(String name, String command, int reps, long n) {
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

    private static long library(String dir) throws IOException {
        long count = 0;
        try (FolderListing listing = FolderListing.open(dir)) {
            for (ChildFile f : listing) {
                sink += f.name().length() + f.size() + f.mode() + f.inode();
                count++;
            }
        }
        return count;
    }

    private static long nio(Path dir) throws IOException {
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

    // ---- memory ----------------------------------------------------------------

    /**
     * Lists dir once more with the library, reading the resident size every
     * 1,000 entries, and collecting to read the live heap after the first
     * 1,000 entries, every 100,000 and at the end.
     */
    private void memory(String dir, String fs, int n) throws IOException {
        progress("%s %,d: memory while listing with the library", fs, n);
        MemoryMXBean mx = ManagementFactory.getMemoryMXBean();
        long rssFirst = 0;
        long heapFirst = 0;
        long rssPeak = 0;
        long heapPeak = 0;
        long count = 0;
        try (FolderListing listing = FolderListing.open(dir)) {
            for (ChildFile f : listing) {
                sink += f.name().length() + f.size();
                count++;
                if (count % 1_000 == 0) {
                    boolean collect = count == 1_000 || count % 100_000 == 0;
                    if (collect) {
                        System.gc();
                        heapPeak = Math.max(heapPeak, mx.getHeapMemoryUsage().getUsed());
                    }
                    long rss = residentBytes();
                    rssPeak = Math.max(rssPeak, rss);
                    if (count == 1_000) {
                        rssFirst = rss;
                        heapFirst = heapPeak;
                    }
                }
            }
        }
        System.gc();
        long heapEnd = mx.getHeapMemoryUsage().getUsed();
        long rssEnd = residentBytes();
        heapPeak = Math.max(heapPeak, heapEnd);
        rssPeak = Math.max(rssPeak, rssEnd);
        notes.add(String.format(Locale.ROOT,
                "memory, %,d entries on %s: resident %.1f MiB after 1,000, peak %.1f, at the end %.1f (%+.1f); "
                        + "live heap %.1f MiB after 1,000, peak %.1f, at the end %.1f (%+.1f); target within 10 MiB: %s",
                count, fs, mib(rssFirst), mib(rssPeak), mib(rssEnd), mib(rssEnd - rssFirst), mib(heapFirst),
                mib(heapPeak), mib(heapEnd), mib(heapEnd - heapFirst),
                Math.abs(rssEnd - rssFirst) <= 10 * MIB && Math.abs(heapEnd - heapFirst) <= 10 * MIB
                        ? "met" : "MISSED"));
    }

    private static double mib(long bytes) {
        return bytes / (double) MIB;
    }

    private static long residentBytes() {
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

    // ---- tree walks ------------------------------------------------------------

    private void walk(String root, String label) throws IOException {
        long n = floor.timed("walk " + root)[1];
        progress("%s: walking %,d entries", label, n);
        List<Contender> contenders = List.of(
                contender("fsstat walk", 1, n, () -> libraryWalk(root, 1)),
                contender("fsstat walk, 2 threads", 1, n, () -> libraryWalk(root, 2)),
                contender("NIO walkFileTree + readAttributes", 1, n, () -> nioWalk(Path.of(root))),
                floorContender("floor: openat/readdir + fstatat", "walk " + root, 1, n),
                new Contender("Python os.walk + os.lstat", () -> {
                    Process p = new ProcessBuilder("python3", "-c", PYTHON_WALK, root)
                            .redirectError(ProcessBuilder.Redirect.INHERIT).start();
                    String[] answer = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8).trim()
                            .split(" ");
                    if (answer.length != 2 || Long.parseLong(answer[1]) != n) {
                        throw new IOException("python walked " + String.join(" ", answer) + ", not " + n);
                    }
                    return new long[] {n, Long.parseLong(answer[0])};
                }));
        double[][] perEntry = measure(contenders, 1, Math.min(rounds, 5));
        List<Row> added = addRows("walk", label.startsWith("/") ? "-" : label.split(" ")[0],
                String.format(Locale.ROOT, "%,d", n), contenders, perEntry);
        targets.add(new Target(added.get(0), added.get(3), 1.2));
        targets.add(new Target(added.get(0), added.get(2), 0.8));
        targets.add(new Target(added.get(0), added.get(4), 1.0));
        targets.add(new Target(added.get(1), added.get(2), 0.5));
    }

    private static long libraryWalk(String root, int threads) throws IOException {
        long[] count = new long[1];
        try (Stream<ChildFile> s = FolderListing.walk(root, WalkOptions.builder().threads(threads).build())) {
            s.forEach(f -> {
                sink += f.size() + f.mode() + f.inode();
                count[0]++;
            });
        }
        return count[0];
    }

    private static long nioWalk(Path root) throws IOException {
        long[] count = new long[1];
        Files.walkFileTree(root, new SimpleFileVisitor<>() {
            @Override
            public FileVisitResult preVisitDirectory(Path dir, BasicFileAttributes attrs) throws IOException {
                if (!dir.equals(root)) {
                    visitFile(dir, attrs);
                }
                return FileVisitResult.CONTINUE;
            }

            @Override
            public FileVisitResult visitFile(Path file, BasicFileAttributes attrs) throws IOException {
                PosixFileAttributes a = Files.readAttributes(file, PosixFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
                sink += a.size() + a.permissions().size() + a.fileKey().hashCode();
                count[0]++;
                return FileVisitResult.CONTINUE;
            }
        });
        return count[0];
    }

    // ---- the walk engine against find, bfs and fd -------------------------------

    /** What a walk reads of each entry: what its consumer may then ask. */
    private enum Reads {
        NAMES_AND_TYPES, ALL
    }

    /** Opens one walk of a root. */
    private interface WalkOpener {
        Stream<ChildFile> open(String root) throws IOException;
    }

    /** The library's walk that reads what a case needs, with that many threads. */
    private static WalkOpener opener(Reads reads, int threads) {
        WalkOptions options = switch (reads) {
            case ALL -> WalkOptions.builder().readAll().threads(threads).build();
            case NAMES_AND_TYPES -> WalkOptions.builder().readNamesAndTypes().threads(threads).build();
        };
        return root -> FolderListing.walk(root, options);
    }

    /** Where the peer programs are; a null one is not installed and its rows say so. */
    private static final class Peers {
        String find;
        String bfs;
        String fd;
    }

    /**
     * The walk engine against the programs users run for the same job: a tree
     * of treeSize entries made on base (tmpfs), each of roots as it is (/usr),
     * and fuseRoot, a small tree behind the FUSE delay layer, where every
     * metadata call is a round trip and only overlapping them helps.
     */
    private void engine(Path base, int treeSize, List<String> roots, String fuseRoot, Peers peers)
            throws IOException {
        String fs = Files.getFileStore(base).type();
        Path tree = base.resolve("engine-tree");
        progress("%s: making a tree of %,d entries in %s", fs, treeSize, tree);
        floor.call("tree " + tree + " " + treeSize);
        try {
            engineOn(tree.toString(), fs, 1, peers);
            walkMemory(tree.toString(), fs);
        } finally {
            floor.call("rm " + tree);
        }
        for (String root : roots) {
            engineOn(root, root, 2, peers);
        }
        if (fuseRoot != null) {
            latency(fuseRoot, peers);
        }
    }

    /** Names and types, then all attributes, on one root. */
    private void engineOn(String root, String where, int warm, Peers peers) throws IOException {
        long n = floor.timed("names " + root)[1];
        progress("%s: walking %,d entries against find, bfs and fd", where, n);
        int measured = Math.min(rounds, 5);
        String size = String.format(Locale.ROOT, "%,d", n);
        checkPeerCounts(n, root, command(peers.find, root), command(peers.bfs, root),
                command(peers.fd, "-HI", "--no-ignore", ".", root));

        List<Row> names = addRows("names", where, size, List.of(
                javaWalk("fsstat names+types", root, Reads.NAMES_AND_TYPES, 1, n),
                javaWalk("fsstat names+types, 2 threads", root, Reads.NAMES_AND_TYPES, 2, n),
                floorContender("floor: openat/readdir, d_type", "names " + root, 1, n),
                peer("find ROOT", n, command(peers.find, root)),
                peer("bfs ROOT", n, command(peers.bfs, root)),
                peer("fdfind -HI --no-ignore -j2 . ROOT", n, command(peers.fd, "-HI", "--no-ignore", "-j2", ".", root))),
                warm, measured);
        targets.add(new Target(names.get(0), names.get(3), 0.9));
        targets.add(new Target(names.get(0), names.get(4), 1.0));
        targets.add(new Target(names.get(1), names.get(5), 1.0));

        List<Row> all = addRows("attrs", where, size, List.of(
                javaWalk("fsstat all attributes", root, Reads.ALL, 1, n),
                javaWalk("fsstat all attributes, 2 threads", root, Reads.ALL, 2, n),
                floorContender("floor: openat/readdir + fstatat", "walk " + root, 1, n),
                peer("find ROOT -printf '%s %i %m\\n'", n, command(peers.find, root, "-printf", "%s %i %m\\n"))),
                warm, measured);
        targets.add(new Target(all.get(0), all.get(2), 1.1));
        targets.add(new Target(all.get(0), all.get(3), 1.0));
    }

    /**
     * The walk over the FUSE delay layer: 1 thread against 16 (one round trip
     * at a time against sixteen in flight), and fd with as many threads.
     * Rounds are few, since one walk with one thread takes seconds here.
     */
    private void latency(String root, Peers peers) throws IOException {
        long n = floor.timed("names " + root)[1];
        progress("fuse: walking %,d entries, every metadata call delayed", n);
        checkPeerCounts(n, root, command(peers.fd, "-HI", "--no-ignore", ".", root));
        int measured = Math.min(rounds, 3);
        String size = String.format(Locale.ROOT, "%,d", n);
        List<Row> names = addRows("names", "fuse", size, List.of(
                javaWalk("fsstat names+types", root, Reads.NAMES_AND_TYPES, 1, n),
                javaWalk("fsstat names+types, 16 threads", root, Reads.NAMES_AND_TYPES, 16, n),
                floorContender("floor: openat/readdir, d_type", "names " + root, 1, n),
                peer("fdfind -HI --no-ignore -j16 . ROOT", n, command(peers.fd, "-HI", "--no-ignore", "-j16", ".", root))),
                1, measured);
        targets.add(new Target(names.get(1), names.get(0), 1 / 8.0));
        targets.add(new Target(names.get(1), names.get(3), 1.0));
        List<Row> all = addRows("attrs", "fuse", size, List.of(
                javaWalk("fsstat all attributes", root, Reads.ALL, 1, n),
                javaWalk("fsstat all attributes, 16 threads", root, Reads.ALL, 16, n)),
                1, measured);
        targets.add(new Target(all.get(1), all.get(0), 1 / 8.0));
    }

    /** A case of the library's walk; every walk must deliver all n entries. */
    private static Contender javaWalk(String name, String root, Reads reads, int threads, long n) {
        WalkOpener opener = opener(reads, threads);
        return contender(name, 1, n, () -> libraryWalk(opener, root, reads));
    }

    private static long libraryWalk(WalkOpener opener, String root, Reads reads) throws IOException {
        long[] count = new long[1];
        try (Stream<ChildFile> s = opener.open(root)) {
            if (reads == Reads.ALL) {
                s.forEach(f -> {
                    sink += f.size() + f.inode() + f.mode();
                    count[0]++;
                });
            } else {
                s.forEach(f -> {
                    sink += f.name().length() + f.type().ordinal();
                    count[0]++;
                });
            }
        }
        return count[0];
    }

    /**
     * A program run whole, as its users run it, its output to /dev/null: the
     * wall time from start to exit, its start-up included. A program that is
     * not installed (no command) gives a row that says so.
     */
    private static Contender peer(String name, long n, List<String> command) {
        if (command == null) {
            return new Contender(name + " (not installed)", null);
        }
        return new Contender(name, () -> {
            long t0 = System.nanoTime();
            Process p = new ProcessBuilder(command).redirectOutput(ProcessBuilder.Redirect.DISCARD)
                    .redirectError(ProcessBuilder.Redirect.INHERIT).start();
            int status = waitFor(p);
            long ns = System.nanoTime() - t0;
            if (status != 0) {
                throw new IOException(String.join(" ", command) + " exited with status " + status);
            }
            return new long[] {n, ns};
        });
    }

    /** A program and its arguments; null when the program is not installed. */
    private static List<String> command(String program, String... args) {
        if (program == null) {
            return null;
        }
        List<String> command = new ArrayList<>(List.of(program));
        command.addAll(Arrays.asList(args));
        return command;
    }

    private static int waitFor(Process p) throws IOException {
        try {
            return p.waitFor();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IOException("interrupted waiting for " + p.info().command().orElse("a peer"), e);
        }
    }

    /**
     * Runs each peer once, untimed, counting its output lines: a peer that
     * skipped entries (hidden ones, ignore files) would look faster than it is.
     * find prints the root too, fd does not.
     */
    @SafeVarargs
    private void checkPeerCounts(long n, String root, List<String>... commands) throws IOException {
        for (List<String> command : commands) {
            if (command == null) {
                continue;
            }
            Process p = new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.INHERIT).start();
            long lines = 0;
            try (var in = p.getInputStream()) {
                byte[] buffer = new byte[1 << 16];
                for (int got; (got = in.read(buffer)) > 0; ) {
                    for (int i = 0; i < got; i++) {
                        if (buffer[i] == '\n') {
                            lines++;
                        }
                    }
                }
            }
            waitFor(p);
            if (lines != n && lines != n + 1) {
                notes.add(String.format(Locale.ROOT, "warning: %s printed %,d lines for the %,d entries below %s",
                        String.join(" ", command), lines, n, root));
            }
        }
    }

    /**
     * Walks root once per case more, reading the resident size every 1,000
     * entries and, after a collection, the live heap after the first 1,000
     * entries, every 100,000 and at the end.
     */
    private void walkMemory(String root, String fs) throws IOException {
        for (Reads reads : Reads.values()) {
            for (int threads : new int[] {1, 16}) {
                WalkOpener opener = opener(reads, threads);
                String name = (reads == Reads.ALL ? "all attributes" : "names+types") + ", " + threads
                        + (threads == 1 ? " thread" : " threads");
                progress("%s: memory while walking, %s", fs, name);
                MemoryMXBean mx = ManagementFactory.getMemoryMXBean();
                long[] m = new long[5];  // resident after 1,000, peak; heap after 1,000, peak; count
                try (Stream<ChildFile> s = opener.open(root)) {
                    s.forEach(f -> {
                        sink += f.name().length();
                        long count = ++m[4];
                        if (count % 1_000 == 0) {
                            if (count == 1_000 || count % 100_000 == 0) {
                                System.gc();
                                m[3] = Math.max(m[3], mx.getHeapMemoryUsage().getUsed());
                                if (count == 1_000) {
                                    m[2] = m[3];
                                }
                            }
                            long rss = residentBytes();
                            m[1] = Math.max(m[1], rss);
                            if (count == 1_000) {
                                m[0] = rss;
                            }
                        }
                    });
                }
                System.gc();
                long heapEnd = mx.getHeapMemoryUsage().getUsed();
                long rssEnd = residentBytes();
                notes.add(String.format(Locale.ROOT,
                        "memory, walk of %,d entries on %s, %s: resident %.1f MiB after 1,000, peak %.1f, "
                                + "at the end %.1f (%+.1f); live heap %.1f MiB after 1,000, peak %.1f, at the end "
                                + "%.1f (%+.1f); flat within 10 MiB: %s",
                        m[4], fs, name, mib(m[0]), mib(Math.max(m[1], rssEnd)), mib(rssEnd), mib(rssEnd - m[0]),
                        mib(m[2]), mib(Math.max(m[3], heapEnd)), mib(heapEnd), mib(heapEnd - m[2]),
                        Math.max(m[1], rssEnd) - m[0] <= 10 * MIB && Math.max(m[3], heapEnd) - m[2] <= 10 * MIB
                                ? "met" : "MISSED"));
            }
        }
    }

    // ---- the fsstat: provider against the default one -----------------------------

    private void provider(List<String> bases, List<String> lists) throws IOException {
        FileSystem fsstat = FileSystems.getFileSystem(URI.create("fsstat:///"));
        for (String b : bases) {
            Path base = Paths.get(b);
            String fs = Files.getFileStore(base).type();
            bigFile(base, fs, fsstat);
            smallFiles(base, fs, fsstat);
            String dir = base.resolve("n" + PROVIDER_DIR_SIZE).toString();
            progress("%s: making %,d entries in %s", fs, PROVIDER_DIR_SIZE, dir);
            floor.call("make " + dir + " " + PROVIDER_DIR_SIZE);
            try {
                directoryStream(dir, fs, PROVIDER_DIR_SIZE, fsstat);
            } finally {
                floor.call("rm " + dir);
            }
        }
        for (String dir : lists) {
            directoryStream(dir, dir, floor.timed("fstatat " + dir)[1], fsstat);
        }
    }

    /**
     * A file of 1 GiB, in the page cache once written, read whole and
     * written whole (in place) through one channel per round, with buffers of
     * 1 MiB and of 64 KiB: nanoseconds per buffer.
     */
    private void bigFile(Path base, String fs, FileSystem fsstat) throws IOException {
        Path file = base.resolve("big");
        progress("%s: writing %,d bytes to %s", fs, BIG_FILE, file);
        try (FileChannel ch = FileChannel.open(file, StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE)) {
            writeWhole(ch, ByteBuffer.allocateDirect((int) MIB));
        }
        Path ours = fsstat.getPath(file.toString());
        try {
            for (int size : new int[] {(int) MIB, 64 << 10}) {
                ByteBuffer buffer = ByteBuffer.allocateDirect(size);
                String label = size >= MIB ? size / MIB + " MiB" : size / 1024 + " KiB";
                long calls = BIG_FILE / size;
                progress("%s: 1 GiB read and written with %s buffers", fs, label);
                List<Row> read = addRows("1 GiB read", fs, label, List.of(
                        new Contender("fsstat: FileChannel", () -> timedRead(ours, buffer, calls)),
                        new Contender("default FileChannel", () -> timedRead(file, buffer, calls))),
                        warmup, rounds);
                targets.add(new Target(read.get(0), read.get(1), 1.05, true));
                List<Row> write = addRows("1 GiB write", fs, label, List.of(
                        new Contender("fsstat: FileChannel", () -> timedWrite(ours, buffer, calls)),
                        new Contender("default FileChannel", () -> timedWrite(file, buffer, calls))),
                        warmup, rounds);
                targets.add(new Target(write.get(0), write.get(1), 1.05, true));
            }
        } finally {
            Files.delete(file);
        }
    }

    private static long[] timedRead(Path file, ByteBuffer buffer, long calls) throws IOException {
        long t0 = System.nanoTime();
        long bytes = 0;
        try (FileChannel ch = FileChannel.open(file, StandardOpenOption.READ)) {
            for (int n; (n = ch.read(buffer.clear())) > 0; ) {
                bytes += n;
            }
        }
        long ns = System.nanoTime() - t0;
        if (bytes != BIG_FILE) {
            throw new IllegalStateException("read " + bytes + " bytes of " + file + ", not " + BIG_FILE);
        }
        return new long[] {calls, ns};
    }

    private static long[] timedWrite(Path file, ByteBuffer buffer, long calls) throws IOException {
        long t0 = System.nanoTime();
        try (FileChannel ch = FileChannel.open(file, StandardOpenOption.WRITE)) {
            writeWhole(ch, buffer);
        }
        return new long[] {calls, System.nanoTime() - t0};
    }

    /** Writes BIG_FILE bytes from the start, the buffer over and over. */
    private static void writeWhole(FileChannel ch, ByteBuffer buffer) throws IOException {
        for (long at = 0; at < BIG_FILE; ) {
            buffer.clear();
            buffer.limit((int) Math.min(buffer.capacity(), BIG_FILE - at));
            while (buffer.hasRemaining()) {
                at += ch.write(buffer);
            }
        }
    }

    /**
     * 10,000 files of 4 KiB, each opened, read to its end and closed; and as
     * many made, written and closed in an empty directory (removed after each
     * round, untimed), with the options of Files.write. Where the open and
     * close cost more than the data: nanoseconds per file.
     */
    private void smallFiles(Path base, String fs, FileSystem fsstat) throws IOException {
        Path dir = base.resolve("small");
        progress("%s: making %,d files of %,d bytes in %s", fs, SMALL_FILES, SMALL_FILE_SIZE, dir);
        Files.createDirectory(dir);
        byte[] content = new byte[SMALL_FILE_SIZE];
        Arrays.fill(content, (byte) 'x');
        Path[] plain = new Path[SMALL_FILES];
        Path[] ours = new Path[SMALL_FILES];
        for (int i = 0; i < SMALL_FILES; i++) {
            plain[i] = dir.resolve(String.format(Locale.ROOT, "f%05d", i));
            ours[i] = fsstat.getPath(plain[i].toString());
            Files.write(plain[i], content);
        }
        try {
            ByteBuffer buffer = ByteBuffer.allocateDirect(2 * SMALL_FILE_SIZE);
            String size = String.format(Locale.ROOT, "%,d", SMALL_FILES);
            progress("%s: %,d files of 4 KiB read, and written", fs, SMALL_FILES);
            List<Row> read = addRows("4 KiB read", fs, size, List.of(
                    new Contender("fsstat: newByteChannel", () -> readSmall(ours, buffer)),
                    new Contender("default newByteChannel", () -> readSmall(plain, buffer))),
                    warmup + 2, rounds);
            targets.add(new Target(read.get(0), read.get(1), 1.05, true));
            Path out = base.resolve("written");
            Path[] plainOut = new Path[SMALL_FILES];
            Path[] oursOut = new Path[SMALL_FILES];
            for (int i = 0; i < SMALL_FILES; i++) {
                plainOut[i] = out.resolve(plain[i].getFileName());
                oursOut[i] = fsstat.getPath(plainOut[i].toString());
            }
            List<Row> write = addRows("4 KiB write", fs, size, List.of(
                    new Contender("fsstat: newByteChannel", () -> writeSmall(out, oursOut, content)),
                    new Contender("default newByteChannel", () -> writeSmall(out, plainOut, content))),
                    warmup + 2, rounds);
            targets.add(new Target(write.get(0), write.get(1), 1.05, true));
        } finally {
            floor.call("rm " + dir);
        }
    }

    private static long[] readSmall(Path[] files, ByteBuffer buffer) throws IOException {
        long t0 = System.nanoTime();
        long bytes = 0;
        for (Path f : files) {
            try (var ch = Files.newByteChannel(f, StandardOpenOption.READ)) {
                buffer.clear();
                for (int n; (n = ch.read(buffer)) >= 0; ) {
                    bytes += n;
                }
            }
        }
        long ns = System.nanoTime() - t0;
        if (bytes != (long) files.length * SMALL_FILE_SIZE) {
            throw new IllegalStateException("read " + bytes + " bytes of small files");
        }
        return new long[] {files.length, ns};
    }

    private static final Set<StandardOpenOption> WRITE_OPTIONS = Set.of(StandardOpenOption.CREATE,
            StandardOpenOption.TRUNCATE_EXISTING, StandardOpenOption.WRITE);

    private long[] writeSmall(Path dir, Path[] files, byte[] content) throws IOException {
        Files.createDirectory(dir);
        ByteBuffer buffer = ByteBuffer.wrap(content);
        long t0 = System.nanoTime();
        for (Path f : files) {
            try (var ch = Files.newByteChannel(f, WRITE_OPTIONS)) {
                buffer.clear();
                while (buffer.hasRemaining()) {
                    ch.write(buffer);
                }
            }
        }
        long ns = System.nanoTime() - t0;
        floor.call("rm " + dir);
        return new long[] {files.length, ns};
    }

    /**
     * A directory of n entries listed through each file system's directory
     * stream with each entry's attributes read by its path, and through
     * FolderListing: nanoseconds per entry.
     */
    private void directoryStream(String dir, String fs, long n, FileSystem fsstat) throws IOException {
        progress("%s: directory streams over %,d entries of %s", fs, n, dir);
        int reps = (int) Math.max(1, ENTRIES_PER_ROUND / n);
        Path ours = fsstat.getPath(dir);
        Path plain = Paths.get(dir);
        List<Row> added = addRows("dir stream", fs, String.format(Locale.ROOT, "%,d", n), List.of(
                contender("fsstat: DirectoryStream + readAttributes", reps, n, () -> nio(ours)),
                contender("NIO DirectoryStream + readAttributes", reps, n, () -> nio(plain)),
                contender("fsstat FolderListing", reps, n, () -> library(dir))),
                n <= 10_000 ? warmup + 2 : warmup, rounds);
        targets.add(new Target(added.get(0), added.get(1), 1.0, true));
    }

    // ---- statistics --------------------------------------------------------------

    private void statistics(Path base, String fs) throws IOException {
        String path = base.toString();
        FileSystemStat api = FileSystemStat.forCurrentOs();
        List<Contender> contenders = List.of(
                javaStat("fsstat FileSystemStat", STAT_CALLS_PER_ROUND, () -> {
                    FileSysStatUnix st = api.getFileSysStat(path);
                    return st.totalBytes() + st.availableBytes() + st.freeBytes();
                }),
                javaStat("NIO getFileStore + 3 space figures", FILESTORE_CALLS_PER_ROUND, () -> {
                    FileStore store = Files.getFileStore(base);
                    return store.getTotalSpace() + store.getUsableSpace() + store.getUnallocatedSpace();
                }),
                new Contender("floor: statvfs", () -> {
                    long[] answer = floor.timed("statvfs " + path + " " + STAT_CALLS_PER_ROUND);
                    return new long[] {answer[1], answer[0]};
                }));
        progress("%s: statistics", fs);
        double[][] perCall = measure(contenders, warmup + 2, rounds);
        List<Row> added = addRows("statistics", fs, "-", contenders, perCall);
        targets.add(new Target(added.get(0), added.get(2), 1.4));
    }

    private interface StatCall {
        long call() throws IOException;
    }

    private static Contender javaStat(String name, int calls, StatCall stat) {
        return new Contender(name, () -> {
            long t0 = System.nanoTime();
            for (int i = 0; i < calls; i++) {
                sink += stat.call();
            }
            return new long[] {calls, System.nanoTime() - t0};
        });
    }

    // ---- measuring and reporting ------------------------------------------------

    /** Measures contenders in interleaved rounds and adds their rows. */
    private List<Row> addRows(String test, String fs, String size, List<Contender> contenders, int warm, int measured)
            throws IOException {
        return addRows(test, fs, size, contenders, measure(contenders, warm, measured));
    }

    private List<Row> addRows(String test, String fs, String size, List<Contender> contenders, double[][] perOp) {
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
    private double[][] measure(List<Contender> contenders, int warm, int measured) throws IOException {
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

    private static void progress(String format, Object... args) {
        System.err.println("bench: " + String.format(Locale.ROOT, format, args));
    }

    /** The floor program, serving one command per line. */
    private static final class Floor implements AutoCloseable {
        private final Process process;
        private final Writer in;
        private final BufferedReader out;

        Floor(String program) throws IOException {
            process = new ProcessBuilder(program).redirectError(ProcessBuilder.Redirect.INHERIT).start();
            in = new OutputStreamWriter(process.getOutputStream(), StandardCharsets.UTF_8);
            out = new BufferedReader(new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8));
        }

        String call(String command) throws IOException {
            in.write(command + "\n");
            in.flush();
            String answer = out.readLine();
            if (answer == null || answer.startsWith("error")) {
                throw new IOException("floor program: " + (answer == null ? "no answer to " + command : answer));
            }
            return answer;
        }

        /** The nanoseconds and the count that a timed command answers. */
        long[] timed(String command) throws IOException {
            String[] parts = call(command).split(" ");
            return new long[] {Long.parseLong(parts[0]), Long.parseLong(parts[1])};
        }

        @Override
        public void close() throws IOException {
            in.close();
            try {
                process.waitFor();
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }
    }
}
