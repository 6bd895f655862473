package com.durvo.ufe.fsutil.bench;

import static com.durvo.ufe.fsutil.bench.Bench.progress;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.EntryAttribute;
import com.durvo.ufe.fsutil.FolderListing;
import com.durvo.ufe.fsutil.WalkOptions;
import com.durvo.ufe.fsutil.bench.Bench.Contender;
import com.durvo.ufe.fsutil.bench.Bench.Row;
import com.durvo.ufe.fsutil.bench.Bench.Target;
import com.durvo.ufe.fsutil.change.TreeChange;
import com.durvo.ufe.fsutil.change.TreeSnapshot;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Locale;
import java.util.stream.Stream;

/**
 * Snapshots: {@code TreeSnapshot.take} against the walk reading the same
 * attributes and against {@code mtree -c}, on a generated tree and on roots as
 * they are; then a snapshot of the generated tree written, read back and
 * compared with a second one.
 */
final class SnapBench {
    /** What a snapshot reads of each entry, for the walk it is compared with. */
    private static final EntryAttribute[] SNAPSHOT_READS = {EntryAttribute.MODE, EntryAttribute.LINKS,
        EntryAttribute.OWNER, EntryAttribute.GROUP, EntryAttribute.MODIFIED_TIME, EntryAttribute.CHANGE_TIME,
        EntryAttribute.INODE, EntryAttribute.SIZE, EntryAttribute.DEVICE, EntryAttribute.CREATION_TIME};
    private static final double HALF_SECOND_PER_MILLION = 500;  // ns per entry
    /** Rounds of the take rows: take and the walk differ by a few percent, and a round moves more than that. */
    private static final int TAKE_ROUNDS = 9;

    private final Bench bench;

    SnapBench(Bench bench) {
        this.bench = bench;
    }

    void snap(Path base, int treeSize, List<String> roots, String mtree) throws IOException {
        String fs = Files.getFileStore(base).type();
        Path tree = base.resolve("snap-tree");
        progress("%s: making a tree of %,d entries in %s", fs, treeSize, tree);
        bench.floor.call("tree " + tree + " " + treeSize);
        try {
            takes(tree.toString(), fs + " tree", mtree);
            files(tree, base.resolve("snapshot"), fs);
        } finally {
            bench.floor.call("rm " + tree);
        }
        for (String root : roots) {
            takes(root, root, mtree);
        }
    }

    private void takes(String root, String where, String mtree) throws IOException {
        long n = walk(root, 1);
        progress("%s: snapshots of %,d entries", where, n);
        // TreeSnapshot.take(root) walks with as many threads as there are cores, up to 4.
        int threads = Math.min(4, Runtime.getRuntime().availableProcessors());
        List<Contender> contenders = List.of(
                Bench.contender("fsstat take, 1 thread", 1, n, () -> take(root, 1)),
                Bench.contender("fsstat walk, the same attributes", 1, n, () -> walk(root, 1)),
                Bench.contender("fsstat TreeSnapshot.take(root), " + threads + " thr.", 1, n, () -> take(root, 0)),
                Bench.contender("fsstat walk, the same, " + threads + " threads", 1, n, () -> walk(root, threads)),
                new Contender("mtree -c -k type,mode,uid,gid,size,time,link", mtree == null ? null : () -> {
                    long t0 = System.nanoTime();
                    Process p = new ProcessBuilder(mtree, "-c", "-k", "type,mode,uid,gid,size,time,link", "-p", root)
                            .redirectOutput(new File("/dev/null")).redirectError(ProcessBuilder.Redirect.INHERIT).start();
                    try {
                        if (p.waitFor() != 0) {
                            throw new IOException("mtree failed on " + root);
                        }
                    } catch (InterruptedException e) {
                        throw new IOException(e);
                    }
                    return new long[] {n, System.nanoTime() - t0};
                }));
        List<Row> rows = bench.addRows("snapshot", where.startsWith("/") ? "-" : where.split(" ")[0],
                String.format(Locale.ROOT, "%,d", n), contenders, 1, TAKE_ROUNDS);
        bench.targets.add(new Target(rows.get(0), rows.get(1), 1.1, true));
        bench.targets.add(new Target(rows.get(2), rows.get(3), 1.1, true));
        bench.targets.add(new Target(rows.get(2), rows.get(4), 0.5));
    }

    /** A snapshot with {@code threads} threads, 0 for as many as {@link TreeSnapshot#take(Path)} takes. */
    private static long take(String root, int threads) throws IOException {
        TreeSnapshot s = threads == 0 ? TreeSnapshot.take(Path.of(root))
                : TreeSnapshot.take(Path.of(root), WalkOptions.builder().threads(threads).build());
        Bench.sink += s.size();
        return s.size();
    }

    private static long walk(String root, int threads) throws IOException {
        long[] count = new long[1];
        // On the root's file system only, as a snapshot walks: both check each directory's device.
        WalkOptions options = WalkOptions.builder().threads(threads).read(SNAPSHOT_READS).sameFileSystem(true).build();
        try (Stream<ChildFile> s = FolderListing.walk(root, options)) {
            s.forEach(f -> {
                Bench.sink += f.size() + f.mode() + f.inode();
                count[0]++;
            });
        }
        return count[0];
    }

    /** writeTo, readFrom and diff of snapshots of the tree, against half a second per million entries. */
    private void files(Path tree, Path file, String fs) throws IOException {
        TreeSnapshot one = TreeSnapshot.take(tree);
        TreeSnapshot two = TreeSnapshot.take(tree);
        int n = one.size();
        one.writeTo(file);  // for the first readFrom, whichever comes first in a round
        List<Contender> contenders = List.of(
                new Contender("fsstat writeTo", () -> timed(n, () -> one.writeTo(file))),
                new Contender("fsstat readFrom", () -> timed(n, () -> Bench.sink += TreeSnapshot.readFrom(file).size())),
                new Contender("fsstat diff of two snapshots", () -> timed(n, () -> {
                    List<TreeChange> changes = TreeSnapshot.diff(one, two);
                    Bench.sink += changes.size();
                })));
        List<Row> rows = bench.addRows("snapshot file", fs, String.format(Locale.ROOT, "%,d", n), contenders, 2,
                Math.max(bench.rounds, 5));
        long bytes = Files.size(file);
        long names = bytes - 64L * n;  // the rest: names, root, header, devices and checksum
        bench.notes.add(String.format(Locale.ROOT, "snapshot of %,d entries: a file of %,d bytes, 64 bytes per entry"
                + " and %,d bytes of names and header (%.1f per entry)", n, bytes, names, names / (double) n));
        for (Row row : rows) {
            bench.notes.add(String.format(Locale.ROOT, "target %s %s: %.0f ms for %,d entries (at most 500 ms per"
                    + " million: %s)", row.contender(), fs, row.median() * n / 1e6, n,
                    row.median() <= HALF_SECOND_PER_MILLION ? "met" : "MISSED"));
        }
        Files.deleteIfExists(file);
    }

    private interface Step {
        void run() throws IOException;
    }

    private static long[] timed(long n, Step step) throws IOException {
        long t0 = System.nanoTime();
        step.run();
        return new long[] {n, System.nanoTime() - t0};
    }
}
