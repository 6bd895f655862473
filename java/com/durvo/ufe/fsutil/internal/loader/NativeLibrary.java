package com.durvo.ufe.fsutil.internal.loader;

import com.durvo.ufe.fsutil.internal.loader.JdkFileSystem;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Locale;

/**
 * Loads libfsstat once per class loader: the file named by
 * {@value #PATH_PROPERTY} if set; else the copy the jar carries for this
 * platform; else {@code System.loadLibrary("fsstat")}. A failure leaves nothing
 * behind: the next call tries again.
 *
 * <p>The jar's copy is loaded as {@link BundledLibrary} tells.
 */
public final class NativeLibrary {
    static final String PATH_PROPERTY = "fsstat.library.path";
    static final String CACHE_PROPERTY = "fsstat.cache.dir";

    static final String RESOURCES = "/com/durvo/ufe/fsutil/native/";
    // Every libfsstat exports this native; a library that lacks it is some other one.
    private static final String MARKER = "Java_com_durvo_ufe_fsutil_FolderIteratorNix_init";

    private static volatile boolean loaded;
    // Loads through as many descriptor names that a class loader being collected still holds.
    static final int ATTEMPTS = 8;

    private NativeLibrary() {
    }

    /**
     * Loads the library unless this class loader already has; each failure names the file tried and the fix.
     * The classes that declare natives call this before they are first used, never only from a static
     * initializer, whose failure would be final.
     */
    public static void load() {
        if (loaded) {
            return;
        }
        synchronized (NativeLibrary.class) {
            if (!loaded) {
                loadOnce();
                loaded = true;
            }
        }
    }

    private static void loadOnce() {
        String explicit = System.getProperty(PATH_PROPERTY);
        if (explicit != null && !explicit.isEmpty()) {
            Path file = jdkPath(explicit).toAbsolutePath();
            String origin = "-D" + PATH_PROPERTY + "=" + explicit;
            String fix = "point -D" + PATH_PROPERTY + " at a libfsstat.so built for " + platform()
                    + ", or leave it unset to use the library in the jar";
            String problem = foreignLibrary(file);
            if (problem != null) {
                throw failure("cannot load libfsstat from " + file + " (" + origin + "): " + problem + "; " + fix, null);
            }
            try {
                System.load(file.toString());
            } catch (UnsatisfiedLinkError e) {
                String why = reason(e);
                if (why.contains("failed to map segment from shared object")) {
                    fix = "the file system holding it is mounted noexec; copy it to one where code may run";
                }
                throw loadFailure(e, "cannot load libfsstat from " + file + " (" + origin + "): " + why + "; " + fix);
            }
        } else if (NativeLibrary.class.getResource(RESOURCES + platform() + "/libfsstat.so") != null) {
            BundledLibrary.load();
        } else {
            try {
                System.loadLibrary("fsstat");
            } catch (UnsatisfiedLinkError e) {
                throw failure("the jar carries libfsstat for " + carried() + ", not for " + platform()
                        + ", and none was found on java.library.path=" + System.getProperty("java.library.path")
                        + " (" + e.getMessage() + "): build libfsstat for " + platform() + " and set -D"
                        + PATH_PROPERTY + "=/path/to/libfsstat.so", e);
            }
        }
    }

    // "linux-x86_64", "linux-x86", "linux-aarch64": the resource folder of this JVM's platform.
    static String platform() {
        String os = System.getProperty("os.name", "").toLowerCase(Locale.ROOT).replace(" ", "");
        String arch = System.getProperty("os.arch", "");
        if (arch.equals("amd64") || arch.equals("x86_64")) {
            arch = "x86_64";
        } else if (arch.matches("i[3-6]86|x86")) {
            arch = "x86";
        } else if (arch.equals("arm64")) {
            arch = "aarch64";
        }
        return os + "-" + arch;
    }

    // The platforms the jar has a library for, as its list names them.
    private static String carried() {
        try (InputStream in = NativeLibrary.class.getResourceAsStream(RESOURCES + "platforms")) {
            return in == null ? "no platform" : new String(in.readAllBytes(), StandardCharsets.US_ASCII).trim()
                    .replace("\n", ", ");
        } catch (IOException e) {
            return "platforms it cannot tell (" + e + ")";
        }
    }

    static String reason(UnsatisfiedLinkError e) {
        return e.getMessage() == null ? "" : e.getMessage();
    }

    static UnsatisfiedLinkError loadFailure(UnsatisfiedLinkError e, String otherwise) {
        if (reason(e).contains("already loaded in another classloader")) {
            return failure("libfsstat is already loaded by another class loader in this JVM, and a native"
                    + " library serves only one; load the fsstat classes from a single class loader that both"
                    + " share (for example the application class path)", e);
        }
        return failure(otherwise, e);
    }

    // Why file is no libfsstat this JVM can load, or null when it looks like one.
    private static String foreignLibrary(Path file) {
        if (Files.isDirectory(file)) {
            return "it is a directory, not the library file";
        }
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
        String actual = machine == 62 ? "x86_64" : machine == 3 ? "x86" : machine == 183 ? "aarch64" : "machine " + machine;
        String arch = platform().substring(platform().indexOf('-') + 1);
        boolean known = arch.equals("x86_64") || arch.equals("x86") || arch.equals("aarch64");
        if (!Integer.toString(bits).equals(model) || known && !arch.equals(actual)) {
            return "it is a " + bits + "-bit " + actual + " library, this JVM is " + model + "-bit " + platform();
        }
        if (!new String(bytes, StandardCharsets.ISO_8859_1).contains(MARKER)) {
            return "it is some other library (it does not export " + MARKER + ")";
        }
        return null;
    }

    /** A path of the JDK's own file system: the library is not there yet to serve this package's. */
    static Path jdkPath(String first, String... more) {
        return JdkFileSystem.get().getPath(first, more);
    }

    // The fix for an I/O failure: running out of descriptors passes, and the next use retries.
    static String ioFix(Exception e, String otherwise) {
        String text = String.valueOf(e.getMessage());
        if (text.contains("Too many open files")) {
            return "; this process (or the system) has too many open files: close some, or raise the limit"
                    + " (ulimit -n), and use the library again";
        }
        return "; " + otherwise;
    }

    static UnsatisfiedLinkError failure(String message, Throwable cause) {
        UnsatisfiedLinkError error = new UnsatisfiedLinkError(message);
        if (cause != null) {
            error.initCause(cause);
        }
        return error;
    }
}
