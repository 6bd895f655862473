package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.FileNames;
import static com.durvo.ufe.fsutil.nio.PathChecks.*;

import java.io.*;
import java.nio.*;
import java.nio.channels.*;
import java.nio.charset.*;
import java.nio.file.*;
import java.nio.file.attribute.*;
import java.util.*;
import java.util.function.*;
import java.util.stream.*;

/** Files operations on the fsstat: file system beside the same on the default one: outcomes and failures alike. */
public final class FilesChecks {
    private FilesChecks() {
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
     * the steps whose outcomes (results relative to the directory, or exception classes) differ, one a line. A
     * failure of one system call is failuresAsDefault's to compare, in every part. */
    public static String sameAsDefault(String defaultDir, byte[] ourDir) {
        Path[] roots = {Path.of(defaultDir), FS.getPath(ourDir)};
        List<List<String>> outcomes = new ArrayList<>();
        for (Path root : roots) {
            Function<String, Path> at = n -> root == roots[0] ? root.resolve(n) : root.resolve(FS.getPath(hostile(n)));
            List<Op> steps = List.of(
                () -> Files.createDirectory(at.apply("dX")),
                () -> Files.createFile(at.apply("dX/fY")),
                () -> Files.writeString(at.apply("dX/fY"), "text", StandardOpenOption.APPEND),
                () -> Files.createSymbolicLink(at.apply("lX"), FS == root.getFileSystem() ? FS.getPath(hostile("dX/fY"))
                        : Path.of("dX/fY")),
                () -> Files.isSymbolicLink(at.apply("lX")) + " " + Files.isRegularFile(at.apply("lX"))
                        + " " + Files.isRegularFile(at.apply("lX"), LinkOption.NOFOLLOW_LINKS),
                () -> Files.copy(at.apply("lX"), at.apply("cX")),
                () -> Files.copy(at.apply("dX"), at.apply("cY")),
                // A file that sendfile refuses on some kernels, which read and write then copy.
                () -> Files.copy(root.getFileSystem().getPath("/proc/self/cmdline"), at.apply("pX")) != null
                        && java.util.Arrays.equals(Files.readAllBytes(at.apply("pX")),
                                Files.readAllBytes(Path.of("/proc/self/cmdline"))),
                () -> Files.move(at.apply("cY"), at.apply("cX"), StandardCopyOption.REPLACE_EXISTING),
                () -> Files.isSameFile(at.apply("lX"), at.apply("dX/fY")),
                () -> Files.getAttribute(at.apply("dX/fY"), "posix:nonesuch"),
                () -> Files.getAttribute(at.apply("dX/fY"), "nonesuch:size"),
                () -> Files.getAttribute(at.apply("dX/fY"), "size"),
                () -> Files.readAttributes(at.apply("dX/fY"), "posix:*").keySet().containsAll(
                        Set.of("permissions", "owner", "group", "size", "fileKey", "lastModifiedTime")),
                () -> Files.setAttribute(at.apply("dX/fY"), "basic:size", 3L),
                () -> Files.getPosixFilePermissions(at.apply("dX/fY")).size(),
                () -> Files.newBufferedReader(at.apply("dX")).read(),
                () -> count(Files.list(at.apply("dX"))),
                () -> count(Files.walk(at.apply(""))),
                () -> asyncWrite(at.apply("aX")),
                () -> asyncRead(at.apply("aX")),
                () -> AsynchronousFileChannel.open(at.apply("aX"), StandardOpenOption.WRITE, StandardOpenOption.APPEND),
                () -> Files.isWritable(at.apply("dX")) + " " + Files.isExecutable(at.apply("dX/fY")),
                () -> at.apply("dX/fY").toRealPath().endsWith(at.apply("dX/fY").getFileName()),
                () -> at.apply("lX").toRealPath(LinkOption.NOFOLLOW_LINKS).getFileName(),
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
                // EEXIST
                () -> Files.createDirectory(at.apply("d")),
                () -> Files.createFile(at.apply("f")),
                () -> Files.createSymbolicLink(at.apply("l"), at.apply("f")),
                () -> Files.createLink(at.apply("f"), at.apply("d/e")),
                () -> Files.move(at.apply("f"), at.apply("d/e")),
                // ENOTDIR
                () -> Files.createFile(at.apply("f/x")),
                () -> Files.readAttributes(at.apply("f/x"), "posix:*"),
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
}
