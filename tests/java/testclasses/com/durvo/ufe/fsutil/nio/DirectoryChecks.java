package com.durvo.ufe.fsutil.nio;

import static com.durvo.ufe.fsutil.nio.PathChecks.*;
import static java.nio.file.StandardWatchEventKinds.*;

import java.io.*;
import java.nio.*;
import java.nio.channels.*;
import java.nio.charset.*;
import java.nio.file.*;
import java.nio.file.attribute.*;
import java.time.*;
import java.util.*;
import java.util.concurrent.*;
import java.util.function.*;
import java.util.stream.Stream;

/** Directories of the fsstat: file system: secure directory streams and the watch service. */
public final class DirectoryChecks {
    private DirectoryChecks() {
    }

    /** Down depth levels of name below root, a SecureDirectoryStream each: at the bottom a file made, written, read
     * and timed through the stream, then moved up as g\xE9; what each step saw, and what the whole path gives. */
    public static String secureDown(byte[] root, byte[] name, int depth) throws IOException {
        List<SecureDirectoryStream<Path>> open = new ArrayList<>();
        try {
            open.add((SecureDirectoryStream<Path>) Files.newDirectoryStream(FS.getPath(root)));
            for (int i = 0; i < depth; i++) {
                open.add(open.get(i).newDirectoryStream(FS.getPath(name), LinkOption.NOFOLLOW_LINKS));
            }
            SecureDirectoryStream<Path> bottom = open.get(depth);
            SecureDirectoryStream<Path> above = open.get(depth - 1);
            Path f = FS.getPath(hostile("fX"));
            String read;
            try (SeekableByteChannel ch = bottom.newByteChannel(f, Set.of(StandardOpenOption.CREATE_NEW,
                    StandardOpenOption.WRITE, StandardOpenOption.READ))) {
                ch.write(ByteBuffer.wrap("deep".getBytes(StandardCharsets.US_ASCII)));
                ByteBuffer b = ByteBuffer.allocate(8);
                ch.position(0).read(b);
                read = new String(b.array(), 0, b.position(), StandardCharsets.US_ASCII);
            }
            bottom.getFileAttributeView(f, java.nio.file.attribute.BasicFileAttributeView.class, LinkOption.NOFOLLOW_LINKS)
                    .setTimes(FileTime.from(Instant.ofEpochSecond(3, 5)), null, null);
            long size = bottom.getFileAttributeView(f, java.nio.file.attribute.PosixFileAttributeView.class)
                    .readAttributes().size();
            boolean bottomIsDir = bottom.getFileAttributeView(java.nio.file.attribute.BasicFileAttributeView.class)
                    .readAttributes().isDirectory();
            Path whole = open.get(depth - 1).iterator().next();  // the listed entry: the path past 4096 bytes
            String byWholePath = outcome(() -> Files.size(whole.resolve(f)));
            bottom.move(f, above, FS.getPath(hostile("gX")));
            return read + " " + size + " " + bottomIsDir + " " + FS.bytesOf(whole).length + " " + byWholePath;
        } finally {
            for (SecureDirectoryStream<Path> d : open) {
                d.close();
            }
        }
    }

    /** Removes what secureDown made (g\xE9, then the directories from the bottom up) through the streams; then a closed stream. */
    public static String secureRemove(byte[] root, byte[] name, int depth) throws IOException {
        List<SecureDirectoryStream<Path>> open = new ArrayList<>();
        open.add((SecureDirectoryStream<Path>) Files.newDirectoryStream(FS.getPath(root)));
        for (int i = 0; i < depth - 1; i++) {
            open.add(open.get(i).newDirectoryStream(FS.getPath(name)));
        }
        open.get(depth - 1).deleteFile(FS.getPath(hostile("gX")));
        for (int i = depth - 1; i >= 0; i--) {
            open.get(i).deleteDirectory(FS.getPath(name));
            open.get(i).close();
        }
        SecureDirectoryStream<Path> closed = open.get(0);
        return outcome(() -> {
            closed.deleteFile(FS.getPath("x"));
            return null;
        }) + " " + outcome(closed::iterator);
    }

    /**
     * An open directory renamed and replaced by another of its name: a file made through the stream lands in it;
     * then how many descriptors the process holds on it while the stream is open (one for the entries and the calls).
     */
    public static String renamedUnder(byte[] dir) throws IOException {
        Path a = FS.getPath(dir).resolve("a");
        Path b = FS.getPath(dir).resolve("b");
        int held = 0;
        try (SecureDirectoryStream<Path> ds = (SecureDirectoryStream<Path>) Files.newDirectoryStream(a)) {
            Files.move(a, b);
            Files.createDirectory(a);
            ds.newByteChannel(FS.getPath("x"), Set.of(StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE)).close();
            Path onB = Path.of(new String(dir, StandardCharsets.ISO_8859_1), "b");  // the test's directories are ASCII
            try (Stream<Path> fds = Files.list(Path.of("/proc/self/fd"))) {
                for (Path fd : (Iterable<Path>) fds::iterator) {
                    try {
                        held += Files.readSymbolicLink(fd).equals(onB) ? 1 : 0;
                    } catch (IOException e) {
                        // closed meanwhile
                    }
                }
            }
        }
        return Files.exists(b.resolve("x")) + " " + Files.exists(a.resolve("x")) + " " + held;
    }

