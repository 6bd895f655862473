package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.FileSystemStat;
import static java.nio.file.StandardWatchEventKinds.ENTRY_CREATE;
import static java.nio.file.StandardWatchEventKinds.ENTRY_DELETE;
import static java.nio.file.StandardWatchEventKinds.ENTRY_MODIFY;
import static java.nio.file.StandardWatchEventKinds.OVERFLOW;

import java.io.IOException;
import java.net.URI;
import java.nio.ByteBuffer;
import java.nio.MappedByteBuffer;
import java.nio.channels.AsynchronousFileChannel;
import java.nio.channels.CompletionHandler;
import java.nio.channels.FileChannel;
import java.nio.channels.FileLock;
import java.nio.channels.SeekableByteChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.FileSystem;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.OpenOption;
import java.nio.file.Path;
import java.nio.file.SecureDirectoryStream;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.WatchEvent;
import java.nio.file.WatchKey;
import java.nio.file.WatchService;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserDefinedFileAttributeView;
import java.time.Instant;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.TimeUnit;
import java.util.function.Function;
import java.util.stream.Stream;

/** The fsstat: file system driven from the tests, which check the results against the system's own calls. */
public final class ProviderChecks {
    static final FsFileSystem FS = (FsFileSystem) FileSystems.getFileSystem(URI.create("fsstat:///"));
    static final byte[] X = {(byte) 0xE9};
    static final byte[] Y = {(byte) 0xED, (byte) 0xA0, (byte) 0x80, (byte) 0xC2, (byte) 0xB6, '.', '.'};

    private ProviderChecks() {
    }

    private static byte[] hostile(String ascii) {
        java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
        for (char c : ascii.toCharArray()) {
            out.writeBytes(c == 'X' ? X : c == 'Y' ? Y : new byte[] {(byte) c});
        }
        return out.toByteArray();
    }

    // A path as its bytes displayed, X and Y in a default path standing for ours.
    private static String shown(Object result) {
        if (!(result instanceof Path)) {
            return String.valueOf(result);
        }
        Path p = (Path) result;
        return "path " + FileNames.display(p.getFileSystem() == FS ? FS.bytesOf(p) : hostile(p.toString()));
    }

    /** Each path operation on the default file system's ASCII paths and on ours with X and Y for names that are no
     * text (one holds "..", one an encoded surrogate) must agree: the mismatches, one a line. */
    public static String pathOperations() {
        String[] paths = {"", "/", ".", "..", "a", "/a", "a/b", "/a/b/c", "a/./b/../c", "../a", "/..", "/../X",
            "a//b/", "X", "X/Y", "/X/../Y", "Y/..", "a/..", "/a/b/../../..", "X/a/b", "/X/Y/X", "a/X/../../..", "Y/Y"};
        List<Function<Path, Object>> unary = List.of(Path::getFileName, Path::getParent, Path::getRoot,
                Path::getNameCount, Path::normalize, Path::isAbsolute);
        StringBuilder bad = new StringBuilder();
        for (String s : paths) {
            Path def = Path.of(s);
            Path ours = FS.getPath(hostile(s));
            for (int u = 0; u < unary.size(); u++) {
                Function<Path, Object> f = unary.get(u);
                expectSame(bad, "op" + u + "(" + s + ")", () -> f.apply(def), () -> f.apply(ours));
            }
            for (int i = 0; i <= def.getNameCount(); i++) {
                for (int j = i; j <= def.getNameCount() + 1; j++) {
                    int b = i;
                    int e = j;
                    expectSame(bad, "subpath(" + s + "," + i + "," + j + ")", () -> def.subpath(b, e),
                            () -> ours.subpath(b, e));
                }
            }
            List<String> names = new ArrayList<>();
            ours.iterator().forEachRemaining(n -> names.add(shown(n)));
            List<String> defNames = new ArrayList<>();
            def.iterator().forEachRemaining(n -> defNames.add(shown(n)));
            if (!names.equals(defNames)) {
                bad.append("iterator(").append(s).append("): ").append(names).append(" != ").append(defNames).append('\n');
            }
            for (String t : paths) {
                Path defT = Path.of(t);
                Path oursT = FS.getPath(hostile(t));
                String c = s + " , " + t;
                expectSame(bad, "resolve(" + c + ")", () -> def.resolve(defT), () -> ours.resolve(oursT));
                expectSame(bad, "relativize(" + c + ")", () -> def.relativize(defT), () -> ours.relativize(oursT));
                expectSame(bad, "startsWith(" + c + ")", () -> def.startsWith(defT), () -> ours.startsWith(oursT));
                expectSame(bad, "endsWith(" + c + ")", () -> def.endsWith(defT), () -> ours.endsWith(oursT));
                expectSame(bad, "equals(" + c + ")", () -> def.equals(defT), () -> ours.equals(oursT));
                if (ours.equals(oursT) && ours.hashCode() != oursT.hashCode()) {
                    bad.append("hashCode(").append(c).append(")\n");
                }
            }
            if (ours.isAbsolute()) {
                URI uri = ours.toUri();
                if (!Path.of(uri).equals(ours) || uri.toString().contains("\\")) {
                    bad.append("toUri(").append(s).append(") = ").append(uri).append('\n');
                }
            }
        }
        // The order is the bytes', unsigned, so a name above 7F sorts after ASCII, as ls sorts.
        if (FS.getPath(X).compareTo(FS.getPath("z")) <= 0 || FS.getPath("a").compareTo(FS.getPath("a/b")) >= 0) {
            bad.append("compareTo is not on unsigned bytes\n");
        }
        // A listed entry is its directory resolved against its name, also where the directory ends in '/'.
        for (String s : List.of("/", ".", "..")) {
            Path dir = FS.getPath(s);
            try (DirectoryStream<Path> entries = Files.newDirectoryStream(dir)) {
                for (Path p : entries) {
                    if (!p.equals(dir.resolve(p.getFileName()))) {
                        bad.append("listed in ").append(s).append(": ").append(shown(p)).append('\n');
                    }
                }
            } catch (IOException e) {
                bad.append("list(").append(s).append("): ").append(e).append('\n');
            }
        }
        return bad.toString();
    }

    private interface Op {
        Object run() throws Exception;
    }

    private static String outcome(Op op) {
        try {
            return shown(op.run());
        } catch (Exception e) {
            return e.getClass().getSimpleName();
        }
    }

