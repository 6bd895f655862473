package com.durvo.ufe.fsutil;

import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;

/**
 * Folder iteration in the native library. Loading this class tells the library
 * once, before any file name is converted, whether the JVM's default charset is
 * UTF-8: names then travel in UTF-8 mode, otherwise in single-byte mode.
 */
public final class FolderIteratorNix {
    static {
        NativeLibrary.load();
        init(isUtf8(Charset.defaultCharset()));
    }

    private FolderIteratorNix() {
    }

    static boolean isUtf8(Charset charset) {
        return StandardCharsets.UTF_8.equals(charset);
    }

    /** Switches the library between UTF-8 mode (true) and single-byte mode. */
    static native void init(boolean isUtf8DefaultCharset);
}
