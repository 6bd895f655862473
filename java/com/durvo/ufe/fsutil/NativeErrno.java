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
 * the errno value and the system's text for it. Callers turn it into the
 * {@code java.nio.file} exception that fits, naming the path.
 *
 * <p>The provider's exceptions are the JDK's provider's, class and message,
 * so that programs print the same: {@link #forFile(String)} and
 * {@link #forFiles} hold the one table from errno to exception. The
 * library's own API ({@link FsFiles}, listings, walks, file system
 * statistics) names paths by their bytes with {@link #forFile(byte[])},
 * which keeps the system's text in every exception, as it documents.
 */
final class NativeErrno extends Exception {
    private static final long serialVersionUID = 1L;

    // The values the code tells apart, shared with the natives through SysCallFlags.
    static final int EPERM = SysCallFlags.EPERM;
    static final int ENOENT = SysCallFlags.ENOENT;
    static final int EACCES = SysCallFlags.EACCES;
    static final int EEXIST = SysCallFlags.EEXIST;
    static final int EXDEV = SysCallFlags.EXDEV;
    static final int ENOTDIR = SysCallFlags.ENOTDIR;
    static final int EINVAL = SysCallFlags.EINVAL;
    static final int ENOTEMPTY = SysCallFlags.ENOTEMPTY;
    static final int ELOOP = SysCallFlags.ELOOP;
    static final int ENODATA = SysCallFlags.ENODATA;

    /**
     * Whether the running JDK reports a path through a file that is not a
     * directory as a missing file where it reads attributes (JDK 25 on; before,
     * "Not a directory").
     */
    private static final boolean NOT_DIRECTORY_IS_MISSING = Runtime.version().feature() >= 25;

    final int errno;

    NativeErrno(int errno, String text) {
        super(text, null, false, false);
        this.errno = errno;
    }

    /** The exception for this failure on {@code file} (a path in display form), as the JDK's provider throws it. */
    FileSystemException forFile(String file) {
        return forFiles(file, null);
    }

    /** {@link #forFile(String)} for an operation on {@code file} and {@code other}. */
    FileSystemException forFiles(String file, String other) {
        switch (errno) {
            case EACCES: return new AccessDeniedException(file, other, null);
            case ENOENT: return new NoSuchFileException(file, other, null);
            case EEXIST: return new FileAlreadyExistsException(file, other, null);
            // With NOFOLLOW_LINKS a final link is what fails.
            case ELOOP:
                return new FileSystemException(file, other, getMessage() + " or unable to access attributes of symbolic link");
            default: return new FileSystemException(file, other, getMessage());
        }
    }

    /**
     * {@link #forFile(String)} where the JDK reads a file's attributes, or
     * stats the source of a copy or move: a path through a file that is not a
     * directory names no file, on the JDK releases that say so.
     */
    FileSystemException forAttributesOf(String file) {
        if (errno == ENOTDIR && NOT_DIRECTORY_IS_MISSING) {
            return new NoSuchFileException(file);
        }
        return forFile(file);
    }

    /**
     * {@link #forFile(String)} where a directory is opened to be listed: a
     * file that is not one is a {@link NotDirectoryException}.
     */
    FileSystemException forDirectory(String dir) {
        return errno == ENOTDIR ? new NotDirectoryException(dir) : forFile(dir);
    }

    /**
     * The exception for this failure on {@code path} in the library's own
     * API: the table's, with the system's text kept, and, as that API
     * documents, a path through a file that is not a directory a
     * {@link NotDirectoryException}, {@code EPERM} an
     * {@link AccessDeniedException} and a directory not empty a
     * {@link DirectoryNotEmptyException}.
     */
    IOException forFile(byte[] path) {
        String file = FileNames.display(path);
        String text = getMessage();
        switch (errno) {
            case ENOENT: return new NoSuchFileException(file, null, text);
            case ENOTDIR: return new NotDirectoryException(file);
            case EACCES:
            case EPERM: return new AccessDeniedException(file, null, text);
            case ENOTEMPTY: return new DirectoryNotEmptyException(file);
            default: return forFile(file);
        }
    }
}
