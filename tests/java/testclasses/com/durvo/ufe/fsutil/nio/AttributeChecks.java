package com.durvo.ufe.fsutil.nio;

import static com.durvo.ufe.fsutil.nio.PathChecks.*;

import java.io.*;
import java.nio.*;
import java.nio.charset.*;
import java.nio.file.*;
import java.nio.file.attribute.*;
import java.time.*;
import java.util.*;

/** Attributes of the fsstat: file system: the store, user and dos views, and changes raced against a swapped-in link. */
public final class AttributeChecks {
    private AttributeChecks() {
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

    /** An attribute change that may fail. */
    private interface Attempt {
        void run() throws IOException;
    }

    /**
     * Attribute changes on dir/f raced against a thread that keeps swapping f for a link to victim and back, for
     * rounds rounds or until millis have passed (0: no limit). "view": the mode, owner, times and a user attribute
     * through a view that does not follow links; "secure": the mode, owner and times through a secure directory
     * stream's view of f; "copy": dir/src (mode 0777, owner 70001 where this process may give it, 1970's times)
     * copied onto f with its attributes; "read": f read through FsFiles, victim a directory. A change that meets
     * the link, or loses f meanwhile, fails as it should.
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
            java.nio.file.FileSystem jdk = com.durvo.ufe.fsutil.internal.loader.JdkFileSystem.get();
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
                if (kind.equals("read")) {  // victim is a directory: a stream opened must read
                    InputStream in;
                    try {
                        in = com.durvo.ufe.fsutil.FsFiles.newInputStream(f);
                    } catch (IOException e) {
                        continue;
                    }
                    try (in) {
                        in.readAllBytes();
                    }
                    done++;
                    continue;
                }
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
}
