package com.durvo.ufe.fsutil.bench;

import static com.durvo.ufe.fsutil.bench.Bench.BIG_SIZE;
import static com.durvo.ufe.fsutil.bench.Bench.ENTRIES_PER_ROUND;
import static com.durvo.ufe.fsutil.bench.Bench.MIB;
import static com.durvo.ufe.fsutil.bench.Bench.contender;
import static com.durvo.ufe.fsutil.bench.Bench.library;
import static com.durvo.ufe.fsutil.bench.Bench.mib;
import static com.durvo.ufe.fsutil.bench.Bench.nio;
import static com.durvo.ufe.fsutil.bench.Bench.progress;
import static com.durvo.ufe.fsutil.bench.Bench.residentBytes;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FileSysStatUnix;
import com.durvo.ufe.fsutil.FileSystemStat;
import com.durvo.ufe.fsutil.FolderListing;
import com.durvo.ufe.fsutil.bench.Bench.Contender;
import com.durvo.ufe.fsutil.bench.Bench.Row;
import com.durvo.ufe.fsutil.bench.Bench.Target;

import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.lang.management.MemoryMXBean;
import java.nio.file.FileStore;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Locale;

/**
 * One directory listed, with each entry's attributes, by the library, NIO
 * and the floor program; memory over the largest listing; and file-system
 * statistics.
 */
final class ListingBench {
    private static final int STAT_CALLS_PER_ROUND = 20_000;
    private static final int FILESTORE_CALLS_PER_ROUND = 500;

    private final Bench bench;
    private final Floor floor;
    private final int rounds;
    private final int warmup;

    ListingBench(Bench bench) {
        this.bench = bench;
        this.floor = bench.floor;
        this.rounds = bench.rounds;
        this.warmup = bench.warmup;
    }

    void iteration(Path base, String fs, int n, boolean measureMemory) throws IOException {
        Path dir = base.resolve("n" + n);
        String d = dir.toString();
        progress("%s: making %,d entries in %s", fs, n, d);
        floor.call("make " + d + " " + n);
        try {
            int reps = Math.max(1, ENTRIES_PER_ROUND / n);
            List<Contender> contenders = List.of(
                    contender("fsstat FolderListing", reps, n, () -> library(d)),
                    contender("NIO DirectoryStream + readAttributes", reps, n, () -> nio(dir)),
                    bench.floorContender("floor: readdir + fstatat", "fstatat " + d, reps, n));
            // Smaller sizes warm up more rounds, since each of theirs is short
            // anyway; the largest gets fewer rounds, since each takes seconds.
            int warm = n <= 10_000 ? warmup + 2 : n >= BIG_SIZE ? 1 : warmup;
            double[][] perEntry = bench.measure(contenders, warm, n >= BIG_SIZE ? Math.min(rounds, 5) : rounds);
            List<Row> added = bench.addRows("iteration", fs, String.format(Locale.ROOT, "%,d", n), contenders,
                    perEntry);
            // The targets are set at 100,000 entries; other sizes show how the cost follows the floor's.
            if (n == 100_000) {
                bench.targets.add(new Target(added.get(0), added.get(2), 1.15));
                bench.targets.add(new Target(added.get(0), added.get(1), 0.8));
            } else {
                bench.targets.add(new Target(added.get(0), added.get(2), Double.NaN));
            }
            if (measureMemory) {
                memory(d, fs, n);
            }
        } finally {
            floor.call("rm " + d);
        }
    }

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
                Bench.sink += f.name().length() + f.size();
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
        bench.notes.add(String.format(Locale.ROOT,
                "memory, %,d entries on %s: resident %.1f MiB after 1,000, peak %.1f, at the end %.1f (%+.1f); "
                        + "live heap %.1f MiB after 1,000, peak %.1f, at the end %.1f (%+.1f); target within 10 MiB: %s",
                count, fs, mib(rssFirst), mib(rssPeak), mib(rssEnd), mib(rssEnd - rssFirst), mib(heapFirst),
                mib(heapPeak), mib(heapEnd), mib(heapEnd - heapFirst),
                Math.abs(rssEnd - rssFirst) <= 10 * MIB && Math.abs(heapEnd - heapFirst) <= 10 * MIB
                        ? "met" : "MISSED"));
    }

    void statistics(Path base, String fs) throws IOException {
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
        double[][] perCall = bench.measure(contenders, warmup + 2, rounds);
        List<Row> added = bench.addRows("statistics", fs, "-", contenders, perCall);
        bench.targets.add(new Target(added.get(0), added.get(2), 1.4));
    }

    private interface StatCall {
        long call() throws IOException;
    }

    private static Contender javaStat(String name, int calls, StatCall stat) {
        return new Contender(name, () -> {
            long t0 = System.nanoTime();
            for (int i = 0; i < calls; i++) {
                Bench.sink += stat.call();
            }
            return new long[] {calls, System.nanoTime() - t0};
        });
    }
}
