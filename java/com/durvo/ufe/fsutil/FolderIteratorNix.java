package com.durvo.ufe.fsutil;

import com.durvo.ufe.fsutil.internal.loader.NativeLibrary;
import com.durvo.ufe.fsutil.internal.names.NameBytes;

/**
 * The native side of folder iteration. Loading this class tells the library
 * once, before any file name is converted, whether the JVM's default charset is
 * UTF-8: names then travel in UTF-8 mode, otherwise in single-byte mode.
 *
 * <p>Use {@link FolderListing}; these methods keep the library's rules: a
 * handle of -1 means nothing is open, any other handle is closed exactly once.
 */
final class FolderIteratorNix {
    /** The handle value that means no directory stream is open. */
    static final long NO_HANDLE = -1;

    static {
        NativeLibrary.load();
        init(NameBytes.utf8Mode());
    }

    private FolderIteratorNix() {
    }

    /** Switches the library between UTF-8 mode (true) and single-byte mode. */
    static native void init(boolean isUtf8DefaultCharset);

    /** Opens {@code dir} and delivers its first entry into {@code child}; the handle, or -1. */
    static native long getFirstFileN(String dir, ChildFile child);

    /** Delivers the next entry of the handle's stream into {@code child}; false at the end. */
    static native boolean getNextFileN(long handle, String dir, ChildFile child);

    static native void closeSearchHandleN(long handle);
}
