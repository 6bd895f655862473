package com.durvo.ufe.fsutil.bench;

import static com.durvo.ufe.fsutil.bench.Bench.ENTRIES_PER_ROUND;
import static com.durvo.ufe.fsutil.bench.Bench.MIB;
import static com.durvo.ufe.fsutil.bench.Bench.contender;
import static com.durvo.ufe.fsutil.bench.Bench.library;
import static com.durvo.ufe.fsutil.bench.Bench.nio;
import static com.durvo.ufe.fsutil.bench.Bench.progress;

import com.durvo.ufe.fsutil.bench.Bench.Contender;
import com.durvo.ufe.fsutil.bench.Bench.Row;
import com.durvo.ufe.fsutil.bench.Bench.Target;

import java.io.IOException;
import java.net.URI;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.FileSystem;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.Set;

/**
 * The fsstat: file system against the default one on the same files: channels
 * over a 1 GiB file and over 10,000 small files, and directory streams with
 * each entry's attributes, FolderListing beside them.
 */
final class ProviderBench {
    private static final long BIG_FILE = 1L << 30;
    private static final int SMALL_FILES = 10_000;
    private static final int SMALL_FILE_SIZE = 4096;
    private static final int PROVIDER_DIR_SIZE = 100_000;

    private final Bench bench;
    private final Floor floor;
    private final int rounds;
    private final int warmup;

    ProviderBench(Bench bench) {
        this.bench = bench;
        this.floor = bench.floor;
        this.rounds = bench.rounds;
        this.warmup = bench.warmup;
    }

    void provider(List<String> bases, List<String> lists) throws IOException {
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
                List<Row> read = bench.addRows("1 GiB read", fs, label, List.of(
                        new Contender("fsstat: FileChannel", () -> timedRead(ours, buffer, calls)),
                        new Contender("default FileChannel", () -> timedRead(file, buffer, calls))),
                        warmup, rounds);
                bench.targets.add(new Target(read.get(0), read.get(1), 1.05, true));
                List<Row> write = bench.addRows("1 GiB write", fs, label, List.of(
                        new Contender("fsstat: FileChannel", () -> timedWrite(ours, buffer, calls)),
                        new Contender("default FileChannel", () -> timedWrite(file, buffer, calls))),
                        warmup, rounds);
                bench.targets.add(new Target(write.get(0), write.get(1), 1.05, true));
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
            List<Row> read = bench.addRows("4 KiB read", fs, size, List.of(
                    new Contender("fsstat: newByteChannel", () -> readSmall(ours, buffer)),
                    new Contender("default newByteChannel", () -> readSmall(plain, buffer))),
                    warmup + 2, rounds);
            bench.targets.add(new Target(read.get(0), read.get(1), 1.05, true));
            Path out = base.resolve("written");
            Path[] plainOut = new Path[SMALL_FILES];
            Path[] oursOut = new Path[SMALL_FILES];
            for (int i = 0; i < SMALL_FILES; i++) {
                plainOut[i] = out.resolve(plain[i].getFileName());
                oursOut[i] = fsstat.getPath(plainOut[i].toString());
            }
            List<Row> write = bench.addRows("4 KiB write", fs, size, List.of(
                    new Contender("fsstat: newByteChannel", () -> writeSmall(out, oursOut, content)),
                    new Contender("default newByteChannel", () -> writeSmall(out, plainOut, content))),
                    warmup + 2, rounds);
            bench.targets.add(new Target(write.get(0), write.get(1), 1.05, true));
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
        List<Row> added = bench.addRows("dir stream", fs, String.format(Locale.ROOT, "%,d", n), List.of(
                contender("fsstat: DirectoryStream + readAttributes", reps, n, () -> nio(ours)),
                contender("NIO DirectoryStream + readAttributes", reps, n, () -> nio(plain)),
                contender("fsstat FolderListing", reps, n, () -> library(dir))),
                n <= 10_000 ? warmup + 2 : warmup, rounds);
        bench.targets.add(new Target(added.get(0), added.get(1), 1.0, true));
    }
}
