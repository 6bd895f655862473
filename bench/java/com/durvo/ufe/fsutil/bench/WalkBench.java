package com.durvo.ufe.fsutil.bench;

import static com.durvo.ufe.fsutil.bench.Bench.MIB;
import static com.durvo.ufe.fsutil.bench.Bench.contender;
import static com.durvo.ufe.fsutil.bench.Bench.mib;
import static com.durvo.ufe.fsutil.bench.Bench.progress;
import static com.durvo.ufe.fsutil.bench.Bench.residentBytes;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FolderListing;
import com.durvo.ufe.fsutil.WalkOptions;
import com.durvo.ufe.fsutil.bench.Bench.Contender;
import com.durvo.ufe.fsutil.bench.Bench.Row;
import com.durvo.ufe.fsutil.bench.Bench.Target;

import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.lang.management.MemoryMXBean;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileVisitResult;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.SimpleFileVisitor;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.PosixFileAttributes;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.stream.Stream;

/**
 * Tree walks: the library's walk against NIO, Python and the floor program's
 * walk; and the walk engine alone against find, bfs and fd run whole, on a
 * generated tree, on roots as they are and behind the FUSE delay layer.
 */
final class WalkBench {
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

    private final Bench bench;
    private final Floor floor;
    private final int rounds;

    WalkBench(Bench bench) {
        this.bench = bench;
        this.floor = bench.floor;
        this.rounds = bench.rounds;
    }

    void walk(String root, String label) throws IOException {
        long n = floor.timed("walk " + root)[1];
        progress("%s: walking %,d entries", label, n);
        List<Contender> contenders = List.of(
                contender("fsstat walk", 1, n, () -> libraryWalk(root, 1)),
                contender("fsstat walk, 2 threads", 1, n, () -> libraryWalk(root, 2)),
                contender("NIO walkFileTree + readAttributes", 1, n, () -> nioWalk(Path.of(root))),
                bench.floorContender("floor: openat/readdir + fstatat", "walk " + root, 1, n),
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
        double[][] perEntry = bench.measure(contenders, 1, Math.min(rounds, 5));
        List<Row> added = bench.addRows("walk", label.startsWith("/") ? "-" : label.split(" ")[0],
                String.format(Locale.ROOT, "%,d", n), contenders, perEntry);
        bench.targets.add(new Target(added.get(0), added.get(3), 1.2));
        bench.targets.add(new Target(added.get(0), added.get(2), 0.8));
        bench.targets.add(new Target(added.get(0), added.get(4), 1.0));
        bench.targets.add(new Target(added.get(1), added.get(2), 0.5));
    }

    private static long libraryWalk(String root, int threads) throws IOException {
        long[] count = new long[1];
        try (Stream<ChildFile> s = FolderListing.walk(root, WalkOptions.builder().threads(threads).build())) {
            s.forEach(f -> {
                Bench.sink += f.size() + f.mode() + f.inode();
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
                Bench.sink += a.size() + a.permissions().size() + a.fileKey().hashCode();
                count[0]++;
                return FileVisitResult.CONTINUE;
            }
        });
        return count[0];
    }

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
    static final class Peers {
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
    void engine(Path base, int treeSize, List<String> roots, String fuseRoot, Peers peers)
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

        List<Row> names = bench.addRows("names", where, size, List.of(
                javaWalk("fsstat names+types", root, Reads.NAMES_AND_TYPES, 1, n),
                javaWalk("fsstat names+types, 2 threads", root, Reads.NAMES_AND_TYPES, 2, n),
                bench.floorContender("floor: openat/readdir, d_type", "names " + root, 1, n),
                peer("find ROOT", n, command(peers.find, root)),
                peer("bfs ROOT", n, command(peers.bfs, root)),
                peer("fdfind -HI --no-ignore -j2 . ROOT", n, command(peers.fd, "-HI", "--no-ignore", "-j2", ".", root))),
                warm, measured);
        bench.targets.add(new Target(names.get(0), names.get(3), 0.9));
        bench.targets.add(new Target(names.get(0), names.get(4), 1.0));
        bench.targets.add(new Target(names.get(1), names.get(5), 1.0));

        List<Row> all = bench.addRows("attrs", where, size, List.of(
                javaWalk("fsstat all attributes", root, Reads.ALL, 1, n),
                javaWalk("fsstat all attributes, 2 threads", root, Reads.ALL, 2, n),
                bench.floorContender("floor: openat/readdir + fstatat", "walk " + root, 1, n),
                peer("find ROOT -printf '%s %i %m\\n'", n, command(peers.find, root, "-printf", "%s %i %m\\n"))),
                warm, measured);
        bench.targets.add(new Target(all.get(0), all.get(2), 1.1));
        bench.targets.add(new Target(all.get(0), all.get(3), 1.0));
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
        List<Row> names = bench.addRows("names", "fuse", size, List.of(
                javaWalk("fsstat names+types", root, Reads.NAMES_AND_TYPES, 1, n),
                javaWalk("fsstat names+types, 16 threads", root, Reads.NAMES_AND_TYPES, 16, n),
                bench.floorContender("floor: openat/readdir, d_type", "names " + root, 1, n),
                peer("fdfind -HI --no-ignore -j16 . ROOT", n, command(peers.fd, "-HI", "--no-ignore", "-j16", ".", root))),
                1, measured);
        bench.targets.add(new Target(names.get(1), names.get(0), 1 / 8.0));
        bench.targets.add(new Target(names.get(1), names.get(3), 1.0));
        List<Row> all = bench.addRows("attrs", "fuse", size, List.of(
                javaWalk("fsstat all attributes", root, Reads.ALL, 1, n),
                javaWalk("fsstat all attributes, 16 threads", root, Reads.ALL, 16, n)),
                1, measured);
        bench.targets.add(new Target(all.get(1), all.get(0), 1 / 8.0));
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
                    Bench.sink += f.size() + f.inode() + f.mode();
                    count[0]++;
                });
            } else {
                s.forEach(f -> {
                    Bench.sink += f.name().length() + f.type().ordinal();
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
                bench.notes.add(String.format(Locale.ROOT, "warning: %s printed %,d lines for the %,d entries below %s",
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
                        Bench.sink += f.name().length();
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
                bench.notes.add(String.format(Locale.ROOT,
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
}
