package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.FileSystemStat;

import java.io.*;
import java.net.*;
import java.nio.charset.*;
import java.nio.file.*;
import java.nio.file.attribute.*;
import java.time.*;
import java.util.*;
import java.util.function.*;
import java.util.stream.*;

/** Paths and operations of the fsstat: file system driven from the tests, which check the results against the
 * system's own calls; the values and helpers the other check classes of this package share. */
public final class PathChecks {
    static final FsFileSystem FS = (FsFileSystem) FileSystems.getFileSystem(URI.create("fsstat:///"));
    static final byte[] X = {(byte) 0xE9};
    static final byte[] Y = {(byte) 0xED, (byte) 0xA0, (byte) 0x80, (byte) 0xC2, (byte) 0xB6, '.', '.'};

    private PathChecks() {
    }

    static byte[] hostile(String ascii) {
        java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
        for (char c : ascii.toCharArray()) {
            out.writeBytes(c == 'X' ? X : c == 'Y' ? Y : new byte[] {(byte) c});
        }
        return out.toByteArray();
    }

    // A path as its bytes displayed, X and Y in a default path standing for ours.
    static String shown(Object result) {
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

    interface Op {
        Object run() throws Exception;
    }

    static String outcome(Op op) {
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

    static boolean subclass(String ours, String theirs) {
        try {
            return Class.forName(theirs).isAssignableFrom(Class.forName(ours));
        } catch (ClassNotFoundException e) {
            return false;
        }
    }

    /** The steps whose outcomes differ between the default file system's run and ours (ours may throw a subclass). */
    static StringBuilder differences(List<List<String>> outcomes) {
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
        FileSystem jdk = com.durvo.ufe.fsutil.internal.loader.JdkFileSystem.get();
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

    /** Bytes with everything but printable ASCII as \xNN, so that two spellings can be told apart. */
    static String spelled(byte[] bytes) {
        StringBuilder sb = new StringBuilder();
        for (byte b : bytes) {
            sb.append(b >= 0x20 && b < 0x7F && b != '\\' ? String.valueOf((char) b) : String.format("\\x%02X", b & 0xFF));
        }
        return sb.toString();
    }
}