    private static void expectSame(StringBuilder bad, String what, Op def, Op ours) {
        String d = outcome(def);
        String o = outcome(ours);
        if (!d.equals(o)) {
            bad.append(what).append(": ").append(o).append(" != ").append(d).append('\n');
        }
    }

    /** What getPath makes of a string, or of the library's string for bytes: the bytes it read, or "Class: message". */
    public static Object readBack(Object path) {
        try {
            return FS.bytesOf(FS.getPath(path instanceof byte[] ? FileNames.fromBytes((byte[]) path) : (String) path));
        } catch (RuntimeException e) {
            return e.getClass().getName() + ": " + e.getMessage();
        }
    }

    /** Per entry of dir: its bytes, content (regular files), unix:* as the test's statx row (birth -1 -1 if none),
     * what getPath reads its string as (bytes or "refused"), and whether its URI gives it back. */
    public static Object[] tree(byte[] dir) throws IOException {
        List<Object[]> rows = new ArrayList<>();
        try (Stream<Path> s = Files.list(FS.getPath(dir))) {
            for (Path p : (Iterable<Path>) s::iterator) {
                Map<String, Object> a = Files.readAttributes(p, "unix:*", LinkOption.NOFOLLOW_LINKS);
                FileTime birth = (FileTime) a.get("creationTime");
                long[] v = {(Long) a.get("dev"), (Long) a.get("ino"), (Integer) a.get("mode"), (Integer) a.get("nlink"),
                    (Integer) a.get("uid"), (Integer) a.get("gid"), (Long) a.get("rdev"), (Long) a.get("size"),
                    (Long) a.get("blksize"), (Long) a.get("blocks"), 0, 0, 0, 0, 0, 0, -1, -1};
                FileTime[] times = {(FileTime) a.get("lastAccessTime"), (FileTime) a.get("lastModifiedTime"),
                    (FileTime) a.get("ctime"), birth};
                for (int i = 0; i < times.length; i++) {
                    if (times[i] != null) {
                        v[10 + 2 * i] = times[i].toInstant().getEpochSecond();
                        v[11 + 2 * i] = times[i].toInstant().getNano();
                    }
                }
                Object back;
                try {
                    back = FS.bytesOf(FS.getPath(p.toString()));
                } catch (java.nio.file.InvalidPathException e) {
                    back = "refused";
                }
                rows.add(new Object[] {FS.bytesOf(p), Files.isRegularFile(p) ? Files.readAllBytes(p) : null, v, back,
                    String.valueOf(Path.of(p.toUri()).equals(p))});
            }
        }
        return rows.toArray();
    }

