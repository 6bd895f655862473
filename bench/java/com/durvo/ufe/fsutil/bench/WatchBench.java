package com.durvo.ufe.fsutil.bench;

import com.durvo.ufe.fsutil.change.TreeChange;
import com.durvo.ufe.fsutil.change.TreeWatcher;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Locale;
import java.util.Set;
import java.util.concurrent.TimeUnit;

/**
 * After a burst of changes, what it costs to ask what changed: {@link TreeWatcher#changesSince} against
 * watchman's {@code since} query, both watching the same tree through the burst, in rounds whose order
 * alternates; inotifywait {@code -r -m} watches it too, and each is counted for what it saw.
 *
 * <p>Arguments: {@code TREE WATCHMAN SOCKNAME ROUNDS BURST [INOTIFYWAIT]}. A first round more warms both
 * up (the JIT, watchman's caches) and is not counted. TREE is a directory of 100
 * subdirectories that watchman already watches through the server at SOCKNAME. A burst creates BURST
 * new files spread over the subdirectories, a quarter of them written, renamed and removed again
 * (BURST changes in all that remain: the files left and those written); the next round's clocks are
 * taken after the previous burst's files are gone.
 */
public final class WatchBench {
    private WatchBench() {
    }

    public static void main(String[] args) throws Exception {
        Path tree = Path.of(args[0]);
        String watchman = args[1];
        String sock = args[2];
        int rounds = Integer.parseInt(args[3]);
        int burst = Integer.parseInt(args[4]);
        String inotifywait = args.length > 5 ? args[5] : null;
        List<Long> ours = new ArrayList<>();
        List<Long> theirs = new ArrayList<>();
        List<String> seen = new ArrayList<>();
        try (TreeWatcher w = TreeWatcher.open(tree)) {
            for (int round = -1; round < rounds; round++) {
                Notify notify = inotifywait == null ? null : startInotifywait(inotifywait, tree);
                TreeWatcher.Clock since = w.clock();
                String clock = json(watchman, sock, "[\"clock\", \"" + tree + "\", {\"sync_timeout\": 60000}]")
                        .replaceAll("(?s).*\"clock\"\\s*:\\s*\"([^\"]+)\".*", "$1");
                Set<String> expected = burst(tree, round, burst);
                long[] times = new long[2];
                int[] counts = new int[2];
                long[] rescanned = new long[1];
                for (int k = 0; k < 2; k++) {
                    boolean oursFirst = (round & 1) == 0;
                    if ((k == 0) == oursFirst) {
                        long t = System.nanoTime();
                        List<TreeChange> changes = w.changesSince(since);
                        times[0] = System.nanoTime() - t;
                        counts[0] = (int) changes.stream().filter(c -> expected.contains(new String(c.pathBytes(),
                                StandardCharsets.ISO_8859_1))).count();
                        rescanned[0] = changes.stream().filter(TreeChange::foundByRescan).count();
                    } else {
                        long t = System.nanoTime();
                        String out = json(watchman, sock, "[\"query\", \"" + tree + "\", {\"since\": \"" + clock
                                + "\", \"fields\": [\"name\"], \"sync_timeout\": 60000}]");
                        times[1] = System.nanoTime() - t;
                        counts[1] = countNames(out, expected);
                    }
                }
                int notified = notify == null ? -1 : notify.stop(tree, expected);
                String line = String.format(Locale.ROOT, "round %s: changesSince %.1f ms (%d of %d, %d by a rescan),"
                        + " watchman since %.1f ms (%d), inotifywait -r %s", round < 0 ? "warm-up" : round + 1 + "",
                        times[0] / 1e6, counts[0], expected.size(), rescanned[0], times[1] / 1e6, counts[1],
                        notified < 0 ? "not run" : notified + "");
                System.err.println(line);
                if (round >= 0) {
                    ours.add(times[0]);
                    theirs.add(times[1]);
                    seen.add(line);
                }
                clean(tree, round);
            }
        }
        System.out.printf(Locale.ROOT, "%d rounds of a %d-change burst: median changesSince %.1f ms, median watchman"
                + " since %.1f ms (watchman's CLI included)%n", rounds, burst, median(ours) / 1e6, median(theirs) / 1e6);
        seen.forEach(System.out::println);
    }

    /** The burst; the paths below the tree that it leaves changed. */
    private static Set<String> burst(Path tree, int round, int n) throws IOException {
        Set<String> changed = new HashSet<>();
        byte[] data = new byte[16];
        for (int i = 0; i < n; i++) {
            String rel = "d" + (i % 100) + "/r" + round + "-" + i;
            Path f = tree.resolve(rel);
            switch (i % 4) {
                case 0, 1 -> Files.createFile(f);
                case 2 -> Files.write(f, data);
                default -> {
                    Path g = tree.resolve(rel + "-renamed");
                    Files.createFile(f);
                    Files.move(f, g);
                    rel += "-renamed";
                }
            }
            changed.add(rel);
        }
        return changed;
    }

    private static void clean(Path tree, int round) throws IOException {
        for (int d = 0; d < 100; d++) {
            try (var s = Files.newDirectoryStream(tree.resolve("d" + d), "r" + round + "-*")) {
                for (Path p : s) {
                    Files.delete(p);
                }
            }
        }
    }

    private static String json(String watchman, String sock, String command) throws IOException, InterruptedException {
        Process p = new ProcessBuilder(watchman, "--sockname=" + sock, "--no-pretty", "-j")
                .redirectError(ProcessBuilder.Redirect.INHERIT).start();
        p.getOutputStream().write(command.getBytes(StandardCharsets.UTF_8));
        p.getOutputStream().close();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        if (p.waitFor() != 0) {
            throw new IOException("watchman failed on " + command + ": " + out);
        }
        return out;
    }

    private static int countNames(String out, Set<String> expected) {
        int n = 0;
        for (String name : expected) {
            if (out.contains("\"" + name + "\"")) {
                n++;
            }
        }
        return n;
    }

    private static Notify startInotifywait(String inotifywait, Path tree) throws IOException, InterruptedException {
        Path log = Files.createTempFile("watchbench", ".log");
        Process p = new ProcessBuilder(inotifywait, "-r", "-m", "-q", "-e", "create,modify,moved_to,close_write",
                "--format", "%w%f", "-o", log.toString(), tree.toString())
                .redirectError(ProcessBuilder.Redirect.DISCARD).start();
        Thread.sleep(1000);  // with -q it says nothing once its watches are set: a second is plenty for 100 directories
        return new Notify(p, log);
    }

    /** A running {@code inotifywait -r -m} and the file it writes each event's path to. */
    private record Notify(Process process, Path log) {
        /** Stops it once it is quiet; how many of the expected paths it named. */
        int stop(Path tree, Set<String> expected) throws IOException, InterruptedException {
            for (long size = -1; size != Files.size(log);) {
                size = Files.size(log);
                Thread.sleep(500);
            }
            process.destroy();
            process.waitFor(5, TimeUnit.SECONDS);
            Set<String> named = new HashSet<>();
            String prefix = tree + "/";
            for (String line : Files.readAllLines(log, StandardCharsets.ISO_8859_1)) {
                if (line.startsWith(prefix)) {
                    named.add(line.substring(prefix.length()));
                }
            }
            Files.delete(log);
            named.retainAll(expected);
            return named.size();
        }
    }

    private static double median(List<Long> values) {
        List<Long> sorted = new ArrayList<>(values);
        sorted.sort(null);
        int n = sorted.size();
        return n % 2 == 1 ? sorted.get(n / 2) : (sorted.get(n / 2 - 1) + sorted.get(n / 2)) / 2.0;
    }
}
