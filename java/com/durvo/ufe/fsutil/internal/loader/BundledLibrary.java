package com.durvo.ufe.fsutil.internal.loader;

import static com.durvo.ufe.fsutil.internal.loader.NativeLibrary.ATTEMPTS;
import static com.durvo.ufe.fsutil.internal.loader.NativeLibrary.CACHE_PROPERTY;
import static com.durvo.ufe.fsutil.internal.loader.NativeLibrary.PATH_PROPERTY;
import static com.durvo.ufe.fsutil.internal.loader.NativeLibrary.failure;
import static com.durvo.ufe.fsutil.internal.loader.NativeLibrary.ioFix;
import static com.durvo.ufe.fsutil.internal.loader.NativeLibrary.jdkPath;
import static com.durvo.ufe.fsutil.internal.loader.NativeLibrary.platform;
import static com.durvo.ufe.fsutil.internal.loader.NativeLibrary.reason;

import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.channels.SeekableByteChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.OpenOption;
import java.nio.file.Path;
import java.nio.file.SecureDirectoryStream;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributeView;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFileAttributes;
import java.nio.file.attribute.PosixFilePermissions;
import java.time.Duration;
import java.time.Instant;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Set;
import java.util.concurrent.ThreadLocalRandom;

/**
 * The library the jar carries for this platform, loaded from a copy. Once its
 * SHA-256 matches the one the jar carries, the copy is written into an
 * owner-only directory of the user's ({@link ExtractionDirectory}), opened
 * once: the directory is checked through its descriptor, the copy is created
 * and written relative to it, compared as read back through the copy's own
 * descriptor, unlinked, and loaded through that descriptor
 * ({@code /proc/self/fd/N}). So what is loaded is what was checked, whatever
 * anyone renames meanwhile, and JVMs never share a copy. Each class loader
 * that loads the jar's classes has a copy of its own.
 */
final class BundledLibrary {
    private static final String PARTIAL = ".partial";
    // A copy this old was left by a JVM killed before it unlinked it.
    private static final Duration STALE = Duration.ofMinutes(10);
    // The copy's descriptor, open for the class loader's life: the JVM knows the library by the
    // name /proc/PID/fd/N, and a copy loaded through another class loader must get another N.
    private static SeekableByteChannel held;

    private BundledLibrary() {
    }

    /** Loads the jar's library for this platform, as the class comment tells. */
    static void load() {
        String resource = NativeLibrary.RESOURCES + platform() + "/libfsstat.so";
        byte[] library;
        String expected;
        try (InputStream in = NativeLibrary.class.getResourceAsStream(resource);
             InputStream hash = NativeLibrary.class.getResourceAsStream(resource + ".sha256")) {
            if (in == null || hash == null) {
                throw failure("the jar's " + resource + " or its .sha256 cannot be read: rebuild the jar", null);
            }
            library = in.readAllBytes();
            expected = new String(hash.readAllBytes(), StandardCharsets.US_ASCII).trim();
        } catch (IOException e) {
            throw failure("cannot read " + resource + " from the jar (" + e + ")" + ioFix(e, "rebuild the jar"), e);
        }
        if (!Sha256.hex(library).equals(expected)) {
            throw failure("the jar's libfsstat for " + platform() + " does not match its SHA-256: the jar is"
                    + " damaged, rebuild it", null);
        }
        ExtractionDirectory place = ExtractionDirectory.find();
        // A class loader that loaded the jar and is being collected may have closed its copy's
        // descriptor while the JVM still knows the library by that descriptor's name: the next
        // copy then takes another descriptor while the one refused stays open.
        List<SeekableByteChannel> refused = new ArrayList<>();
        try {
            while (!loadCopy(place, library, refused.size() + 1 < ATTEMPTS ? refused : null)) {
                // another name, next time round
            }
        } finally {
            for (SeekableByteChannel channel : refused) {
                try {
                    channel.close();
                } catch (IOException e) {
                    // a descriptor of a copy whose name is gone
                }
            }
            if (place.temporary()) {
                try {
                    Files.deleteIfExists(place.dir());
                } catch (IOException e) {
                    // an empty directory of our own left in the temporary directory
                }
            }
        }
    }

