package com.durvo.ufe.fsutil.change;

import java.io.IOException;
import java.nio.file.ClosedWatchServiceException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Random;
import java.util.Set;
import java.util.concurrent.ConcurrentHashMap;
import java.util.stream.Stream;

/**
 * A watcher against the oracle of two snapshots: the tree is churned by writer threads at full speed,
 * then what the watcher reports must cover every difference between a snapshot taken before and a fresh
 * one, and its own snapshot must equal the fresh one. Each method answers one line per failed case.
 */
public final class WatchChecks {
    private static final boolean ROOT = "root".equals(System.getProperty("user.name"));

    private WatchChecks() {
    }

    /** The churn of {@code seeds} seeds, each with one writer and with {@code writers}, below {@code dir}. */
    public static String churn(String dir, int seeds, int writers, int steps) throws Exception {
        List<String> failed = new ArrayList<>();
        for (int s = 1; s <= seeds; s++) {
            int seed = s;
            for (int w : writers == 1 ? new int[] {1} : new int[] {1, writers}) {
                Path root = Files.createDirectory(Path.of(dir, "churn-" + seed + "-" + w));
                String name = "seed " + seed + ", " + w + " writer(s)";
                Script.run(root, seed, 1, 40);  // something to start from
                try (TreeWatcher watcher = TreeWatcher.open(root)) {
                    compare(name, root, watcher, () -> Script.run(root, seed, w, steps), failed);
                }
            }
        }
        // A directory moved between the watcher's look at it and its watch: rare in the churn, so forced.
        Path root = Files.createDirectories(Path.of(dir, "moved-at-once", "q"));
        try (TreeWatcher watcher = TreeWatcher.open(root.getParent())) {
            compare("made, filled and moved at once", root.getParent(), watcher, () -> {
                for (int i = 0; i < 200; i++) {
                    Path made = Files.createDirectories(root.resolveSibling("x" + i).resolve("y")).getParent();
                    Files.createDirectory(Files.move(made, root.resolve("m" + i)).resolve("y/z"));
                }
            }, failed);
        }
        return String.join("\n", failed);
    }

    /**
     * Overflow and the watch limit, forced by lowering inotify's limits for a moment (root only): the
     * changes still come, marked as found by a rescan, and the limit is named.
     */
    public static String lostEvents(String dir) throws Exception {
        if (!ROOT) {
            return "";  // the limits are the system's: skipped, as the test says
        }
        List<String> failed = new ArrayList<>();
        Path queued = Path.of("/proc/sys/fs/inotify/max_queued_events");
        Path watches = Path.of("/proc/sys/fs/inotify/max_user_watches");
        Path root = Files.createDirectory(Path.of(dir, "overflow"));
        for (int i = 0; i < 2000; i++) {
            Files.createFile(root.resolve("f" + i));
        }
        TreeWatcher small;
        String kept = setting(queued);
        try {
            Files.writeString(queued, "16");  // read by inotify instances made from here on
            small = TreeWatcher.open(root);
        } finally {
            Files.writeString(queued, kept);
        }
        try (TreeWatcher watcher = small) {
            // One event per file, so that only the rescan after the overflow can find what a dropped one said.
            List<TreeChange> got = compare("overflow", root, watcher, () -> {
                Thread[] writers = new Thread[4];
                for (int t = 0; t < writers.length; t++) {
                    int first = t;
                    writers[t] = new Thread(() -> {
                        for (int i = first; i < 2000; i += writers.length) {
                            root.resolve("f" + i).toFile().setExecutable(true);
                        }
                    });
                    writers[t].start();
                }
                for (Thread t : writers) {
                    t.join();
                }
            }, failed);
            check(failed, "overflow: changes found by the rescan are marked", got.stream().anyMatch(TreeChange::foundByRescan));
        }
        Path limited = Files.createDirectory(Path.of(dir, "limit"));
        for (String d : new String[] {"a", "a/b", "a/b/c", "d"}) {
            Files.createDirectory(limited.resolve(d));
        }
        kept = setting(watches);
        try {
            try (TreeWatcher watcher = openLimited(limited, watches)) {
                List<TreeChange> got = compare("watch limit", limited, watcher, () -> {
                    Files.writeString(limited.resolve("a/b/c/new"), "x");
                    Files.writeString(limited.resolve("d/new"), "y");
                }, failed);
                check(failed, "watch limit: named in a warning", watcher.warnings().size() == 1
                        && watcher.warnings().get(0).contains("fs.inotify.max_user_watches"));
                check(failed, "watch limit: what no watch saw is found by a rescan", got.stream()
                        .anyMatch(c -> c.foundByRescan() && new String(c.pathBytes()).endsWith("/new")));
            }
        } finally {
            Files.writeString(watches, kept);
        }
        return String.join("\n", failed);
    }

