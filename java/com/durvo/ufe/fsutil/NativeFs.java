package com.durvo.ufe.fsutil;

import java.io.IOException;
import java.lang.ref.Cleaner;

/**
 * The natives of the Java API. Paths and names cross as their exact bytes;
 * failures come back as {@link NativeErrno}.
 */
final class NativeFs {
    /** Closes native resources that their owners dropped unclosed. */
    static final Cleaner CLEANER = Cleaner.create();

    static {
        NativeLibrary.load();
        FolderIteratorNix.init(FileNames.utf8Mode());
        initIDs();
    }

    private NativeFs() {
    }

    /** Loads the library and registers its natives, once: what running this class's initializer does. */
    static void ensureLoaded() {
        // the static initializer has run by now
    }

    private static native void initIDs();

    /** The library's string for a name or path with these bytes. */
    static native String nameString(byte[] name);

    /** Opens a directory, following a final link; the handle. */
    static native long openDir(byte[] path) throws NativeErrno;

    /** A handle of the open directory {@code fd}, through a duplicate of it ({@code fd} stays the caller's). */
    static native long dupDir(int fd) throws NativeErrno;

    /**
     * Opens the subdirectory {@code name} of an open directory, through a link only with
     * {@link EntryLayout#FOLLOW}; as {@link #openDir} otherwise.
     */
    static native long openDirAt(long parent, byte[] name, int flags) throws NativeErrno;

    /** The open directory's device and inode into {@code id}. */
    static native void identity(long handle, long[] id) throws NativeErrno;

    /**
     * Fills a batch of entries (see {@link EntryLayout}) with the attributes {@code want} asks for
     * ({@link EntryLayout#TYPE} and others), read as {@code flags} say; how many, 0 at the end.
     */
    static native int readDir(long handle, int want, int flags, long[] longs, byte[] names) throws NativeErrno;

    /** The failure {@code errno} stands for, not thrown. */
    static native NativeErrno describe(int errno);

    static native void closeDir(long handle);

    /** Opens a file for reading (a directory is refused); its stat values into {@code stat}; the descriptor. */
    static native int openRead(byte[] path, long[] stat) throws NativeErrno;

    /** Reads into {@code buf[off..off+len)}: how many bytes, -1 at the end. */
    static native int read(int fd, byte[] buf, int off, int len) throws NativeErrno;

    /** Moves a descriptor that can seek {@code n} bytes on; the distance moved. */
    static native long skip(int fd, long n);

    /** The bytes between the position and the end of the file. */
    static native long remaining(int fd) throws NativeErrno;

    static native void closeRead(int fd);

    /** The target of the link at {@code path}. */
    static native byte[] readLink(byte[] path) throws NativeErrno;
}
