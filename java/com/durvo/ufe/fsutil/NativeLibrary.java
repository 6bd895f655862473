package com.durvo.ufe.fsutil;

import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFileAttributes;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.HexFormat;
import java.util.Locale;
import java.util.Set;

/**
 * Loads libfsstat once per class loader: the file named by
 * {@value #PATH_PROPERTY} if set; else the copy bundled in the jar for this
 * platform, extracted into a per-user cache directory; else
 * {@code System.loadLibrary("fsstat")}.
 */
final class NativeLibrary {
    static final String PATH_PROPERTY = "fsstat.library.path";
    static final String CACHE_PROPERTY = "fsstat.cache.dir";

    private static final String RESOURCES = "native/";
    private static final Set<PosixFilePermission> OWNER_ONLY = PosixFilePermissions.fromString("rwx------");
    // Every libfsstat exports this native; a library that lacks it is some other one.
    private static final String MARKER = "Java_com_durvo_ufe_fsutil_FolderIteratorNix_init";

    private static boolean loaded;

    private NativeLibrary() {
    }

    /** Loads the library unless this class loader already has; each failure names the file tried and the fix. */
    static synchronized void load() {
        if (loaded) {
            return;
        }
        String explicit = System.getProperty(PATH_PROPERTY);
        if (explicit != null && !explicit.isEmpty()) {
            Path file = Path.of(explicit).toAbsolutePath();
            String origin = "-D" + PATH_PROPERTY + "=" + explicit;
            String fix = "point -D" + PATH_PROPERTY + " at a libfsstat.so built for " + platform()
                    + ", or leave it unset to use the library in the jar";
            String problem = foreignLibrary(file);
            if (problem != null) {
                throw failure("cannot load libfsstat from " + file + " (" + origin + "): " + problem + "; " + fix, null);
            }
            loadFile(file, origin, fix);
        } else if (NativeLibrary.class.getResource(RESOURCES + platform() + "/libfsstat.so") != null) {
            loadFile(extract(), "the copy extracted from the jar",
                    "remove that file so it is extracted again, or set -D" + PATH_PROPERTY
                    + " to an installed libfsstat.so");
        } else {
            try {
                System.loadLibrary("fsstat");
            } catch (UnsatisfiedLinkError e) {
                throw failure("the jar has no libfsstat for " + platform() + " and none was found on"
                        + " java.library.path=" + System.getProperty("java.library.path") + " (" + e.getMessage()
                        + "): set -D" + PATH_PROPERTY + "=/path/to/libfsstat.so", e);
            }
        }
        loaded = true;
    }

    // "linux-x86_64", "linux-x86": the resource folder of this JVM's platform.
    private static String platform() {
        String os = System.getProperty("os.name", "").toLowerCase(Locale.ROOT).replace(" ", "");
        String arch = System.getProperty("os.arch", "");
        if (arch.equals("amd64") || arch.equals("x86_64")) {
            arch = "x86_64";
        } else if (arch.matches("i[3-6]86|x86")) {
            arch = "x86";
        }
        return os + "-" + arch;
    }

    private static void loadFile(Path file, String origin, String fix) {
        try {
            System.load(file.toString());
        } catch (UnsatisfiedLinkError e) {
            String why = e.getMessage() == null ? "" : e.getMessage();
            if (why.contains("failed to map segment from shared object")) {
                throw failure("cannot load libfsstat from " + file + ": the file system holding " + file.getParent()
                        + " is mounted noexec (failed to map segment from shared object); set -D" + CACHE_PROPERTY + " to a directory where code may run, or -D"
                        + PATH_PROPERTY + " to an installed libfsstat.so", e);
            }
            if (why.contains("already loaded in another classloader")) {
                throw failure("libfsstat (" + file + ") is already loaded by another class loader in this JVM,"
                        + " and a native library serves only one; load the fsstat classes from a single class"
                        + " loader that both share (for example the application class path)", e);
            }
            throw failure("cannot load libfsstat from " + file + " (" + origin + "): " + why + "; " + fix, e);
        }
    }

    // Why file is no libfsstat this JVM can load, or null when it looks like one.
    private static String foreignLibrary(Path file) {
        byte[] bytes;
        try {
            bytes = Files.readAllBytes(file);
        } catch (IOException e) {
            return "cannot read it (" + e + ")";
        }
        if (bytes.length < 20 || bytes[0] != 0x7f || bytes[1] != 'E' || bytes[2] != 'L' || bytes[3] != 'F') {
            return "it is not an ELF shared object";
        }
        String model = System.getProperty("sun.arch.data.model", "64");
        int bits = bytes[4] == 1 ? 32 : 64;
        // e_machine, little-endian on every platform we bundle
        int machine = (bytes[18] & 0xff) | (bytes[19] & 0xff) << 8;
        String expected = platform().endsWith("-x86_64") ? "x86_64" : platform().endsWith("-x86") ? "x86" : null;
        String actual = machine == 62 ? "x86_64" : machine == 3 ? "x86" : "machine " + machine;
        if (!Integer.toString(bits).equals(model) || expected != null && !expected.equals(actual)) {
            return "it is a " + bits + "-bit " + actual + " library, this JVM is " + model + "-bit " + platform();
        }
        if (!new String(bytes, StandardCharsets.ISO_8859_1).contains(MARKER)) {
            return "it is some other library (it does not export " + MARKER + ")";
        }
        return null;
    }

