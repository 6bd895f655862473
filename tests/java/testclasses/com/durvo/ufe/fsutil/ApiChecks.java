package com.durvo.ufe.fsutil;

import com.durvo.ufe.fsutil.nio.FsFileSystem;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.UncheckedIOException;
import java.nio.channels.ClosedChannelException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.FileTime;
import java.util.ArrayList;
import java.util.Iterator;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ThreadLocalRandom;
import java.util.concurrent.atomic.AtomicReference;
import java.util.stream.Collectors;
import java.util.stream.Stream;

/** The Java API as a user calls it; the native tests hold its answers against the system's. */
public final class ApiChecks {
    private ApiChecks() {
    }

    /** Per entry of dir: name, bytes, values, path bytes, toBytes(path); of a file or link its content by the entry
     * and by its bytes, and stat by bytes; of a link its target's bytes and string; its path's unix:* values. */
    public static Object[] list(String dir) throws IOException {
        List<Object> rows = new ArrayList<>();
        try (FolderListing listing = FolderListing.open(dir)) {
            for (ChildFile f : listing) {
                Object[] row = {f.name(), f.nameBytes(), values(f), FsFileSystem.get().bytesOf(f.toPath()), FileNames.toBytes(f.path()),
                    null, null, null, null, null, unixValues(f.toPath())};
                if (f.type() == ChildFile.Type.REGULAR || f.type() == ChildFile.Type.SYMLINK) {
                    ByteArrayOutputStream transferred = new ByteArrayOutputStream();
                    try (InputStream in = FsFiles.newInputStream(f); InputStream b = FsFiles.newInputStream(f.pathBytes())) {
                        in.transferTo(transferred);
                        row[6] = b.readAllBytes();
                    }
                    row[5] = transferred.toByteArray();
                    row[7] = values(FsFiles.stat(f.pathBytes()));
                }
                if (f.type() == ChildFile.Type.SYMLINK) {
                    row[8] = FsFiles.readLinkBytes(f.pathBytes());
                    row[9] = FileNames.toBytes(dir + "/" + FsFiles.readLink(dir + "/" + f.name()));
                }
                rows.add(row);
            }
        }
        return rows.toArray();
    }

    /** The 13 values the one-at-a-time route delivers, then the three nanoseconds and the type's ordinal. */
    private static long[] values(ChildFile f) {
        return new long[] {f.device(), f.inode(), f.mode(), f.links(), f.uid(), f.gid(), f.rdev(), f.size(),
            f.blockSize(), f.blocks(), f.accessTime().getEpochSecond(), f.modifiedTime().getEpochSecond(),
            f.changeTime().getEpochSecond(), f.accessTime().getNano(), f.modifiedTime().getNano(),
            f.changeTime().getNano(), f.type().ordinal()};
    }

    /** The values of unix:* in the order of {@link #values}, then the birth time's seconds and nanoseconds (-1 -1
     * if none). */
    private static long[] unixValues(Path p) throws IOException {
        Map<String, Object> a = Files.readAttributes(p, "unix:*", LinkOption.NOFOLLOW_LINKS);
        long[] v = {(Long) a.get("dev"), (Long) a.get("ino"), (Integer) a.get("mode"), (Integer) a.get("nlink"),
            (Integer) a.get("uid"), (Integer) a.get("gid"), (Long) a.get("rdev"), (Long) a.get("size"),
            (Long) a.get("blksize"), (Long) a.get("blocks"), 0, 0, 0, 0, 0, 0, -1, -1};
        String[] times = {"lastAccessTime", "lastModifiedTime", "ctime"};
        for (int i = 0; i < times.length; i++) {
            v[10 + i] = ((FileTime) a.get(times[i])).toInstant().getEpochSecond();
            v[13 + i] = ((FileTime) a.get(times[i])).toInstant().getNano();
        }
        if (a.get("creationTime") != null) {
            v[16] = ((FileTime) a.get("creationTime")).toInstant().getEpochSecond();
            v[17] = ((FileTime) a.get("creationTime")).toInstant().getNano();
        }
        return v;
    }