    /** The end of a watcher: its root removed or moved, or closed from another thread while in use. */
    public static String ending(String dir) throws Exception {
        List<String> failed = new ArrayList<>();
        for (String how : new String[] {"removed", "moved"}) {
            Path root = Files.createDirectory(Path.of(dir, how));
            try (TreeWatcher watcher = TreeWatcher.open(root)) {
                TreeWatcher.Clock start = watcher.clock();
                if (how.equals("removed")) {
                    Files.delete(root);
                } else {
                    Files.move(root, Path.of(dir, "elsewhere"));
                }
                for (int i = 0; i < 2; i++) {  // changesSince, then snapshot: both say it has ended
                    try {
                        Object o = i == 0 ? watcher.changesSince(start) : watcher.snapshot();
                        failed.add("root " + how + ": the watcher went on: " + o);
                    } catch (IOException e) {
                        check(failed, "root " + how + ": a clear message, not " + e, String.valueOf(e.getMessage()).contains("has ended"));
                    }
                }
            }
        }
        long fds = openDescriptors();
        Path root = Files.createDirectory(Path.of(dir, "closed"));
        Files.createDirectories(root.resolve("a/b"));
        TreeWatcher watcher = TreeWatcher.open(root);
        TreeWatcher.Clock start = watcher.clock();
        try (TreeWatcher other = TreeWatcher.open(root)) {
            other.changesSince(start);
            failed.add("a clock of another watcher was taken");
        } catch (IllegalArgumentException expected) {
        }
        Throwable[] ended = new Throwable[1];
        Thread user = new Thread(() -> {
            try {
                for (int i = 0;; i++) {
                    Files.writeString(root.resolve("a/b/f"), Integer.toString(i));
                    watcher.changesSince(start);
                }
            } catch (Throwable t) {
                ended[0] = t;
            }
        });
        user.start();
        Thread.sleep(200);
        watcher.close();
        user.join(10_000);
        check(failed, "closed from another thread: the user thread ends with ClosedWatchServiceException, not "
                + ended[0], !user.isAlive() && ended[0] instanceof ClosedWatchServiceException);
        check(failed, "closed: every descriptor is closed", openDescriptors() == fds);
        return String.join("\n", failed);
    }

    interface Changes {
        void make() throws Exception;
    }

    /**
     * Makes changes while {@code watcher} watches {@code root}, then checks it against snapshots taken
     * before and after; answers what it reported.
     */
    private static List<TreeChange> compare(String name, Path root, TreeWatcher watcher, Changes changes,
            List<String> failed) throws Exception {
        TreeSnapshot start = TreeSnapshot.take(root);
        TreeWatcher.Clock clock = watcher.clock();
        Set<String> written = Script.written(root);
        written.clear();
        changes.make();
        List<TreeChange> got = watcher.changesSince(clock);
        TreeSnapshot fresh = TreeSnapshot.take(root);
        Set<String> reported = new HashSet<>();
        for (TreeChange c : got) {
            reported.add(new String(c.pathBytes()));
            if (c.oldPathBytes() != null) {
                reported.add(new String(c.oldPathBytes()));
            }
        }
        for (TreeChange c : TreeSnapshot.diff(start, fresh)) {
            String path = new String(c.pathBytes());
            // Uncertain at the start but untouched: only the oracle, which saw no write, needs to say so.
            boolean needed = !c.possiblyModified() || written.contains(path);
            if (needed && !reported.contains(path)) {
                failed.add(name + ": not reported: " + c);
            }
        }
        check(failed, name + ": the watcher's snapshot equals a fresh one", watcher.snapshot().equals(fresh));
        return got;
    }

