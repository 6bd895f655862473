package com.durvo.ufe.fsutil;

import java.io.File;

/**
 * Loads libfsstat once per class loader. By default the library is found on
 * {@code java.library.path}; set the system property {@value #PATH_PROPERTY}
 * to the full path of {@code libfsstat.so} to load that file instead.
 */
public final class NativeLibrary {
    /** System property naming the library file to load instead of searching. */
    public static final String PATH_PROPERTY = "fsstat.library.path";

    private static boolean loaded;

    private NativeLibrary() {
    }

    /**
     * Loads the library if this class loader has not done so yet.
     *
     * @throws UnsatisfiedLinkError naming the property to set when the library cannot be found
     */
    public static synchronized void load() {
        if (loaded) {
            return;
        }
        String explicit = System.getProperty(PATH_PROPERTY);
        try {
            if (explicit != null && !explicit.isEmpty()) {
                System.load(new File(explicit).getAbsolutePath());
            } else {
                System.loadLibrary("fsstat");
            }
        } catch (UnsatisfiedLinkError e) {
            String where = explicit != null && !explicit.isEmpty()
                    ? "from " + PATH_PROPERTY + "=" + explicit
                    : "on java.library.path=" + System.getProperty("java.library.path");
            UnsatisfiedLinkError error = new UnsatisfiedLinkError("cannot load libfsstat " + where
                    + ": set -D" + PATH_PROPERTY + "=/path/to/libfsstat.so, or put its folder on"
                    + " -Djava.library.path (" + e.getMessage() + ")");
            error.initCause(e);
            throw error;
        }
        loaded = true;
    }
}
