package com.durvo.ufe.fsutil;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ThreadLocalRandom;
import java.util.concurrent.atomic.AtomicReference;

/** FsFiles and FileNames.toPath as a user calls them; the native tests hold the answers against what they wrote. */
public final class FileChecks {
    private FileChecks() {
    }

    /**
     * Per entry of dir: its name's bytes; its content by dir + "/" + name (readAllBytes; the exception if that
     * fails), by the entry (transferTo) and by the path's bytes (a byte at a time); lstat by the string (null if
     * that failed) and stat by the bytes; of a link, its target's bytes and toBytes(dir + "/" + its string).
     */
    public static Object[] readEach(String dir) throws IOException {
        List<Object> rows = new ArrayList<>();
        try (FolderListing listing = FolderListing.open(dir)) {
            for (ChildFile f : listing) {
                String path = dir + "/" + f.name();
                Object[] row = new Object[8];
                row[0] = f.nameBytes();
                try (InputStream in = FsFiles.newInputStream(path)) {
                    row[1] = in.readAllBytes();
                    row[4] = values(FsFiles.lstat(path));
                } catch (IOException e) {
                    row[1] = e.toString().getBytes(StandardCharsets.UTF_8);
                }
                ByteArrayOutputStream transferred = new ByteArrayOutputStream();
                ByteArrayOutputStream oneByOne = new ByteArrayOutputStream();
                try (InputStream b = FsFiles.newInputStream(f); InputStream c = FsFiles.newInputStream(f.pathBytes())) {
                    b.transferTo(transferred);
                    for (int x; (x = c.read()) >= 0;) {
                        oneByOne.write(x);
                    }
                }
                row[2] = transferred.toByteArray();
                row[3] = oneByOne.toByteArray();
                row[5] = values(FsFiles.stat(f.pathBytes()));
                if (f.type() == ChildFile.Type.SYMLINK) {
                    row[6] = FsFiles.readLinkBytes(f.pathBytes());
                    row[7] = FileNames.toBytes(dir + "/" + FsFiles.readLink(path));
                }
                rows.add(row);
            }
        }
        return rows.toArray();
    }

    private static long[] values(ChildFile f) {
        return new long[] {f.device(), f.inode(), f.mode(), f.links(), f.uid(), f.gid(), f.rdev(), f.size(),
            f.blockSize(), f.blocks(), f.accessTime().getEpochSecond(), f.modifiedTime().getEpochSecond(),
            f.changeTime().getEpochSecond(), f.accessTime().getNano(), f.modifiedTime().getNano(),
            f.changeTime().getNano()};
    }

    /** What op (open, stat, lstat, readLink) on path (String, byte[] or null) throws: "Class: message", or "". */
    public static String error(String op, Object path) {
        byte[] b = path instanceof byte[] ? (byte[]) path : null;
        String s = b == null ? (String) path : null;
        try {
            Object unused = switch (op) {
                case "open" -> {
                    (b != null ? FsFiles.newInputStream(b) : FsFiles.newInputStream(s)).close();
                    yield null;
                }
                case "stat" -> b != null ? FsFiles.stat(b) : FsFiles.stat(s);
                case "lstat" -> b != null ? FsFiles.lstat(b) : FsFiles.lstat(s);
                default -> b != null ? FsFiles.readLinkBytes(b) : FsFiles.readLink(s);
            };
            return "";
        } catch (IOException | RuntimeException e) {
            return e.getClass().getName() + ": " + e.getMessage();
        }
    }

    /** What NIO reads through toPath(bytes), or toPath of the library's string for them; "refused: why". */
    public static String throughPath(byte[] bytes, boolean asName) throws IOException {
        try {
            return new String(Files.readAllBytes(asName ? FileNames.toPath(FileNames.fromBytes(bytes))
                    : FileNames.toPath(bytes)), StandardCharsets.ISO_8859_1);
        } catch (InvalidPathException e) {
            return "refused: " + e.getMessage();
        }
    }

    /** What read, skip(9), read, available, a skip past the end, read, skip(5), and a read after close answer. */
    public static String streamSteps(String file) throws IOException {
        InputStream in = FsFiles.newInputStream(file);
        String steps = in.read() + " " + in.skip(9) + " " + in.read() + " " + in.available() + " " + in.skip(1L << 40)
                + " " + in.read() + " " + in.skip(5);
        in.close();
        try {
            in.read();
        } catch (IOException e) {
            steps += " " + e.getMessage();
        }
        in.close();
        return steps;
    }

    /**
     * Rounds of a thread reading a (all 'a') while this one closes the stream at a random moment and opens b,
     * which may get the same descriptor number: anything but 'a' read through the stream is a reused descriptor.
     */
    public static String raceClose(String a, String b, int rounds) throws Exception {
        for (int r = 0; r < rounds; r++) {
            InputStream in = FsFiles.newInputStream(a);
            AtomicReference<String> problem = new AtomicReference<>("");
            Thread reader = new Thread(() -> {
                byte[] buf = new byte[512];
                try {
                    for (int n; (n = in.read(buf)) >= 0;) {
                        if (!new String(buf, 0, n, StandardCharsets.ISO_8859_1).matches("a*")) {
                            problem.compareAndSet("", "read another file through a closed stream");
                        }
                    }
                } catch (IOException e) {
                    if (!e.getMessage().equals("Stream closed")) {
                        problem.compareAndSet("", e.toString());
                    }
                }
            });
            reader.start();
            long until = System.nanoTime() + ThreadLocalRandom.current().nextInt(500_000);
            while (System.nanoTime() < until) {
                Thread.onSpinWait();
            }
            in.close();
            try (InputStream other = FsFiles.newInputStream(b)) {
                reader.join();
            }
            if (!problem.get().isEmpty()) {
                return "round " + r + ": " + problem.get();
            }
        }
        return "";
    }

    /** Opens count streams of file, reads a byte of each and drops them unclosed. */
    public static void dropUnclosed(String file, int count) throws IOException {
        for (int i = 0; i < count; i++) {
            FsFiles.newInputStream(file).read();
        }
    }
}