    // The bundled library's file in the cache, written there first if missing or damaged.
    private static Path extract() {
        String resource = RESOURCES + platform() + "/libfsstat.so";
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
            throw failure("cannot read " + resource + " from the jar (" + e + "): rebuild the jar", e);
        }
        if (!sha256(library).equals(expected)) {
            throw failure("the jar's " + resource + " does not match its SHA-256: the jar is damaged, rebuild it", null);
        }
        Path dir = cacheDirectory();
        Path file = dir.resolve("libfsstat-" + expected + ".so");
        try {
            if (!matches(file, expected)) {
                // Written under a name of its own, then renamed: a JVM extracting at the same
                // moment never sees a partial file, and the last rename leaves the same bytes.
                Path partial = Files.createTempFile(dir, "libfsstat-", ".partial");
                try {
                    Files.write(partial, library);
                    Files.move(partial, file, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
                } finally {
                    Files.deleteIfExists(partial);
                }
            }
            // Checked again right before loading: what is loaded is what the jar carries.
            if (!matches(file, expected)) {
                throw failure("the extracted " + file + " does not match the jar's SHA-256 " + expected
                        + ": something else writes to " + dir + "; set -D" + CACHE_PROPERTY
                        + " to a directory of your own", null);
            }
        } catch (AtomicMoveNotSupportedException e) {
            throw failure("cannot extract libfsstat to " + file + " (" + e + "); set -D" + CACHE_PROPERTY
                    + " to a directory on a local file system", e);
        } catch (IOException e) {
            throw failure("cannot extract libfsstat to " + file + " (" + e + "); set -D" + CACHE_PROPERTY
                    + " to a writable directory, or -D" + PATH_PROPERTY + " to an installed libfsstat.so", e);
        }
        return file;
    }

    private static boolean matches(Path file, String sha256) throws IOException {
        return Files.isRegularFile(file, LinkOption.NOFOLLOW_LINKS) && sha256(Files.readAllBytes(file)).equals(sha256);
    }

    // The chosen or default cache directory, created owner-only if missing; refused unless
    // it is a real directory of this user that nobody else can write.
    private static Path cacheDirectory() {
        String chosen = System.getProperty(CACHE_PROPERTY);
        Path dir;
        if (chosen != null && !chosen.isEmpty()) {
            dir = Path.of(chosen).toAbsolutePath();
        } else {
            String xdg = System.getenv("XDG_CACHE_HOME");
            Path home = Path.of(System.getProperty("user.home", "?"));
            if (xdg != null && xdg.startsWith("/")) {
                dir = Path.of(xdg, "fsstat");
            } else if (home.isAbsolute() && Files.isWritable(home)) {
                dir = home.resolve(".cache").resolve("fsstat");
            } else {
                dir = Path.of(System.getProperty("java.io.tmpdir"), "fsstat-" + System.getProperty("user.name"));
            }
        }
        String fix = "; set -D" + CACHE_PROPERTY + " to a directory of your own";
        try {
            if (dir.getParent() != null) {
                Files.createDirectories(dir.getParent());
            }
            Files.createDirectory(dir, PosixFilePermissions.asFileAttribute(OWNER_ONLY));
        } catch (FileAlreadyExistsException e) {
            // made earlier, by us or by someone else: the checks below tell
        } catch (IOException | UnsupportedOperationException e) {
            throw failure("cannot create the directory " + dir + " to extract libfsstat into (" + e + ")" + fix, e);
        }
        PosixFileAttributes attributes;
        try {
            attributes = Files.readAttributes(dir, PosixFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
        } catch (IOException | UnsupportedOperationException e) {
            throw failure("cannot examine " + dir + " (" + e + ")" + fix, e);
        }
        if (!attributes.isDirectory()) {
            throw failure(dir + " is not a directory, so libfsstat cannot be extracted there" + fix, null);
        }
        String user = currentUser();
        if (!attributes.owner().getName().equals(user) || !OWNER_ONLY.containsAll(attributes.permissions())) {
            throw failure("refusing to load libfsstat from " + dir + ": it belongs to " + attributes.owner().getName()
                    + " with permissions " + PosixFilePermissions.toString(attributes.permissions())
                    + ", so others could replace the library; it must belong to " + user + " with rwx------"
                    + fix, null);
        }
        return dir;
    }

    // The process's own user as the file system names owners: /proc/self belongs to it. A
    // container user without a passwd entry has no user.name, but owns its /proc/self.
    private static String currentUser() {
        try {
            return Files.getOwner(Path.of("/proc/self")).getName();
        } catch (IOException | UnsupportedOperationException e) {
            return System.getProperty("user.name");
        }
    }

    private static String sha256(byte[] bytes) {
        try {
            return HexFormat.of().formatHex(MessageDigest.getInstance("SHA-256").digest(bytes));
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every JDK has SHA-256", e);
        }
    }

    private static UnsatisfiedLinkError failure(String message, Throwable cause) {
        UnsatisfiedLinkError error = new UnsatisfiedLinkError(message);
        if (cause != null) {
            error.initCause(cause);
        }
        return error;
    }
}
