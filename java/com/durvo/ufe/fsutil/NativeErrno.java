package com.durvo.ufe.fsutil;

import java.io.IOException;
import java.nio.file.AccessDeniedException;
import java.nio.file.DirectoryNotEmptyException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystemException;
import java.nio.file.NoSuchFileException;
import java.nio.file.NotDirectoryException;

/**
 * A failed system call in a native of {@link NativeFs} or {@link SysCalls}:
 * the errno value, what kind of failure it is, and the system's text for it.
 * Callers turn it into the {@code java.nio.file} exception that fits, naming
 * the path.
 */
final class NativeErrno extends Exception {
    private static final long serialVersionUID = 1L;

    // Kinds as the library sorts errno values.
    private static final int NO_SUCH_FILE = 1;
    private static final int NOT_DIRECTORY = 2;
    private static final int ACCESS_DENIED = 3;
    private static final int LINK_REFUSED = 4;
    private static final int EXISTS = 5;
    private static final int NOT_EMPTY = 6;
    private static final int CROSS_DEVICE = 7;

    final int errno;
    private final int kind;

    NativeErrno(int errno, int kind, String text) {
        super(text, null, false, false);
        this.errno = errno;
        this.kind = kind;
    }

    /** {@return whether the file already exists (EEXIST)} */
    boolean exists() {
        return kind == EXISTS;
    }

    /** {@return whether the two paths lie on different file systems (EXDEV)} */
    boolean crossDevice() {
        return kind == CROSS_DEVICE;
    }

    /** The exception for this failure on {@code file} (a path in display form). */
    FileSystemException forFile(String file) {
        return forFiles(file, null);
    }

    /** The exception for this failure of an operation on {@code file} and {@code other} (both in display form). */
    FileSystemException forFiles(String file, String other) {
        String text = getMessage();
        switch (kind) {
            case NO_SUCH_FILE: return new NoSuchFileException(file, other, text);
            case NOT_DIRECTORY: return new NotDirectoryException(file);
            case ACCESS_DENIED: return new AccessDeniedException(file, other, text);
            case EXISTS: return new FileAlreadyExistsException(file, other, null);
            case NOT_EMPTY: return new DirectoryNotEmptyException(file);
            // The JDK's words: with NOFOLLOW_LINKS a final link is what fails.
            case LINK_REFUSED: return new FileSystemException(file, other, text + " or unable to access attributes of symbolic link");
            default: return new FileSystemException(file, other, text);
        }
    }

    /** Whether an open refused to go through a symbolic link ({@code ELOOP}). */
    boolean isLinkRefused() {
        return kind == LINK_REFUSED;
    }

    /** {@link #forFile} for a path given by its bytes. */
    IOException forFile(byte[] path) {
        return forFile(FileNames.display(path));
    }
}
