package com.durvo.ufe.fsutil;

import com.durvo.ufe.fsutil.nio.FsFileSystem;
import java.io.IOException;
import java.io.InterruptedIOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Instant;
import java.util.ArrayList;
import java.util.Iterator;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;
import java.util.function.Supplier;
import java.util.stream.Stream;

/** Walks with options, as a user makes them; the native tests hold the answers against lstat and statx. */
public final class WalkChecks {
    private WalkChecks() {
    }

    /** Walks root with options as words ("types", "size", "statx": every attribute, "all", "nosync", "depth=N",
     * "follow", "xdev", "threads=N", "skip=NAME"): one sorted line per entry, its relative path, type letter, size,
     * mode (octal), links, uid, gid, inode, blocks, device:rdev:blksize, the four times (s.ns) and mount id or "-"
     * for each it lacks, then its attribute error's class or "-"; and "error CLASS relative-path" per error. */
    public static String walk(String root, String words) throws IOException {
        WalkOptions.Builder b = WalkOptions.builder();
        List<String> errors = new ArrayList<>();
        for (String word : words.split(" ")) {
            String[] kv = word.split("=", 2);
            switch (kv[0]) {
                case "types": b.readNamesAndTypes(); break;
                case "size": b.read(EntryAttribute.SIZE); break;
                case "statx": b.read(EntryAttribute.values()); break;
                case "all": b.readAll(); break;
                case "nosync": b.dontSync(true); break;
                case "depth": b.maxDepth(Integer.parseInt(kv[1])); break;
                case "follow": b.followLinks(true); break;
                case "xdev": b.sameFileSystem(true); break;
                case "threads": b.threads(Integer.parseInt(kv[1])); break;
                case "skip": b.directoryFilter(f -> !f.name().equals(kv[1])); break;
                default: throw new IllegalArgumentException(word);
            }
        }
        b.onError(e -> errors.add("error " + e.getClass().getSimpleName() + " " + relative(root, e.getMessage())));
        Set<String> lines = new TreeSet<>();
        try (Stream<ChildFile> s = FolderListing.walk(root, b.build())) {
            s.forEach(f -> lines.add(line(root, f)));
        }
        lines.addAll(errors);
        return String.join("\n", lines);
    }

    private static String line(String root, ChildFile f) {
        StringBuilder l = new StringBuilder(relative(root, f.path()));
        l.append(' ').append(f.has(EntryAttribute.TYPE) ? f.type().letter() : '-');
        Object[][] values = {
            {EntryAttribute.SIZE, (Supplier<Object>) f::size},
            {EntryAttribute.MODE, (Supplier<Object>) () -> Integer.toOctalString(f.mode())},
            {EntryAttribute.LINKS, (Supplier<Object>) f::links},
            {EntryAttribute.OWNER, (Supplier<Object>) f::uid},
            {EntryAttribute.GROUP, (Supplier<Object>) f::gid},
            {EntryAttribute.INODE, (Supplier<Object>) f::inode},
            {EntryAttribute.BLOCKS, (Supplier<Object>) f::blocks},
            {EntryAttribute.DEVICE, (Supplier<Object>) () -> f.device() + ":" + f.rdev() + ":" + f.blockSize()},
            {EntryAttribute.ACCESS_TIME, (Supplier<Object>) () -> time(f.accessTime())},
            {EntryAttribute.MODIFIED_TIME, (Supplier<Object>) () -> time(f.modifiedTime())},
            {EntryAttribute.CHANGE_TIME, (Supplier<Object>) () -> time(f.changeTime())},
            {EntryAttribute.CREATION_TIME, (Supplier<Object>) () -> time(f.creationTime())},
            {EntryAttribute.MOUNT_ID, (Supplier<Object>) f::mountId},
        };
        for (Object[] v : values) {
            l.append(' ').append(f.has((EntryAttribute) v[0]) ? ((Supplier<?>) v[1]).get() : "-");
        }
        l.append(' ').append(f.attributeError() == null ? "-" : f.attributeError().getClass().getSimpleName());
        return l.append(missing(f)).toString();
    }

    private static String time(Instant t) {
        return t.getEpochSecond() + "." + t.getNano();
    }

    // What an accessor says of an attribute the entry lacks, checked for one of them.
    private static String missing(ChildFile f) {
        if (f.has(EntryAttribute.LINKS)) {
            return "";
        }
        try {
            return " links=" + f.links();
        } catch (IllegalStateException e) {
            boolean named = e.getMessage().contains("LINKS") || e.getMessage().contains("could not be read");
            return named && e.getMessage().contains(FileNames.display(f.pathBytes())) ? "" : " unclear: " + e.getMessage();
        }
    }

    private static String relative(String root, String path) {
        int at = path.indexOf(root);
        return at < 0 ? path : path.substring(at + root.length());
    }