    /** What op (list, listGone, open, stat, lstat, readLink, statistics) on path (String, byte[] or null) throws, as
     * "Class: message", or ""; statistics that succeed answer "bsize blocks files". */
    public static String error(String op, Object path) {
        byte[] b = path instanceof byte[] ? (byte[]) path : null;
        String s = b == null ? (String) path : null;
        try {
            if (op.equals("statistics")) {
                FileSysStatUnix st = FileSystemStat.forCurrentOs().getFileSysStat(s);
                return st.bsize() + " " + st.blocks() + " " + st.files();
            }
            Object unused = switch (op) {
                case "list" -> {
                    (b != null ? FolderListing.open(b) : FolderListing.open(s)).close();
                    yield null;
                }
                case "listGone" -> {  // the directory of a process that ends before it is read
                    Process p = new ProcessBuilder("sleep", "60").start();
                    try (FolderListing l = FolderListing.open("/proc/" + p.pid() + "/fd")) {
                        p.destroyForcibly().onExit().join();
                        yield l.iterator().hasNext();
                    } finally {
                        p.destroyForcibly();
                    }
                }
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

    /** What read, skip(9), read, available, a skip past the end, read, skip(5), and a read after close answer
     * (what it throws), of file opened by the library's string for it. */
    public static String streamSteps(byte[] file) throws IOException {
        InputStream in = FsFiles.newInputStream(FileNames.fromBytes(file));
        String steps = in.read() + " " + in.skip(9) + " " + in.read() + " " + in.available() + " " + in.skip(1L << 40)
                + " " + in.read() + " " + in.skip(5);
        in.close();
        try {
            in.read();
        } catch (IOException e) {
            steps += " " + e.getClass().getSimpleName();
        }
        in.close();
        return steps;
    }

    /** Rounds of a thread reading a (all 'a') while this one closes the stream and opens b, which may reuse the
     * descriptor: anything but 'a' read is a reused descriptor. */
    public static String closeStreamMidway(String a, String b, int rounds) throws Exception {
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
                    if (!(e instanceof ClosedChannelException)) {
                        problem.compareAndSet("", e.toString());
                    }
                }
            });
            reader.start();
            spinUpTo(500_000);
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

    /** Opens count streams of file, reads a byte of each and drops them unclosed; "". */
    public static String dropUnclosed(String file, int count) throws IOException {
        for (int i = 0; i < count; i++) {
            FsFiles.newInputStream(file).read();
        }
        return "";
    }

    /** Rounds of one thread iterating dir (2,000 entries) while another closes the listing at a random moment. */
    public static String closeListingMidway(String dir) throws Exception {
        int closedEarly = 0;
        int rounds = 300;
        for (int r = 0; r < rounds; r++) {
            FolderListing listing = FolderListing.open(dir);
            Iterator<ChildFile> entries = listing.iterator();  // a closed listing gives none
            Thread closer = new Thread(() -> {
                spinUpTo(2_000_000);
                listing.close();
            });
            closer.start();
            long seen = 0;
            while (entries.hasNext()) {
                ChildFile f = entries.next();
                if (f.name().isEmpty()) {
                    return "an empty name in round " + r;
                }
                seen++;
            }
            closer.join();
            listing.close();
            closedEarly += seen < 2000 ? 1 : 0;
        }
        // The closes must land mid-listing often enough to test anything.
        return closedEarly < rounds / 10 ? "only " + closedEarly + " of " + rounds + " closes came mid-listing" : "";
    }

    private static void spinUpTo(int nanos) {
        long until = System.nanoTime() + ThreadLocalRandom.current().nextInt(nanos);
        while (System.nanoTime() < until) {
            Thread.onSpinWait();
        }
    }

    /** Every file of dir removed after the first entry: entries already buffered are skipped, no error. */
    public static String vanishing(String dir) throws IOException {
        try (FolderListing listing = FolderListing.open(dir)) {
            Iterator<ChildFile> it = listing.iterator();
            it.next();
            try (Stream<Path> files = Files.list(Path.of(dir))) {
                for (Path p : (Iterable<Path>) files::iterator) {
                    Files.delete(p);
                }
            }
            int more = 0;
            while (it.hasNext()) {
                it.next();
                more++;
            }
            return more < 200 ? "" : more + " removed entries delivered";
        } catch (UncheckedIOException e) {
            return e.getCause().toString();
        }
    }

    /** walk(root) in the order of Files.walk (the same readdir order); a walk stopped early and closed. */
    public static String walk(String root) throws IOException {
        List<String> expected;
        try (Stream<Path> s = Files.walk(Path.of(root))) {
            expected = s.skip(1).map(Path::toString).collect(Collectors.toList());
        }
        List<String> problems = new ArrayList<>();
        List<String> got;
        try (Stream<ChildFile> s = FolderListing.walk(root)) {
            got = s.map(f -> {
                String p = f.path();
                int depth = (int) p.substring(root.length()).chars().filter(c -> c == '/').count();
                return depth == f.depth() ? p : p + " at depth " + f.depth();
            }).collect(Collectors.toList());
        }
        if (!got.equals(expected)) {
            problems.add("walk gave " + got + "\nFiles.walk " + expected);
        }
        try (Stream<ChildFile> s = FolderListing.walk(root)) {
            s.limit(3).count();
        }
        return String.join("\n", problems);
    }

    /** With dir as the working directory: open and walk by Path and by "" list what they list by bytes (a walk of
     * "" with relative paths, as Files.walk), and a closed listing refuses iteration as a DirectoryStream does.
     * What differs, one a line. */
    public static String pathForms(String dir) throws IOException {
        byte[] bytes = FileNames.toBytes(dir);
        List<String> bad = new ArrayList<>();
        List<String> want = listed(FolderListing.open(bytes).stream(), dir);
        List<String> walked = listed(FolderListing.walk(bytes), dir);
        Object[][] routes = {  // route, its entries, the directory their paths start with, what they must be
            {"open(Path)", FolderListing.open(Path.of(dir)).stream(), dir, want},
            {"open(\"\")", FolderListing.open("").stream(), "", want},
            {"walk(Path)", FolderListing.walk(Path.of(dir)), dir, walked},
            {"walk(\"\")", FolderListing.walk(""), "", walked},
        };
        for (Object[] r : routes) {
            @SuppressWarnings("unchecked")
            List<String> got = listed((Stream<ChildFile>) r[1], (String) r[2]);
            if (!got.equals(r[3])) {
                bad.add(r[0] + " gave " + got + ", not " + r[3]);
            }
        }
        // A default Path whose string cannot carry its bytes (d\xE9 under UTF-8) still reaches its directory.
        try (Stream<Path> entries = Files.list(Path.of(dir))) {
            for (Path p : (Iterable<Path>) entries::iterator) {
                byte[] exact = FsFileSystem.get().bytesOf(FsFileSystem.toFsPath(p));
                if (Files.isDirectory(p) && !listed(FolderListing.walk(p), dir).equals(listed(FolderListing.walk(exact), dir))) {
                    bad.add("walk(Path) of " + FileNames.display(exact) + " is not the walk of its bytes");
                }
            }
        }
        if (FsFiles.stat("").inode() != FsFiles.stat(bytes).inode()) {
            bad.add("stat(\"\") is not the working directory");
        }
        FolderListing closed = FolderListing.open(bytes);
        closed.close();
        try {
            closed.iterator();
            bad.add("iterator() of a closed listing");
        } catch (IllegalStateException e) {
            // as DirectoryStream
        }
        return String.join("\n", bad);
    }

    /** Each entry's path relative to {@code under} (which "" entries have none of) and its inode, in order. */
    private static List<String> listed(Stream<ChildFile> entries, String under) {
        try (entries) {
            return entries.map(f -> {
                String p = f.path();
                return (under.isEmpty() ? p : p.substring(under.length() + 1)) + " " + f.inode();
            }).collect(Collectors.toList());
        }
    }

    /** A subdirectory removed after its delivery, before the walk enters it: the count delivered when the error
     * naming it comes at the end, or what went wrong. */
    public static String walkPastVanishedDirectory(String root, String victim) throws IOException {
        long[] seen = {0};
        try (Stream<ChildFile> s = FolderListing.walk(root)) {
            s.forEach(f -> {
                seen[0]++;
                if (f.path().equals(root + "/" + victim)) {
                    try {
                        Files.delete(Path.of(f.path()));
                    } catch (IOException e) {
                        throw new UncheckedIOException(e);
                    }
                }
            });
            return "no error at the end";
        } catch (UncheckedIOException e) {
            boolean named = e.getCause() instanceof java.nio.file.NoSuchFileException
                    && e.getMessage().contains(root + "/" + victim);
            return named ? Long.toString(seen[0]) : e.getCause().toString();
        }
    }
}
