package com.durvo.ufe.fsutil;

import java.io.IOException;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.NoSuchFileException;
import java.nio.file.NotDirectoryException;

/**
 * A failed system call in a native of {@link NativeFs}: the errno value, what
 * kind of failure it is, and the system's text for it. Callers turn it into
 * the {@code java.nio.file} exception that fits, naming the path.
 */
final class NativeErrno extends Exception {
    private static final long serialVersionUID = 1L;

    // Kinds as the library sorts errno values.
    private static final int NO_SUCH_FILE = 1;
    private static final int NOT_DIRECTORY = 2;
    private static final int ACCESS_DENIED = 3;
    private static final int LINK_REFUSED = 4;

    final int errno;
    private final int kind;

    NativeErrno(int errno, int kind, String text) {
        super(text, null, false, false);
        this.errno = errno;
        this.kind = kind;
    }

    /** The exception for this failure on {@code file} (a path in display form). */
    FileSystemException forFile(String file) {
        String text = getMessage();
        switch (kind) {
            case NO_SUCH_FILE: return new NoSuchFileException(file, null, text);
            case NOT_DIRECTORY: return new NotDirectoryException(file);
            case ACCESS_DENIED: return new AccessDeniedException(file, null, text);
            default: return new FileSystemException(file, null, text);
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