    /**
     * A watcher of {@code root} whose watches reached the limit after the root's and some more: the
     * limit is set from the watches in use, which other programs change meanwhile, so it is tried again
     * lower when everything was watched and higher when not even the root was.
     */
    private static TreeWatcher openLimited(Path root, Path watches) throws Exception {
        int more = 2;
        for (int attempt = 1;; attempt++) {
            Files.writeString(watches, Long.toString(watchesInUse() + more));
            try {
                TreeWatcher w = TreeWatcher.open(root);
                if (!w.warnings().isEmpty() || attempt == 8) {
                    return w;
                }
                w.close();
                more--;
            } catch (IOException e) {
                if (attempt == 8) {
                    throw e;
                }
                more++;
            }
        }
    }

    /** A sysctl's value, read in one go: a read of its file past the start says nothing. */
    private static String setting(Path file) throws IOException {
        String value = Files.readAllLines(file).get(0).trim();
        if (!value.matches("\\d{2,}")) {
            throw new IOException(file + " reads '" + value + "': not restored after the test, so not changed");
        }
        return value;
    }

    private static void check(List<String> failed, String name, boolean ok) {
        if (!ok) {
            failed.add(name);
        }
    }

    private static long openDescriptors() throws IOException {
        try (Stream<Path> s = Files.list(Path.of("/proc/self/fd"))) {
            return s.count();
        }
    }

    /** Inotify watches of this user now, as the kernel counts them against its limit. */
    private static long watchesInUse() throws IOException {
        long n = 0;
        try (Stream<Path> procs = Files.list(Path.of("/proc"))) {
            for (Path p : (Iterable<Path>) procs.filter(p -> p.getFileName().toString().matches("\\d+"))::iterator) {
                try (Stream<Path> infos = Files.list(p.resolve("fdinfo"))) {
                    if (!Integer.valueOf(0).equals(Files.getAttribute(p, "unix:uid"))) {
                        continue;
                    }
                    for (Path f : (Iterable<Path>) infos::iterator) {
                        n += Files.readAllLines(f).stream().filter(l -> l.startsWith("inotify wd:")).count();
                    }
                } catch (IOException | java.io.UncheckedIOException gone) {
                    // a process that ended meanwhile
                }
            }
        }
        return n;
    }

    /** Random changes of every kind a tree sees, from several threads at once, failures ignored. */
    static final class Script {
        private static final ConcurrentHashMap<Path, Set<String>> WRITTEN = new ConcurrentHashMap<>();

        static Set<String> written(Path root) {
            return WRITTEN.computeIfAbsent(root, r -> ConcurrentHashMap.newKeySet());
        }

        static void run(Path root, long seed, int writers, int steps) throws InterruptedException {
            Thread[] threads = new Thread[writers];
            for (int t = 0; t < writers; t++) {
                Random r = new Random(seed * 31 + t);
                threads[t] = new Thread(() -> {
                    for (int i = 0; i < steps; i++) {
                        step(root, r);
                    }
                });
                threads[t].start();
            }
            for (Thread t : threads) {
                t.join();
            }
        }

