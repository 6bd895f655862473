package com.durvo.ufe.fsutil.internal.natives;

import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.FsFiles;
import java.io.IOException;
import java.nio.file.AccessDeniedException;
import java.nio.file.DirectoryNotEmptyException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystemException;
import java.nio.file.NoSuchFileException;
import java.nio.file.NotDirectoryException;

/**
 * A failed system call in a native of {@link Natives} or {@link Natives}:
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
public final class NativeErrno extends Exception {
    private static final long serialVersionUID = 1L;

    // The values the code tells apart, shared with the natives through NativeConstants.
    static final int EPERM = NativeConstants.EPERM;
    static final int ENOENT = NativeConstants.ENOENT;
    static final int EACCES = NativeConstants.EACCES;
    public static final int EEXIST = NativeConstants.EEXIST;
    public static final int EXDEV = NativeConstants.EXDEV;
    static final int ENOTDIR = NativeConstants.ENOTDIR;
    public static final int EINVAL = NativeConstants.EINVAL;
    public static final int ENOTEMPTY = NativeConstants.ENOTEMPTY;
    public static final int ELOOP = NativeConstants.ELOOP;
    public static final int ENODATA = NativeConstants.ENODATA;

    /**
     * Whether the running JDK reports a path through a file that is not a
     * directory as a missing file where it reads attributes (JDK 25 on; before,
     * "Not a directory").
     */
    private static final boolean NOT_DIRECTORY_IS_MISSING = Runtime.version().feature() >= 25;

    public final int errno;

    NativeErrno(int errno, String text) {
        super(text, null, false, false);
        this.errno = errno;
    }

    /** The exception for this failure on {@code file} (a path in display form), as the JDK's provider throws it. */
    public FileSystemException forFile(String file) {
        return forFiles(file, null);
    }

    /** {@link #forFile(String)} for an operation on {@code file} and {@code other}. */
    public FileSystemException forFiles(String file, String other) {
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

    /** The exception for a failed call that names no file (a lookup, an inotify instance): the system's text. */
    public IOException withoutFile() {
        return new IOException(getMessage());
    }

    /**
     * {@link #forFile(String)} where the JDK reads a file's attributes, or
     * stats the source of a copy or move: a path through a file that is not a
     * directory names no file, on the JDK releases that say so.
     */
    public FileSystemException forAttributesOf(String file) {
        if (errno == ENOTDIR && NOT_DIRECTORY_IS_MISSING) {
            return new NoSuchFileException(file);
        }
        return forFile(file);
    }

    /**
     * {@link #forFile(String)} where a directory is opened to be listed: a
     * file that is not one is a {@link NotDirectoryException}.
     */
    public FileSystemException forDirectory(String dir) {
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
    public IOException forFile(byte[] path) {
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