    /**
     * Opens path with options (StandardOpenOption names and NOFOLLOW_LINKS, comma-separated; "perms=rw-------"
     * for an initial mode), writes text if any, then reads what the channel reads from 0 if it can: "at P wrote
     * N read R" (P its position when opened: the end with APPEND), or the exception's "Class: message". With
     * reopen, the channel is reached through /proc/self/fd, as on a JVM whose channels cannot be made over a
     * descriptor.
     */
    public static String open(byte[] path, String options, String text, boolean reopen) {
        Set<OpenOption> opts = new HashSet<>();
        List<java.nio.file.attribute.FileAttribute<?>> attrs = new ArrayList<>();
        for (String o : options.split(",")) {
            if (o.startsWith("perms=")) {
                attrs.add(PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString(o.substring(6))));
            } else if (o.equals("NOFOLLOW_LINKS")) {
                opts.add(LinkOption.NOFOLLOW_LINKS);
            } else if (!o.isEmpty()) {
                opts.add(StandardOpenOption.valueOf(o));
            }
        }
        try (SeekableByteChannel ch = channel(FS.getPath(path), opts, reopen,
                attrs.toArray(new java.nio.file.attribute.FileAttribute<?>[0]))) {
            long at = ch.position();
            int wrote = text.isEmpty() ? 0 : ch.write(ByteBuffer.wrap(text.getBytes(StandardCharsets.ISO_8859_1)));
            String read = "";
            if (opts.contains(StandardOpenOption.READ) || !opts.contains(StandardOpenOption.WRITE)
                    && !opts.contains(StandardOpenOption.APPEND)) {
                ByteBuffer b = ByteBuffer.allocate(100);
                ch.position(0).read(b);
                read = new String(b.array(), 0, b.position(), StandardCharsets.ISO_8859_1);
            }
            return "at " + at + " wrote " + wrote + " read " + read;
        } catch (Exception e) {
            return e.getClass().getName() + ": " + e.getMessage();
        }
    }

    private static FileChannel channel(Path p, Set<OpenOption> options, boolean reopen,
            java.nio.file.attribute.FileAttribute<?>... attrs) throws IOException {
        return reopen ? FsChannels.open(FsPlace.of(FsPath.of(p)), options, false, attrs)
                : FileChannel.open(p, options, attrs);
    }

    /** What op on a and b (paths' bytes; b may be null) does: "" or the result, or "Class: message". */
    public static String op(String op, byte[] a, byte[] b) {
        try {
            Path p = FS.getPath(a);
            Path q = b != null ? FS.getPath(b) : null;
            Object r = switch (op) {
                case "createFile" -> Files.createFile(p);
                case "createDirectory" -> Files.createDirectory(p,
                        PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx--x---")));
                case "createSymbolicLink" -> Files.createSymbolicLink(p, q);
                case "createLink" -> Files.createLink(p, q);
                case "delete" -> {
                    Files.delete(p);
                    yield null;
                }
                case "readSymbolicLink" -> Files.readSymbolicLink(p);
                case "move" -> Files.move(p, q);
                case "moveReplace" -> Files.move(p, q, StandardCopyOption.REPLACE_EXISTING);
                case "moveAtomic" -> Files.move(p, q, StandardCopyOption.ATOMIC_MOVE);
                case "copyAll" -> Files.copy(p, q, StandardCopyOption.COPY_ATTRIBUTES, StandardCopyOption.REPLACE_EXISTING,
                        LinkOption.NOFOLLOW_LINKS);
                case "checkRead" -> Files.isReadable(p);
                case "checkWrite" -> {
                    p.getFileSystem().provider().checkAccess(p, java.nio.file.AccessMode.WRITE);
                    yield null;
                }
                case "absolute" -> {
                    try {
                        yield p.toAbsolutePath();
                    } catch (java.io.IOError e) {
                        yield "IOError: " + e.getCause();
                    }
                }
                case "realPath" -> p.toRealPath();
                case "realPathNoFollow" -> p.toRealPath(LinkOption.NOFOLLOW_LINKS);
                case "list" -> {
                    List<String> names = new ArrayList<>();
                    try (DirectoryStream<Path> ds = Files.newDirectoryStream(p, "*.f")) {
                        ds.forEach(e -> names.add(FileNames.display(FS.bytesOf(e.getFileName()))));
                    }
                    names.sort(null);
                    yield String.join(" ", names);
                }
                case "setTimesNoFollow" -> {
                    // 1.000000007 s and 2.000000009 s after the epoch, on a link itself
                    Files.getFileAttributeView(p, java.nio.file.attribute.BasicFileAttributeView.class,
                            LinkOption.NOFOLLOW_LINKS).setTimes(FileTime.from(Instant.ofEpochSecond(2, 9)),
                            FileTime.from(Instant.ofEpochSecond(1, 7)), null);
                    yield null;
                }
                case "setPermissions" -> Files.setPosixFilePermissions(p, PosixFilePermissions.fromString("r-x-w---x"));
                case "setPermissionsNoFollow" -> Files.setAttribute(p, "posix:permissions",
                        PosixFilePermissions.fromString("rwx------"), LinkOption.NOFOLLOW_LINKS);
                case "setMode" -> Files.setAttribute(p, "unix:mode", 04751);
                case "setOwnerByNumber" -> Files.setOwner(p, p.getFileSystem().getUserPrincipalLookupService()
                        .lookupPrincipalByName(new String(b, StandardCharsets.ISO_8859_1)));
                case "setGroupNoFollow" -> {
                    Files.getFileAttributeView(p, java.nio.file.attribute.PosixFileAttributeView.class,
                            LinkOption.NOFOLLOW_LINKS).setGroup(p.getFileSystem().getUserPrincipalLookupService()
                            .lookupPrincipalByGroupName(new String(b, StandardCharsets.ISO_8859_1)));
                    yield null;
                }
                case "owner" -> Files.getOwner(p).getName() + ":"
                        + Files.readAttributes(p, java.nio.file.attribute.PosixFileAttributes.class).group().getName();
                case "lookupUser" -> p.getFileSystem().getUserPrincipalLookupService()
                        .lookupPrincipalByName(new String(b, StandardCharsets.ISO_8859_1)).getName();
                default -> throw new IllegalArgumentException(op);
            };
            return r == null ? "" : shown(r);
        } catch (Exception e) {
            return e.getClass().getName() + ": " + e.getMessage();
        }
    }

    /**
     * A channel's life as the JDK's channels live it: a read waiting on an empty FIFO (whose writer the test
     * holds open) ends with AsynchronousCloseException when another thread closes the channel, and with
     * ClosedByInterruptException when the reader is interrupted; a regular file maps, locks and transfers.
     * With reopen, through /proc/self/fd (see open).
     */
    public static String channels(byte[] fifo, byte[] file, boolean reopen) throws Exception {
        StringBuilder out = new StringBuilder();
        for (boolean close : new boolean[] {true, false}) {
            SeekableByteChannel ch = channel(FS.getPath(fifo), Set.of(StandardOpenOption.READ), reopen);
            Thread reader = Thread.currentThread();
            Thread other = new Thread(() -> {
                try {
                    Thread.sleep(200);
                    if (close) {
                        ch.close();
                    } else {
                        reader.interrupt();
                    }
                } catch (InterruptedException | IOException e) {
                    // told by the reader's outcome
                }
            });
            other.start();
            out.append(outcome(() -> ch.read(ByteBuffer.allocate(8)))).append(' ').append(ch.isOpen()).append(' ');
            Thread.interrupted();
            other.join();
        }
        Path p = FS.getPath(file);
        try (FileChannel ch = channel(p, Set.of(StandardOpenOption.READ, StandardOpenOption.WRITE), reopen);
                FileLock lock = ch.lock()) {
            MappedByteBuffer m = ch.map(FileChannel.MapMode.READ_WRITE, 0, ch.size());
            m.put(0, (byte) 'M');
            m.force();
            java.io.ByteArrayOutputStream sink = new java.io.ByteArrayOutputStream();
            ch.transferTo(0, ch.size(), java.nio.channels.Channels.newChannel(sink));
            out.append(lock.isValid()).append(' ').append(sink.toString(StandardCharsets.ISO_8859_1));
        }
        return out.toString();
    }

    /** The store of path: name, type, read-only, the three spaces, block size, and every statvfs figure by name, read unsigned. */
    public static String store(byte[] path) throws IOException {
        java.nio.file.FileStore s = Files.getFileStore(FS.getPath(path));
        StringBuilder out = new StringBuilder(s.name() + " " + s.type() + " " + s.isReadOnly() + " " + s.getTotalSpace()
                + " " + s.getUsableSpace() + " " + s.getUnallocatedSpace() + " " + s.getBlockSize());
        for (String f : List.of("bsize", "frsize", "blocks", "bfree", "bavail", "files", "ffree", "favail", "fsid", "flag",
                "namemax")) {
            out.append(' ').append(Long.toUnsignedString((Long) s.getAttribute(f)));
        }
        return out.toString();
    }

    /** The user view of dir/fX (holding user.caf\xE9 = "v1"; l links to it) step by step: each result, or the
     * exception's class and the end of its reason. */
    public static String userAttributes(byte[] dir) throws IOException {
        Path f = FS.getPath(dir).resolve(FS.getPath(hostile("fX")));
        Path link = f.resolveSibling("l");
        UserDefinedFileAttributeView v = Files.getFileAttributeView(f, UserDefinedFileAttributeView.class);
        String listed = v.list().get(0);  // caf\xE9, to be read back by its library string
        List<Op> steps = List.of(() -> v.list().size(), () -> v.size(listed),
                () -> v.write("w\u00e9", ByteBuffer.wrap(new byte[] {'n', 0, 'w'})),
                () -> java.util.Arrays.toString((byte[]) Files.getAttribute(link, "user:w\u00e9")),
                () -> v.read(listed, ByteBuffer.allocate(1)), () -> Files.readAttributes(f, "user:*").size(), () -> {
                    v.delete(listed);
                    return "deleted";
                }, () -> v.read("none", ByteBuffer.allocate(8)), () -> v.write("a\0b", ByteBuffer.allocate(1)),
                () -> Files.getFileAttributeView(link, UserDefinedFileAttributeView.class, LinkOption.NOFOLLOW_LINKS).list(),
                () -> Files.getFileAttributeView(f.resolveSibling("none"), UserDefinedFileAttributeView.class).list(),
                () -> Files.getFileStore(f).supportsFileAttributeView("user"));
        StringBuilder out = new StringBuilder();
        for (Op step : steps) {
            try {
                out.append(step.run());
            } catch (java.nio.file.FileSystemException e) {
                String reason = String.valueOf(e.getReason());  // none in a NoSuchFileException, as the JDK's
                out.append(e.getClass().getSimpleName()).append(": ").append(reason.replaceAll(".*: ", ""));
            } catch (Exception e) {
                out.append(e.getClass().getSimpleName());
            }
            out.append("; ");
        }
        return out.toString();
    }

    /** The dos view of file (an ASCII path): "set" sets hidden, then archive twice, here; "read" gives the flags as
     * dos:* and as DosFileAttributes, and whether the store has the view, here, then " | same" when the JDK's
     * provider says the same of the file, else what it says; a failure as "Class: message". */
    public static String dos(byte[] file, String op) {
        Path ours = FS.getPath(file);
        if (op.equals("set")) {
            return outcome(() -> {
                Files.getFileAttributeView(ours, java.nio.file.attribute.DosFileAttributeView.class).setHidden(true);
                Files.setAttribute(ours, "dos:archive", true);
                return Files.setAttribute(ours, "dos:archive", true) == ours ? "" : "?";
            });
        }
        List<String> seen = new ArrayList<>();
        for (Path p : new Path[] {ours, Path.of(new String(file, StandardCharsets.US_ASCII))}) {
            try {
                java.nio.file.attribute.DosFileAttributes a = Files.readAttributes(p,
                        java.nio.file.attribute.DosFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
                seen.add(new java.util.TreeMap<>(Files.readAttributes(p, "dos:readonly,hidden,system,archive,size"))
                        + " " + (a.isReadOnly() ? "r" : "-") + (a.isHidden() ? "h" : "-") + (a.isSystem() ? "s" : "-")
                        + (a.isArchive() ? "a" : "-") + " " + Files.getFileStore(p).supportsFileAttributeView("dos"));
            } catch (IOException e) {
                seen.add(e.getClass().getSimpleName() + ": " + e.getMessage());
            }
        }
        return seen.get(0) + " | " + (seen.get(0).equals(seen.get(1)) ? "same" : seen.get(1));
    }

    /** Bad input as the default provider meets it: the class of what each of ours and theirs throws, when they differ. */
    public static String badInput() {
        StringBuilder bad = new StringBuilder();
        String[] strings = {"a\0b", "a\uDC00", "\uD800"};
        for (String s : strings) {
            expectSame(bad, "getPath", () -> Path.of(s), () -> FS.getPath(s));
        }
        expectSame(bad, "getPath(null)", () -> Path.of(null, "a"), () -> FS.getPath(null, "a"));
        String[] uris = {"?q", "#f", "//host/x", "", "/x/%00"};
        for (String u : uris) {
            expectSame(bad, "uri " + u, () -> Path.of(URI.create("file:" + u)), () -> Path.of(URI.create("fsstat:" + u)));
            expectSame(bad, "filesystem " + u, () -> FileSystems.getFileSystem(URI.create("file:" + u)),
                    () -> FileSystems.getFileSystem(URI.create("fsstat:" + u)));
        }
        expectSame(bad, "relative uri", () -> Path.of(URI.create("x")).getFileSystem().provider().getPath(URI.create("x")),
                () -> FS.provider().getPath(URI.create("x")));
        // An open directory's move with a null argument, each place of it.
        Path tmp = Path.of(System.getProperty("java.io.tmpdir"));
        for (int nul = 0; nul < 3; nul++) {
            int at = nul;
            Function<Path, Op> move = dir -> () -> {
                try (SecureDirectoryStream<Path> ds = (SecureDirectoryStream<Path>) Files.newDirectoryStream(dir)) {
                    Path x = dir.getFileSystem().getPath("x");
                    ds.move(at == 0 ? null : x, at == 1 ? null : ds, at == 2 ? null : x);
                }
                return null;
            };
            expectSame(bad, "move null " + at, move.apply(tmp), move.apply(FS.getPath(tmp.toString())));
        }
        // Any default path converts to ours on the bytes the JDK gives the system (a URI's escapes are raw
        // bytes, whatever sun.jnu.encoding); one not converted is refused with a message naming the converter.
        Path e9 = Path.of(URI.create("file:///tmp/caf%E9"));
        Map<Path, String> converts = Map.of(e9, "/tmp/caf\u00E9", Path.of("/tmp").relativize(e9), "caf\u00E9",
                Path.of(""), "", FS.getPath(new byte[] {'x', (byte) 0xE9}), "x\u00E9");
        converts.forEach((given, latin1) -> {
            byte[] got = FS.bytesOf(FsFileSystem.toFsPath(given));
            if (!new String(got, StandardCharsets.ISO_8859_1).equals(latin1)) {
                bad.append("toFsPath(").append(given).append(") has ").append(java.util.HexFormat.of().formatHex(got))
                        .append('\n');
            }
        });
        Op[] unconverted = {() -> FS.getPath("/tmp").resolve(e9), () -> FS.getPath("/tmp").relativize(e9),
            () -> FS.provider().getFileStore(e9),
            () -> FileSystemStat.forCurrentOs().getFileSysStat(FileSystems.getFileSystem(URI.create("jrt:/")).getPath("/"))};
        for (Op op : unconverted) {
            try {
                Object taken = op.run();
                bad.append("a foreign path was taken: ").append(taken).append('\n');
            } catch (java.nio.file.ProviderMismatchException e) {
                if (e.getMessage() == null || !e.getMessage().contains("FsFileSystem.toFsPath(Path)")) {
                    bad.append("mismatch without the converter: ").append(e.getMessage()).append('\n');
                }
            } catch (Exception e) {
                bad.append("a foreign path: ").append(e).append('\n');
            }
        }
        return bad.toString();
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

    /** An attribute change that may fail. */
    private interface Attempt {
        void run() throws IOException;
    }

    /**
     * Attribute changes on dir/f raced against a thread that keeps swapping f for a link to victim and back, for
     * rounds rounds or until millis have passed (0: no limit). "view": the mode, owner, times and a user attribute
     * through a view that does not follow links; "secure": the mode, owner and times through a secure directory
     * stream's view of f; "copy": dir/src (mode 0777, owner 70001 where this process may give it, 1970's times)
     * copied onto f with its attributes. A change that meets the link, or loses f meanwhile, fails as it should.
     * "rounds N swaps M done K" (K: the rounds whose mode change or copy succeeded), once the swapper has stopped.
     */
    public static String race(String kind, byte[] dir, byte[] victim, int rounds, long millis) throws Exception {
        Path d = FS.getPath(dir);
        Path f = d.resolve("f");
        Path src = d.resolve("src");
        Files.write(f, new byte[0]);
        Files.write(src, "copied".getBytes(StandardCharsets.US_ASCII));
        Set<java.nio.file.attribute.PosixFilePermission> all = PosixFilePermissions.fromString("rwxrwxrwx");
        Files.setPosixFilePermissions(src, all);
        var lookup = FS.getUserPrincipalLookupService();
        var stranger = lookup.lookupPrincipalByName("70001");
        var strangers = lookup.lookupPrincipalByGroupName("70002");
        FileTime past = FileTime.from(Instant.ofEpochSecond(1, 7));
        attempt(() -> Files.setOwner(src, stranger));
        Files.setLastModifiedTime(src, past);

        java.util.concurrent.atomic.AtomicBoolean stop = new java.util.concurrent.atomic.AtomicBoolean();
        java.util.concurrent.atomic.AtomicLong swaps = new java.util.concurrent.atomic.AtomicLong();
        java.util.concurrent.atomic.AtomicReference<Throwable> broken = new java.util.concurrent.atomic.AtomicReference<>();
        Thread swapper = new Thread(() -> {
            // The JDK's provider swaps, by hard links to a link and to a file kept aside: a rename over f in
            // each step, and no file made or freed, which would take far longer.
            java.nio.file.FileSystem jdk = FsFileSystemProvider.jdkFileSystem();
            Path at = jdk.getPath(new String(dir, StandardCharsets.ISO_8859_1));
            Path jdkF = at.resolve("f");
            Path link = at.resolve("link");
            Path plain = at.resolve("plain");
            Path next = at.resolve("next");
            try {
                Files.createSymbolicLink(link, jdk.getPath(new String(victim, StandardCharsets.ISO_8859_1)));
                Files.createFile(plain);
                while (!stop.get()) {
                    Files.createLink(next, link);
                    Files.move(next, jdkF, StandardCopyOption.ATOMIC_MOVE);
                    Files.createLink(next, plain);
                    Files.move(next, jdkF, StandardCopyOption.ATOMIC_MOVE);
                    swaps.incrementAndGet();
                }
            } catch (IOException | RuntimeException e) {
                broken.set(e);
            }
        });
        swapper.start();
        int n = 0;
        int done = 0;
        try (SecureDirectoryStream<Path> sds = (SecureDirectoryStream<Path>) Files.newDirectoryStream(d)) {
            var view = kind.equals("secure")
                    ? sds.getFileAttributeView(FS.getPath("f"), java.nio.file.attribute.PosixFileAttributeView.class,
                            LinkOption.NOFOLLOW_LINKS)
                    : Files.getFileAttributeView(f, java.nio.file.attribute.PosixFileAttributeView.class,
                            LinkOption.NOFOLLOW_LINKS);
            UserDefinedFileAttributeView user = Files.getFileAttributeView(f, UserDefinedFileAttributeView.class,
                    LinkOption.NOFOLLOW_LINKS);
            while (swaps.get() == 0 && swapper.isAlive()) {
                Thread.onSpinWait();
            }
            long end = System.nanoTime() + millis * 1_000_000;
            for (; n < rounds && (millis == 0 || System.nanoTime() - end < 0); n++) {
                if (kind.equals("copy")) {
                    done += attempt(() -> Files.copy(src, f, StandardCopyOption.COPY_ATTRIBUTES,
                            StandardCopyOption.REPLACE_EXISTING)) ? 1 : 0;
                    continue;
                }
                // The mode's check of the file type is the window to hit; the others every so often.
                done += attempt(() -> view.setPermissions(all)) ? 1 : 0;
                if (n % 8 == 0) {
                    attempt(() -> view.setOwner(stranger));
                    attempt(() -> view.setGroup(strangers));
                    attempt(() -> view.setTimes(past, past, null));
                    if (kind.equals("view")) {
                        attempt(() -> user.write("race", ByteBuffer.wrap(new byte[] {1})));
                    }
                }
            }
        } finally {
            stop.set(true);
            swapper.join();
        }
        if (broken.get() != null) {
            throw new IllegalStateException("the swapper failed", broken.get());
        }
        return "rounds " + n + " swaps " + swaps.get() + " done " + done;
    }

    private static boolean attempt(Attempt a) {
        try {
            a.run();
            return true;
        } catch (IOException e) {
            return false;  // met the link, or f was swapped away meanwhile
        }
    }

    private static boolean subclass(String ours, String theirs) {
        try {
            return Class.forName(theirs).isAssignableFrom(Class.forName(ours));
        } catch (ClassNotFoundException e) {
            return false;
        }
    }

    /** The stream's length; the stream closed, so that its directories are. */
    private static long count(Stream<?> s) {
        try (s) {
            return s.count();
        }
    }

    private static String delete(Path p) throws IOException {
        Files.delete(p);
        return "deleted";
    }

    /** The same Files steps under two fresh directories, ASCII names on the default file system and X and Y on ours:
     * the steps whose outcomes (results relative to the directory, or exception classes) differ, one a line. */
    public static String sameAsDefault(String defaultDir, byte[] ourDir) {
        Path[] roots = {Path.of(defaultDir), FS.getPath(ourDir)};
        List<List<String>> outcomes = new ArrayList<>();
        for (Path root : roots) {
            Function<String, Path> at = n -> root == roots[0] ? root.resolve(n) : root.resolve(FS.getPath(hostile(n)));
            List<Op> steps = List.of(
                () -> Files.createDirectory(at.apply("dX")),
                () -> Files.createDirectory(at.apply("dX")),
                () -> Files.createFile(at.apply("dX/fY")),
                () -> Files.writeString(at.apply("dX/fY"), "text", StandardOpenOption.APPEND),
                () -> Files.writeString(at.apply("dX/fY"), "new", StandardOpenOption.CREATE_NEW),
                () -> Files.readString(at.apply("dX/fY")),
                () -> Files.size(at.apply("dX/fY")),
                () -> Files.createSymbolicLink(at.apply("lX"), FS == root.getFileSystem() ? FS.getPath(hostile("dX/fY"))
                        : Path.of("dX/fY")),
                () -> Files.readSymbolicLink(at.apply("lX")),
                () -> Files.readSymbolicLink(at.apply("dX")),
                () -> Files.isSymbolicLink(at.apply("lX")) + " " + Files.isRegularFile(at.apply("lX"))
                        + " " + Files.isRegularFile(at.apply("lX"), LinkOption.NOFOLLOW_LINKS),
                () -> Files.newByteChannel(at.apply("lX"), StandardOpenOption.READ, LinkOption.NOFOLLOW_LINKS),
                () -> Files.copy(at.apply("lX"), at.apply("cX")),
                () -> Files.copy(at.apply("lX"), at.apply("cX")),
                () -> Files.copy(at.apply("dX"), at.apply("cY")),
                () -> Files.move(at.apply("cY"), at.apply("cX")),
                () -> Files.move(at.apply("cY"), at.apply("cX"), StandardCopyOption.REPLACE_EXISTING),
                () -> Files.move(at.apply("cX"), at.apply("dX"), StandardCopyOption.REPLACE_EXISTING),
                () -> delete(at.apply("dX")),
                () -> Files.deleteIfExists(at.apply("none")),
                () -> delete(at.apply("none")),
                () -> Files.createDirectory(at.apply("none/dX")),
                () -> Files.newDirectoryStream(at.apply("dX/fY")),
                () -> Files.isSameFile(at.apply("lX"), at.apply("dX/fY")),
                () -> Files.isSameFile(at.apply("none"), at.apply("dX/fY")),
                () -> Files.getAttribute(at.apply("dX/fY"), "posix:nonesuch"),
                () -> Files.getAttribute(at.apply("dX/fY"), "nonesuch:size"),
                () -> Files.getAttribute(at.apply("dX/fY"), "size"),
                () -> Files.readAttributes(at.apply("dX/fY"), "posix:*").keySet().containsAll(
                        Set.of("permissions", "owner", "group", "size", "fileKey", "lastModifiedTime")),
                () -> Files.setAttribute(at.apply("dX/fY"), "basic:size", 3L),
                () -> Files.getPosixFilePermissions(at.apply("dX/fY")).size(),
                () -> Files.newBufferedReader(at.apply("dX")).read(),
                () -> Files.newOutputStream(at.apply("dX")),
                () -> Files.newOutputStream(at.apply("dX/fY"), StandardOpenOption.READ),
                () -> Files.newInputStream(at.apply("dX/fY"), StandardOpenOption.APPEND),
                () -> Files.createTempFile(at.apply("dX"), "t", ".tmp").getParent(),
                () -> count(Files.list(at.apply("dX"))),
                () -> count(Files.walk(at.apply(""))),
                () -> Files.mismatch(at.apply("dX/fY"), at.apply("lX")),
                () -> asyncWrite(at.apply("aX")),
                () -> asyncRead(at.apply("aX")),
                () -> AsynchronousFileChannel.open(at.apply("aX"), StandardOpenOption.WRITE, StandardOpenOption.APPEND),
                () -> AsynchronousFileChannel.open(at.apply("none")),
                () -> Files.getLastModifiedTime(at.apply("none")),
                () -> Files.isWritable(at.apply("dX")) + " " + Files.isExecutable(at.apply("dX/fY")),
                () -> at.apply("dX/fY").toRealPath().endsWith(at.apply("dX/fY").getFileName()),
                () -> at.apply("lX").toRealPath(LinkOption.NOFOLLOW_LINKS).getFileName(),
                () -> Files.getFileStore(at.apply("none")),
                () -> Files.getFileStore(at.apply("dX")).supportsFileAttributeView("posix"),
                () -> Files.isHidden(at.apply(".hX")) + " " + Files.isHidden(at.apply("dX")),
                () -> Files.isDirectory(root.getFileSystem().getPath("")) + " " + Files.isHidden(root.getFileSystem().getPath("")),
                () -> Files.createSymbolicLink(at.apply("gX"), FS == root.getFileSystem() ? FS.getPath(hostile("tX"))
                        : Path.of("tX")),
                () -> Files.writeString(at.apply("gX"), "made through the link") != null && Files.exists(at.apply("tX")),
                () -> Files.newByteChannel(at.apply("gX"), StandardOpenOption.READ, StandardOpenOption.DELETE_ON_CLOSE),
                () -> (Files.readAttributes(at.apply("tX"), java.nio.file.attribute.BasicFileAttributes.class)
                        instanceof java.nio.file.attribute.PosixFileAttributes) + " " + (Files.getFileAttributeView(
                        at.apply("tX"), java.nio.file.attribute.BasicFileAttributeView.class)
                        instanceof java.nio.file.attribute.PosixFileAttributeView),
                () -> root.getFileSystem().getUserPrincipalLookupService().lookupPrincipalByName(
                        Files.getOwner(at.apply("tX")).getName()) instanceof java.nio.file.attribute.GroupPrincipal,
                () -> Files.write(at.apply("dX/wY"), List.of("one", "two"), StandardOpenOption.CREATE_NEW),
                () -> count(Files.lines(at.apply("dX/wY"))),
                () -> count(Files.find(at.apply(""), 2, (p, a) -> a.isRegularFile())),
                // The JDK's walker knows a loop by the file keys.
                () -> Files.createSymbolicLink(at.apply("dX/loop"), root),
                () -> count(Files.walk(at.apply(""), java.nio.file.FileVisitOption.FOLLOW_LINKS)));
            List<String> seen = new ArrayList<>();
            for (Op step : steps) {
                String o;
                try {
                    Object r = step.run();
                    if (r instanceof java.io.Closeable) {
                        ((java.io.Closeable) r).close();
                        r = "open";
                    }
                    o = shown(r instanceof Path ? root.relativize((Path) r) : r);
                } catch (java.io.UncheckedIOException e) {
                    o = e.getCause().getClass().getName();
                } catch (Exception e) {
                    o = e.getClass().getName();
                }
                seen.add(o);
            }
            outcomes.add(seen);
        }
        return differences(outcomes).toString();
    }

    /** How a step failed, in every part a program prints, the directory shown as D; "ok" when it did not. */
    private static String failure(Op step, String dir) {
        try {
            Object r = step.run();
            if (r instanceof java.io.Closeable) {
                ((java.io.Closeable) r).close();
            }
            return "ok";
        } catch (Exception e) {
            Throwable t = e instanceof java.io.UncheckedIOException || e instanceof java.nio.file.DirectoryIteratorException
                    ? e.getCause() : e;
            String s = t.getClass().getName() + " | " + t.getMessage();
            if (t instanceof java.nio.file.FileSystemException) {
                java.nio.file.FileSystemException f = (java.nio.file.FileSystemException) t;
                s += " | " + f.getReason() + " | " + f.getFile() + " | " + f.getOtherFile();
            }
            return s.replace(dir, "D");
        }
    }

    /** Failing steps on the same bytes, one errno or more each, through the default provider under defaultDir and
     * through ours under ourDir (both set up alike by the caller: f, d holding e, loop to itself, l to f): the steps
     * whose exceptions differ in class, message, reason or files, one a line. */
    public static String failuresAsDefault(String defaultDir, String ourDir) {
        StringBuilder bad = new StringBuilder();
        List<List<String>> seen = new ArrayList<>();
        for (Path root : new Path[] {Path.of(defaultDir), FS.getPath(ourDir)}) {
            Function<String, Path> at = root::resolve;
            Path proc = root.getFileSystem().getPath("/proc/version");
            String tooLong = "n".repeat(300);
            List<Op> steps = List.of(
                // ENOENT
                () -> Files.readAttributes(at.apply("none"), "*"),
                () -> Files.newByteChannel(at.apply("none")),
                () -> Files.createDirectory(at.apply("none/d")),
                () -> Files.copy(at.apply("none"), at.apply("c")),
                () -> Files.move(at.apply("none"), at.apply("c"), StandardCopyOption.ATOMIC_MOVE),
                () -> Files.createLink(at.apply("h"), at.apply("none")),
                () -> Files.readSymbolicLink(at.apply("none")),
                () -> Files.newDirectoryStream(at.apply("none")),
                () -> { root.getFileSystem().provider().checkAccess(at.apply("none")); return null; },
                () -> Files.getFileStore(at.apply("none")),
                () -> at.apply("none").toRealPath(),
                () -> Files.setLastModifiedTime(at.apply("none"), FileTime.fromMillis(0)),
                () -> Files.getAttribute(at.apply("none"), "user:a"),
                // EEXIST (EISDIR from an exclusive create of a directory)
                () -> Files.createDirectory(at.apply("d")),
                () -> Files.createFile(at.apply("f")),
                () -> Files.createSymbolicLink(at.apply("l"), at.apply("f")),
                () -> Files.createLink(at.apply("f"), at.apply("d/e")),
                () -> Files.newByteChannel(at.apply("d"), StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE),
                () -> Files.move(at.apply("f"), at.apply("d/e")),
                // ENOTDIR
                () -> Files.createFile(at.apply("f/x")),
                () -> Files.readAttributes(at.apply("f/x"), "posix:*"),
                () -> Files.newInputStream(at.apply("f/x")),
                () -> Files.newDirectoryStream(at.apply("f")),
                () -> delete(at.apply("f/x")),
                () -> Files.copy(at.apply("f/x"), at.apply("c")),
                () -> Files.move(at.apply("d"), at.apply("f"), StandardCopyOption.ATOMIC_MOVE),
                // EISDIR
                () -> Files.newOutputStream(at.apply("d")),
                () -> Files.move(at.apply("f"), at.apply("d"), StandardCopyOption.ATOMIC_MOVE),
                // ELOOP
                () -> Files.readAttributes(at.apply("loop"), "*"),
                () -> Files.newByteChannel(at.apply("loop")),
                () -> Files.newByteChannel(at.apply("l"), StandardOpenOption.READ, LinkOption.NOFOLLOW_LINKS),
                () -> Files.newDirectoryStream(at.apply("loop/x")),
                // ENOTEMPTY
                () -> delete(at.apply("d")),
                () -> Files.move(at.apply("f"), at.apply("d"), StandardCopyOption.REPLACE_EXISTING),
                // EXDEV
                () -> Files.createLink(at.apply("h"), proc),
                () -> Files.move(at.apply("f"), proc.resolveSibling("fsstat-x"), StandardCopyOption.ATOMIC_MOVE),
                // ENAMETOOLONG
                () -> Files.createFile(at.apply(tooLong)),
                () -> Files.readAttributes(at.apply(tooLong), "*"),
                // EINVAL
                () -> Files.readSymbolicLink(at.apply("f")),
                () -> Files.move(at.apply("d"), at.apply("d/e/sub")),
                // EPERM
                () -> Files.createLink(at.apply("h"), at.apply("d")),
                // EACCES: no execute bit for anyone, which root too is refused
                () -> { root.getFileSystem().provider().checkAccess(at.apply("f"), java.nio.file.AccessMode.EXECUTE);
                    return null; },
                // The same through an open directory
                () -> { try (SecureDirectoryStream<Path> ds = (SecureDirectoryStream<Path>) Files.newDirectoryStream(root)) {
                    ds.deleteFile(root.getFileSystem().getPath("none")); } return null; },
                () -> { try (SecureDirectoryStream<Path> ds = (SecureDirectoryStream<Path>) Files.newDirectoryStream(root)) {
                    return ds.newDirectoryStream(root.getFileSystem().getPath("f")); } },
                () -> { try (SecureDirectoryStream<Path> ds = (SecureDirectoryStream<Path>) Files.newDirectoryStream(root)) {
                    ds.deleteDirectory(root.getFileSystem().getPath("d")); } return null; });
            String dir = root.toString();
            List<String> failures = new ArrayList<>();
            for (Op step : steps) {
                failures.add(failure(step, dir));
            }
            seen.add(failures);
        }
        for (int i = 0; i < seen.get(0).size(); i++) {
            if (seen.get(0).get(i).equals("ok")) {
                bad.append("step ").append(i).append(" did not fail\n");
            } else if (!seen.get(0).get(i).equals(seen.get(1).get(i))) {
                bad.append("step ").append(i).append(": ").append(seen.get(1).get(i)).append(" != ")
                        .append(seen.get(0).get(i)).append('\n');
            }
        }
        return bad.toString();
    }

    /** An asynchronous channel's writes and locks, and the calls it refuses, as one outcome. */
    private static String asyncWrite(Path file) throws Exception {
        try (AsynchronousFileChannel c = AsynchronousFileChannel.open(file, StandardOpenOption.WRITE,
                StandardOpenOption.CREATE_NEW)) {
            int n = c.write(ByteBuffer.wrap("async".getBytes(StandardCharsets.US_ASCII)), 2).get();
            FileLock lock = c.lock().get();
            return n + " " + c.size() + " " + (lock.acquiredBy() == c) + " " + outcome(() -> c.tryLock(0, 1, false))
                    + " " + outcome(() -> c.tryLock(0, 1, true)) + " " + outcome(() -> c.read(ByteBuffer.allocate(1), 0))
                    + " " + outcome(() -> c.write(ByteBuffer.allocate(1), -1));
        }
    }

    /** Reads through a handler and a future, past the end, and after close, as one outcome. */
    private static String asyncRead(Path file) throws Exception {
        AsynchronousFileChannel c = AsynchronousFileChannel.open(file);
        ByteBuffer b = ByteBuffer.allocate(9);
        java.util.concurrent.CompletableFuture<Integer> read = new java.util.concurrent.CompletableFuture<>();
        c.read(b, 1, b, new CompletionHandler<Integer, ByteBuffer>() {
            @Override
            public void completed(Integer n, ByteBuffer attachment) {
                read.complete(n);
            }

            @Override
            public void failed(Throwable e, ByteBuffer attachment) {
                read.completeExceptionally(e);
            }
        });
        String out = read.get() + " " + FileNames.display(java.util.Arrays.copyOf(b.array(), b.position())) + " "
                + c.read(ByteBuffer.allocate(1), 7).get() + " " + outcome(() -> c.truncate(0)) + " "
                + outcome(() -> c.lock(0, 1, false));
        c.close();
        try {
            c.read(ByteBuffer.allocate(1), 0).get();
            return out + " read after close";
        } catch (java.util.concurrent.ExecutionException e) {
            return out + " " + e.getCause().getClass().getSimpleName();
        }
    }

    /** The steps whose outcomes differ between the default file system's run and ours (ours may throw a subclass). */
    private static StringBuilder differences(List<List<String>> outcomes) {
        StringBuilder bad = new StringBuilder();
        for (int i = 0; i < outcomes.get(0).size(); i++) {
            String theirs = outcomes.get(0).get(i);
            String ours = outcomes.get(1).get(i);
            if (!theirs.equals(ours) && !subclass(ours, theirs)) {
                bad.append("step ").append(i).append(": ").append(ours).append(" != ").append(theirs).append('\n');
            }
        }
        return bad;
    }

    /** With this provider as the default: each entry of dir as string, URI, file and content against the JDK's
     * provider on the same bytes; the entry count, then the disagreements. */
    public static String asDefault(byte[] dir) throws IOException {
        FileSystem fs = FileSystems.getDefault();
        StringBuilder out = new StringBuilder();
        Set<String> schemes = new HashSet<>();
        java.nio.file.spi.FileSystemProvider.installedProviders().forEach(p -> schemes.add(p.getScheme()));
        if (!(fs.provider() instanceof FsFileSystemProvider) || !schemes.containsAll(Set.of("file", "fsstat"))) {
            return "default " + fs.provider() + ", installed " + schemes;
        }
        FileSystem jdk = FsFileSystemProvider.jdkFileSystem();
        Path base = Path.of(new String(dir, StandardCharsets.US_ASCII));
        int n = 0;
        try (DirectoryStream<Path> entries = Files.newDirectoryStream(base)) {
            for (Path p : entries) {
                n++;
                Path theirs = jdk.provider().getPath(p.toUri());  // the same bytes, the JDK's path
                String name = FileNames.display(FS.bytesOf(p));
                if (!p.toString().equals(theirs.toString())) {
                    out.append(name).append(": string ").append(p).append(" vs ").append(theirs).append('\n');
                }
                String ours = outcome(() -> Path.of(p.toString()).toUri().toString());
                String jdks = outcome(() -> jdk.getPath(theirs.toString()).toUri().toString());
                if (!ours.equals(jdks)) {
                    out.append(name).append(": its string reads as ").append(ours).append(" vs ").append(jdks).append('\n');
                }
                if (Files.isRegularFile(p, LinkOption.NOFOLLOW_LINKS)
                        && !java.util.Arrays.equals(Files.readAllBytes(p), Files.readAllBytes(theirs))) {
                    out.append(name).append(": content\n");
                }
                if (!p.toFile().equals(new java.io.File(theirs.toString())) || !Path.of(p.toUri()).equals(p)
                        || !FileNames.toPath(FS.bytesOf(p)).equals(p)) {
                    out.append(name).append(": file, URI or toPath\n");
                }
            }
        }
        return n + "\n" + out;
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
        for (WatchKey k; (k = ws.poll(10, TimeUnit.SECONDS)) == key;) {
            boolean done = false;
            for (WatchEvent<?> e : k.pollEvents()) {
                String s = e.kind() + " " + (e.context() == null ? "-" : name.apply((Path) e.context()));
                counts.merge(s, e.count(), Integer::sum);
                contexts.put(s, e.context());
                done |= s.endsWith(" " + last);
            }
            if (done || !k.reset()) {
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

    /** Bytes with everything but printable ASCII as \xNN, so that two spellings can be told apart. */
    private static String spelled(byte[] bytes) {
        StringBuilder sb = new StringBuilder();
        for (byte b : bytes) {
            sb.append(b >= 0x20 && b < 0x7F && b != '\\' ? String.valueOf((char) b) : String.format("\\x%02X", b & 0xFF));
        }
        return sb.toString();
    }
}