    // Loads a fresh copy; false when the JVM knew its descriptor's name already, the copy then in refused.
    private static boolean loadCopy(ExtractionDirectory place, byte[] library, List<SeekableByteChannel> refused) {
        Path dir = place.dir();
        // Unique, not secret: nobody else can list or write the directory. (A SecureRandom would open
        // files, and this may run with none left.)
        String name = "libfsstat-" + HexFormat.of().toHexDigits(ThreadLocalRandom.current().nextLong()) + PARTIAL;
        Path file = dir.resolve(name);
        DirectoryStream<Path> opened;
        try {
            opened = Files.newDirectoryStream(dir);
        } catch (IOException e) {
            throw failure("cannot open the directory " + dir + " to extract libfsstat into (" + e + ")"
                    + ioFix(e, place.fix()), e);
        }
        try (DirectoryStream<Path> stream = opened) {
            if (!(stream instanceof SecureDirectoryStream<Path> secure)) {
                loadByPath(place, library, file);
                return true;
            }
            place.checkOwnerOnly(secure.getFileAttributeView(PosixFileAttributeView.class).readAttributes());
            removeStale(secure, stream);
            Set<OpenOption> create = Set.of(StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE,
                    StandardOpenOption.READ, LinkOption.NOFOLLOW_LINKS);
            SeekableByteChannel copy = secure.newByteChannel(jdkPath(name), create,
                    PosixFilePermissions.asFileAttribute(ExtractionDirectory.OWNER_ONLY));
            try {
                boolean linked = true;
                try {
                    // A write may stop short (a full file system, a quota): the next one says why.
                    for (ByteBuffer out = ByteBuffer.wrap(library); out.hasRemaining();) {
                        copy.write(out);
                    }
                    copy.position(0);
                    ByteBuffer back = ByteBuffer.allocate(library.length + 1);
                    while (copy.read(back) > 0 && back.hasRemaining()) {
                        // until the end, or past the length written
                    }
                    if (back.position() != library.length || !Arrays.equals(back.array(), 0, library.length,
                            library, 0, library.length)) {
                        throw failure("the copy of libfsstat written to " + file + " does not read back as"
                                + " written; " + place.fix(), null);
                    }
                    secure.deleteFile(jdkPath(name));
                    linked = false;
                    int fd = descriptorOf(copy);
                    if (fd < 0) {
                        // No /proc: the copy by its name, in a directory nobody else can write.
                        loadByPath(place, library, file);
                        return true;
                    }
                    try {
                        System.load("/proc/self/fd/" + fd);
                    } catch (UnsatisfiedLinkError e) {
                        if (refused != null && reason(e).contains("already loaded in another classloader")) {
                            refused.add(copy);
                            return false;
                        }
                        throw loadFailure(e, file, place);
                    }
                    held = copy;
                    return true;
                } finally {
                    if (linked) {
                        secure.deleteFile(jdkPath(name));
                    }
                }
            } finally {
                if (held != copy && (refused == null || !refused.contains(copy))) {
                    copy.close();
                }
            }
        } catch (IOException e) {
            throw failure("cannot extract libfsstat to " + file + " (" + e + ")" + ioFix(e, place.fix()), e);
        }
    }

    // Where no directory descriptor can be had: the copy written and loaded by its name.
    private static void loadByPath(ExtractionDirectory place, byte[] library, Path file) throws IOException {
        place.checkOwnerOnly(Files.readAttributes(place.dir(), PosixFileAttributes.class));
        Files.write(file, library, StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE, LinkOption.NOFOLLOW_LINKS);
        try {
            if (!Arrays.equals(Files.readAllBytes(file), library)) {
                throw failure("the copy of libfsstat written to " + file + " does not read back as written; "
                        + place.fix(), null);
            }
            try {
                System.load(file.toString());
            } catch (UnsatisfiedLinkError e) {
                throw loadFailure(e, file, place);
            }
        } finally {
            Files.deleteIfExists(file);
        }
    }

    private static UnsatisfiedLinkError loadFailure(UnsatisfiedLinkError e, Path copy, ExtractionDirectory place) {
        String why = reason(e);
        String fix = why.contains("failed to map segment from shared object")
                ? "the file system holding " + place.dir() + " is mounted noexec (" + why + "); set -D"
                + CACHE_PROPERTY + " to a directory where code may run, or -D" + PATH_PROPERTY
                + " to an installed libfsstat.so"
                : why + "; set -D" + PATH_PROPERTY + " to an installed libfsstat.so";
        return NativeLibrary.loadFailure(e, "cannot load libfsstat from " + copy + ": " + fix);
    }

    // The number of the descriptor open on the copy, found by a position nobody else has; -1 without /proc.
    private static int descriptorOf(SeekableByteChannel copy) throws IOException {
        // Past the end, within what any file system lets a file reach (FAT's 4 GiB the least).
        long mark = ThreadLocalRandom.current().nextLong(copy.size() + 1, 1L << 31);
        copy.position(mark);
        String wanted = "pos:\t" + mark;
        Path fdinfo = jdkPath("/proc/self/fdinfo");
        if (!Files.isDirectory(fdinfo)) {
            return -1;
        }
        try (DirectoryStream<Path> fds = Files.newDirectoryStream(fdinfo)) {
            for (Path fd : fds) {
                List<String> lines;
                try {
                    lines = Files.readAllLines(fd, StandardCharsets.ISO_8859_1);
                } catch (NoSuchFileException e) {
                    continue;  // closed meanwhile by another thread
                }
                if (lines.contains(wanted)) {
                    return Integer.parseInt(fd.getFileName().toString());
                }
            }
        }
        throw new IOException("no descriptor of this process is open on the copy");
    }

    // Copies left by JVMs killed between writing and unlinking them.
    private static void removeStale(SecureDirectoryStream<Path> secure, DirectoryStream<Path> entries) {
        FileTime before = FileTime.from(Instant.now().minus(STALE));
        for (Path entry : entries) {
            Path name = entry.getFileName();
            if (!name.toString().startsWith("libfsstat-") || !name.toString().endsWith(PARTIAL)) {
                continue;
            }
            try {
                BasicFileAttributeView view = secure.getFileAttributeView(name, BasicFileAttributeView.class,
                        LinkOption.NOFOLLOW_LINKS);
                if (view.readAttributes().lastModifiedTime().compareTo(before) < 0) {
                    secure.deleteFile(name);
                }
            } catch (IOException e) {
                // gone already, or not ours to judge: the next JVM tries again
            }
        }
    }
}
