package com.durvo.ufe.fsutil;

import java.lang.ref.Cleaner;

/**
 * The natives of the Java API. Paths and names cross as their exact bytes;
 * failures come back as {@link NativeErrno}.
 */
final class NativeFs {
    /** Longs per entry in a {@link #readDir} batch: sixteen stat values and the name's length. */
    static final int ENTRY_LONGS = 17;

    /** Closes native resources that their owners dropped unclosed. */
    static final Cleaner CLEANER = Cleaner.create();

    static {
        NativeLibrary.load();
        FolderIteratorNix.init(FileNames.utf8Mode());
        initIDs();
    }

    private NativeFs() {
    }

    private static native void initIDs();

    /** The bytes the library reads {@code path} as (see {@link FileNames#toBytes}). */
    static native byte[] pathBytes(String path);

    /** The library's string for a name or path with these bytes. */
    static native String nameString(byte[] name);

    /** The eleven statvfs figures of {@code path} into {@code out}. */
    static native void statvfs(String path, long[] out) throws NativeErrno;

    /** Opens a directory, following a final link; the handle. */
    static native long openDir(byte[] path) throws NativeErrno;

    /** Opens the subdirectory {@code name} of an open directory, never through a link. */
    static native long openDirAt(long parent, byte[] name) throws NativeErrno;

    /** Fills a batch of entries; how many, 0 at the end. */
    static native int readDir(long handle, long[] longs, byte[] names) throws NativeErrno;

    static native void closeDir(long handle);
}
