package com.durvo.ufe.fsutil;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.ThreadLocalRandom;
import java.util.stream.Collectors;
import java.util.stream.Stream;

/** The listing engine as a user calls it; the native tests compare what it gives with the system's answers. */
public final class EngineChecks {
    private EngineChecks() {
    }

    /** Per entry: the name, its bytes, the sixteen values (13 lstat values, then the three nanoseconds), the path's bytes. */
    public static Object[] list(String dir) throws IOException {
        List<Object> out = new ArrayList<>();
        try (FolderListing listing = FolderListing.open(dir)) {
            for (ChildFile f : listing) {
                long[] v = {f.device(), f.inode(), f.mode(), f.links(), f.uid(), f.gid(), f.rdev(), f.size(),
                    f.blockSize(), f.blocks(), f.accessTime().getEpochSecond(), f.modifiedTime().getEpochSecond(),
                    f.changeTime().getEpochSecond(), f.accessTime().getNano(), f.modifiedTime().getNano(),
                    f.changeTime().getNano(), f.type().ordinal()};
                out.add(new Object[] {f.name(), f.nameBytes(), v, f.pathBytes(), FileNames.toBytes(f.path())});
            }
        }
        return out.toArray();
    }

    /** What opening a listing of path (a String or byte[], or null) throws: "Class: message", or "". */
    public static String openError(Object path) {
        try {
            if (path instanceof byte[]) {
                FolderListing.open((byte[]) path).close();
            } else {
                FolderListing.open((String) path).close();
            }
            return "";
        } catch (IOException | RuntimeException e) {
            return e.getClass().getName() + ": " + e.getMessage();
        }
    }

    /** What statistics of path give: "bsize blocks bfree files", or "Class: message". */
    public static String stat(String path) {
        try {
            FileSysStatUnix st = FileSystemStat.forCurrentOs().getFileSysStat(path);
            return st.bsize() + " " + st.blocks() + " " + st.files();
        } catch (IOException | RuntimeException e) {
            return e.getClass().getName() + ": " + e.getMessage();
        }
    }

    /** Rounds of one thread iterating dir (2,000 entries) while another closes the listing at a random moment. */
    public static String raceClose(String dir) throws Exception {
        int closedEarly = 0;
        int rounds = 300;
        for (int r = 0; r < rounds; r++) {
            FolderListing listing = FolderListing.open(dir);
            Thread closer = new Thread(() -> {
                long until = System.nanoTime() + ThreadLocalRandom.current().nextInt(2_000_000);
                while (System.nanoTime() < until) {
                    Thread.onSpinWait();
                }
                listing.close();
            });
            closer.start();
            long seen = 0;
            for (ChildFile f : listing) {
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

    /**
     * Every file of dir removed after the first entry was read: the entries
     * the directory stream had already buffered are skipped, no error.
     */
    public static String vanishing(String dir) throws IOException {
        try (FolderListing listing = FolderListing.open(dir)) {
            java.util.Iterator<ChildFile> it = listing.iterator();
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

    /**
     * walk(root) against Files.walk, which lists in the same readdir order:
     * the same paths in the same order; walk(root, 2) the same set; closing a
     * walk stopped early leaves nothing open (checked by the caller).
     */
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
        for (int threads : new int[] {2, 3}) {
            Set<String> parallel;
            try (Stream<ChildFile> s = FolderListing.walk(root, threads)) {
                parallel = s.map(ChildFile::path).collect(Collectors.toSet());
            }
            if (!parallel.equals(new HashSet<>(expected)) || parallel.size() != expected.size()) {
                problems.add(threads + " threads gave " + parallel.size() + " entries, " + expected.size() + " expected");
            }
        }
        for (int threads : new int[] {1, 2}) {
            try (Stream<ChildFile> s = FolderListing.walk(root, threads)) {
                s.limit(3).count();
            }
        }
        return String.join("\n", problems);
    }

    /**
     * A subdirectory (victim, relative to root) removed after it was delivered but before the walk goes
     * into it: every entry is still delivered, and the error comes at the end. The count delivered, or what
     * went wrong.
     */
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