        private static void step(Path root, Random r) {
            Path dir = pick(root, r, true);
            Path any = pick(root, r, false);
            try {
                Path outside = root.resolveSibling(root.getFileName() + "-outside");
                switch (r.nextInt(12)) {
                    case 10 -> Files.move(any, Files.createDirectories(outside).resolve("o" + r.nextInt(6)));
                    case 11 -> {  // back in: a subtree new to the watcher
                        try (Stream<Path> s = Files.list(outside)) {
                            for (Path p : s.toList()) {
                                Files.move(p, dir.resolve("i" + r.nextInt(6)));
                            }
                        }
                    }
                    case 0, 1 -> write(root, dir.resolve("f" + r.nextInt(20)), 1 + r.nextInt(3));
                    case 2 -> Files.createDirectory(dir.resolve("d" + r.nextInt(8)));
                    case 3 -> {  // same size twice, within one timestamp tick
                        long size = Files.size(any);
                        write(root, any, (int) size);
                        write(root, any, (int) size);
                    }
                    case 4 -> {  // a file's, or as root a directory's (its owner could lock itself out); never a link's
                        if (Files.isRegularFile(any, LinkOption.NOFOLLOW_LINKS)
                                || ROOT && Files.isDirectory(any, LinkOption.NOFOLLOW_LINKS)) {
                            Files.setPosixFilePermissions(any, PosixFilePermissions.fromString(r.nextBoolean() ? "rwx------" : "rw-r--r--"));
                        }
                        if (ROOT) {
                            Files.setAttribute(any, "unix:uid", r.nextInt(3), LinkOption.NOFOLLOW_LINKS);
                        }
                    }
                    case 5 -> Files.move(any, dir.resolve("m" + r.nextInt(12)), StandardCopyOption.REPLACE_EXISTING);
                    case 6 -> {  // a file replaced by a directory
                        if (Files.isRegularFile(any, LinkOption.NOFOLLOW_LINKS)) {
                            Files.delete(any);
                            Files.createDirectory(any);
                        }
                    }
                    case 7 -> delete(any);
                    case 8 -> {  // a directory swapped for a link
                        if (Files.isDirectory(any, LinkOption.NOFOLLOW_LINKS) && !any.equals(root)) {
                            delete(any);
                            Files.createSymbolicLink(any, root);
                        }
                    }
                    default -> {
                        if (!dir.equals(root)) {
                            Files.move(dir, pick(root, r, true).resolve("r" + r.nextInt(6)));
                        }
                    }
                }
            } catch (IOException | RuntimeException e) {
                // another writer changed the tree first, or the move is into itself: part of the churn
            }
        }

        private static void write(Path root, Path file, int size) throws IOException {
            byte[] b = new byte[size];
            java.util.Arrays.fill(b, (byte) ('a' + (int) (System.nanoTime() % 26)));
            Files.write(file, b);
            written(root).add(root.relativize(file).toString());
        }

        /** A random entry below root (a directory with {@code dir}; the root itself now and then). */
        private static Path pick(Path root, Random r, boolean dir) {
            Path at = root;
            for (int depth = 0; depth < 4 && r.nextInt(3) > 0; depth++) {
                try (Stream<Path> s = Files.list(at)) {
                    List<Path> children = s.filter(p -> !dir || Files.isDirectory(p, LinkOption.NOFOLLOW_LINKS)).toList();
                    if (children.isEmpty()) {
                        break;
                    }
                    at = children.get(r.nextInt(children.size()));
                    if (!Files.isDirectory(at, LinkOption.NOFOLLOW_LINKS)) {
                        break;
                    }
                } catch (IOException | RuntimeException e) {
                    break;
                }
            }
            return dir || !at.equals(root) ? at : root.resolve("f0");
        }

        private static void delete(Path p) throws IOException {
            if (Files.isDirectory(p, LinkOption.NOFOLLOW_LINKS)) {
                try (Stream<Path> s = Files.list(p)) {
                    for (Path c : s.toList()) {
                        delete(c);
                    }
                }
            }
            Files.deleteIfExists(p);
        }
    }
}