    /** A watch service's life on both file systems (X and Y on ours): registration and its failures, the events,
     * the key's end with its directory, close waking take(); the differing steps, ours, and any poller left. */
    public static String watchSameAsDefault(String defaultDir, byte[] ourDir) throws Exception {
        List<List<String>> outcomes = new ArrayList<>();
        for (Path root : new Path[] {Path.of(defaultDir), FS.getPath(ourDir)}) {
            boolean ours = root.getFileSystem() == FS;
            Function<String, Path> at = n -> ours ? root.resolve(FS.getPath(hostile(n))) : root.resolve(n);
            Function<Path, String> name = p -> spelled(ours ? FS.bytesOf(p) : hostile(p.toString()));
            Path w = at.apply("wX");
            Files.createDirectory(w);
            Files.createFile(at.apply("fY"));
            List<String> seen = new ArrayList<>();
            try (WatchService ws = root.getFileSystem().newWatchService();
                    WatchService foreign = (ours ? FileSystems.getDefault() : FS).newWatchService()) {
                WatchKey key = w.register(ws, ENTRY_CREATE);
                WatchEvent.Kind<Object> odd = new WatchEvent.Kind<>() {
                    public String name() {
                        return "odd";
                    }

                    public Class<Object> type() {
                        return Object.class;
                    }
                };
                for (Op op : List.<Op>of(() -> w.register(ws, ENTRY_CREATE, ENTRY_DELETE, ENTRY_MODIFY) == key,
                        () -> at.apply("none").register(ws, ENTRY_CREATE), () -> at.apply("fY").register(ws, ENTRY_CREATE),
                        () -> w.register(foreign, ENTRY_CREATE), () -> w.register(ws, OVERFLOW), () -> w.register(ws, odd),
                        () -> w.register(ws, new WatchEvent.Kind<?>[] {ENTRY_CREATE}, () -> "odd"))) {
                    seen.add(outcome(op));
                }
                Files.writeString(at.apply("wX/aX"), "x");
                Files.writeString(at.apply("wX/bY"), "y");
                Files.writeString(at.apply("wX/aX"), "z", StandardOpenOption.APPEND);
                Files.delete(at.apply("wX/bY"));
                Files.move(at.apply("fY"), at.apply("wX/mY"));
                Files.createFile(at.apply("wX/end"));
                seen.add(events(ws, key, name, "end"));
                for (String n : new String[] {"aX", "mY", "end", ""}) {
                    Files.delete(at.apply("wX/" + n));
                }
                seen.add(events(ws, key, name, null));

                WatchKey rootKey = root.register(ws, ENTRY_CREATE);
                String[] took = {"took nothing"};
                Thread taker = new Thread(() -> took[0] = outcome(ws::take));
                taker.start();
                for (int i = 0; i < 10_000 && taker.getState() != Thread.State.WAITING; i++) {
                    Thread.sleep(1);
                }
                ws.close();
                taker.join(10_000);
                seen.add(took[0] + " " + rootKey.isValid() + " " + outcome(ws::poll) + " " + outcome(() -> root.register(ws,
                        ENTRY_CREATE)));
            }
            outcomes.add(seen);
        }
        StringBuilder out = differences(outcomes);
        boolean pollerLeft = Thread.getAllStackTraces().keySet().stream().anyMatch(t -> t.getName().startsWith("fsstat watch"));
        return out.append(String.join(" | ", outcomes.get(1))).append(pollerLeft ? " | poller left running" : "").toString();
    }

    /** The events of key summed by kind and name until one names last or the key ends ("listed" where the
     * directory stream gives the context's path), then isValid and reset. */
    private static String events(WatchService ws, WatchKey key, Function<Path, String> name, String last) throws Exception {
        Map<String, Integer> counts = new LinkedHashMap<>();
        Map<String, Object> contexts = new HashMap<>();
        boolean[] done = {false};
        Consumer<WatchKey> take = k -> {
            for (WatchEvent<?> e : k.pollEvents()) {
                String s = e.kind() + " " + (e.context() == null ? "-" : name.apply((Path) e.context()));
                counts.merge(s, e.count(), Integer::sum);
                contexts.put(s, e.context());
                done[0] |= s.endsWith(" " + last);
            }
        };
        for (WatchKey k; (k = ws.poll(10, TimeUnit.SECONDS)) == key;) {
            take.accept(k);
            if (done[0]) {
                break;
            }
            if (!k.reset()) {
                take.accept(k);  // an ended key may still hold events posted after the first pollEvents()
                break;
            }
        }
        Set<Path> listed = new HashSet<>();
        if (Files.isDirectory((Path) key.watchable())) {
            try (DirectoryStream<Path> ds = Files.newDirectoryStream((Path) key.watchable())) {
                ds.forEach(p -> listed.add(p.getFileName()));
            }
        }
        StringBuilder out = new StringBuilder();
        counts.forEach((s, n) -> out.append(s).append(' ').append(n).append(listed.contains(contexts.get(s)) ? " listed, " : ", "));
        return out.append(key.isValid()).append(' ').append(key.reset()).toString();
    }
}