    /** A directory swapped for a link to outside after its listing, before its walk (the filter swaps it): no
     * entry below it and one error naming it, with each thread count. What went wrong, or "". */
    public static String swapForLink(String root, String victim, String outside) throws IOException {
        List<String> problems = new ArrayList<>();
        for (int threads : new int[] {1, 2}) {
            Path dir = Path.of(root, victim);
            Files.createDirectories(dir);
            Files.createFile(dir.resolve("inside"));
            List<IOException> errors = new ArrayList<>();
            WalkOptions o = WalkOptions.builder().threads(threads).onError(errors::add).directoryFilter(f -> {
                if (f.name().equals(victim)) {
                    try {
                        Files.move(dir, Path.of(root, "moved"));
                        Files.createSymbolicLink(dir, Path.of(outside));
                    } catch (IOException e) {
                        throw new UncheckedIOException(e);
                    }
                }
                return true;
            }).build();
            try (Stream<ChildFile> s = FolderListing.walk(root, o)) {
                s.filter(f -> f.path().startsWith(dir + "/")).forEach(f -> problems.add(threads + ": " + f.path()));
            }
            if (errors.size() != 1 || !errors.get(0).getMessage().contains(dir.toString())) {
                problems.add(threads + " threads reported " + errors);
            }
            Files.delete(dir);
            Files.delete(Path.of(root, "moved", "inside"));
            Files.delete(Path.of(root, "moved"));
        }
        return String.join("\n", problems);
    }

    /** With the walk's threads held in the filter, closing the stream from another thread ends the waiting consumer's
     * iteration, and interrupting the consumer makes it throw. What each gave. */
    public static String closeAndInterrupt(String root, int threads) throws Exception {
        StringBuilder out = new StringBuilder();
        for (String how : new String[] {"close", "interrupt"}) {
            CountDownLatch held = new CountDownLatch(1);
            CountDownLatch never = new CountDownLatch(1);
            WalkOptions o = WalkOptions.builder().threads(threads).directoryFilter(f -> {
                held.countDown();
                try {
                    never.await();
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
                return false;
            }).build();
            Stream<ChildFile> s = FolderListing.walk(root, o);
            // Taken here: the walk's threads may reach the filter, and the close come, before the consumer starts.
            Iterator<ChildFile> it = s.iterator();
            AtomicReference<String> result = new AtomicReference<>("still waiting");
            Thread consumer = new Thread(() -> {
                try {
                    while (it.hasNext()) {
                        it.next();
                    }
                    result.set("ended");
                } catch (UncheckedIOException e) {
                    result.set(e.getCause() instanceof InterruptedIOException ? "interrupted" : e.toString());
                }
            });
            consumer.start();
            held.await();
            Thread.sleep(50);  // the consumer is waiting for entries by then, or soon after: either way it must end
            if (how.equals("close")) {
                s.close();
            } else {
                consumer.interrupt();
            }
            consumer.join(TimeUnit.SECONDS.toMillis(10));
            s.close();
            out.append(how).append(": ").append(result.get()).append('\n');
        }
        return out.toString();
    }

    /** The most descriptors on root or below that the walk held at once, seen at each directory filter call. */
    public static int mostOpen(String root, int threads) throws IOException {
        int[] most = {0};
        WalkOptions o = WalkOptions.builder().readNamesAndTypes().threads(threads).directoryFilter(f -> {
            int n = 0;
            try (Stream<Path> fds = Files.list(Path.of("/proc/self/fd"))) {
                for (Path fd : (Iterable<Path>) fds::iterator) {
                    try {
                        n += Files.readSymbolicLink(fd).toString().startsWith(root) ? 1 : 0;
                    } catch (IOException e) {
                        // closed meanwhile
                    }
                }
            } catch (IOException e) {
                throw new UncheckedIOException(e);
            }
            synchronized (most) {
                most[0] = Math.max(most[0], n);
            }
            return true;
        }).build();
        try (Stream<ChildFile> s = FolderListing.walk(root, o)) {
            s.count();
        }
        return most[0];
    }

    /** What each bad input gives: the exception's class and message. */
    public static String badInput(String notADirectory) {
        List<String> got = new ArrayList<>();
        for (Runnable r : List.<Runnable>of(() -> WalkOptions.builder().threads(0),
                () -> WalkOptions.builder().threads(WalkOptions.MAX_THREADS + 1), () -> WalkOptions.builder().maxDepth(-1),
                () -> WalkOptions.builder().read())) {
            try {
                r.run();
                got.add("nothing");
            } catch (RuntimeException e) {
                got.add(e.getClass().getSimpleName() + ": " + e.getMessage());
            }
        }
        try (Stream<ChildFile> s = FolderListing.walk(notADirectory, WalkOptions.defaults())) {
            got.add("walked " + s.count());
        } catch (IOException e) {
            got.add(e.getClass().getSimpleName());
        }
        return String.join("\n", got);
    }
}
