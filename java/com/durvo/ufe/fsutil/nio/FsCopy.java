package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import java.io.IOException;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.CopyOption;
import java.nio.file.DirectoryNotEmptyException;
import java.nio.file.DirectoryStream;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.Objects;

/**
 * Copy and move by the paths' bytes: a rename where it can be one, else a new
 * file of the source's kind, given the source's attributes through the open
 * copy's descriptor.
 */
final class FsCopy {
    private FsCopy() {
    }

    /** {@code Files.copy} of {@code s} to {@code t}. */
    static void copy(FsPath s, FsPath t, CopyOption... options) throws IOException {
        boolean replace = false;
        boolean attributes = false;
        boolean follow = true;
        for (CopyOption o : options) {
            if (o == StandardCopyOption.REPLACE_EXISTING) {
                replace = true;
            } else if (o == StandardCopyOption.COPY_ATTRIBUTES) {
                attributes = true;
            } else if (o == LinkOption.NOFOLLOW_LINKS) {
                follow = false;
            } else {
                throw new UnsupportedOperationException("Unsupported copy option: " + Objects.requireNonNull(o));
            }
        }
        // The source's values, failing as the JDK's attribute read does.
        long[] st = FsAttributes.stat(s, follow, NativeErrno::forAttributesOf);
        if (!prepareTarget(s, st, t, replace)) {
            return;
        }
        copyFile(s, st, t, follow, attributes);
    }

    /** {@code Files.move} of {@code s} to {@code t}: a rename, else a copy with every attribute and a delete. */
    static void move(FsPath s, FsPath t, CopyOption... options) throws IOException {
        FsFileSystemProvider provider = s.getFileSystem().provider();
        boolean replace = false;
        boolean atomic = false;
        for (CopyOption o : options) {
            if (o == StandardCopyOption.REPLACE_EXISTING) {
                replace = true;
            } else if (o == StandardCopyOption.ATOMIC_MOVE) {
                atomic = true;
            } else if (o != StandardCopyOption.COPY_ATTRIBUTES && o != LinkOption.NOFOLLOW_LINKS) {
                throw new UnsupportedOperationException("Unsupported copy option: " + Objects.requireNonNull(o));
            }
        }
        if (atomic) {
            try {
                Natives.rename(NativeConstants.CWD, s.bytes(), NativeConstants.CWD, t.bytes());
                return;
            } catch (NativeErrno e) {
                if (e.errno == NativeErrno.EXDEV) {
                    throw new AtomicMoveNotSupportedException(s.display(), t.display(), e.getMessage());
                }
                throw e.forFiles(s.display(), t.display());
            }
        }
        long[] st = FsAttributes.stat(s, false, NativeErrno::forAttributesOf);
        if (!prepareTarget(s, st, t, replace)) {
            return;
        }
        try {
            Natives.rename(NativeConstants.CWD, s.bytes(), NativeConstants.CWD, t.bytes());
            return;
        } catch (NativeErrno e) {
            if (e.errno != NativeErrno.EXDEV) {
                throw e.forFiles(s.display(), t.display());
            }
        }
        // Another file system: a copy with every attribute, then the source goes.
        if (StatValues.type(st) == ChildFile.Type.DIRECTORY) {
            try (DirectoryStream<Path> entries = provider.newDirectoryStream(s, e -> true)) {
                if (entries.iterator().hasNext()) {
                    throw new DirectoryNotEmptyException(s.display());
                }
            }
        }
        copyFile(s, st, t, false, true);
        try {
            provider.delete(s);
        } catch (IOException e) {
            try {
                provider.delete(t);
            } catch (IOException again) {
                e.addSuppressed(again);
            }
            throw e;
        }
    }

    /** Clears the way to {@code t}; false when {@code s} and {@code t} are the same file, so nothing is to be done. */
    private static boolean prepareTarget(FsPath s, long[] st, FsPath t, boolean replace) throws IOException {
        long[] tt = Natives.statOrNull(t.bytes());
        if (tt == null) {
            return true;
        }
        if (StatValues.sameFile(tt, st)) {
            return false;
        }
        if (!replace) {
            throw new FileAlreadyExistsException(t.display());
        }
        t.getFileSystem().provider().delete(t);
        return true;
    }

    /**
     * Makes {@code t} a copy of {@code s}, whose values {@code st} are (a link
     * followed when {@code follow}): a regular file with its data, a directory
     * empty, a link with the same target, anything else a new node of its kind;
     * with {@code attributes}, given the owner (where this process may give it),
     * mode, times and user attributes. These go to the descriptor of the copy
     * this call made, or where there is none (a link, a device, a directory it
     * may not read) by name without following a link, so nothing swapped in
     * for {@code t} meanwhile takes them.
     */
    private static void copyFile(FsPath s, long[] st, FsPath t, boolean follow, boolean attributes)
            throws IOException {
        ChildFile.Type type = StatValues.type(st);
        if (type == ChildFile.Type.REGULAR) {
            copyRegular(s, t, follow, attributes);
            return;
        }
        try {
            if (type == ChildFile.Type.DIRECTORY) {
                Natives.mkdir(NativeConstants.CWD, t.bytes(), StatValues.permissionBits(StatValues.mode(st, 0)));
            } else if (type == ChildFile.Type.SYMLINK) {
                Natives.symlink(Natives.readlink(NativeConstants.CWD, s.bytes()), NativeConstants.CWD, t.bytes());
            } else {
                // A FIFO, socket or device: a new node of the same kind, as cp makes one.
                Natives.mknod(NativeConstants.CWD, t.bytes(), StatValues.mode(st, 0), StatValues.rdev(st, 0));
            }
        } catch (NativeErrno e) {
            throw e.forFile(t.display());
        }
        if (!attributes) {
            return;
        }
        int from = -1;
        int to = -1;
        if (type == ChildFile.Type.DIRECTORY) {
            int options = NativeConstants.READ | NativeConstants.DIRECTORY | NativeConstants.NOFOLLOW;
            to = openOrNone(t, options);
            from = to >= 0 ? openOrNone(s, follow ? options & ~NativeConstants.NOFOLLOW : options) : -1;
        }
        try {
            copyAttributes(st, from, to, t);
        } finally {
            for (int fd : new int[] {from, to}) {
                if (fd >= 0) {
                    Natives.close(fd);
                }
            }
        }
    }

    /** The descriptor of {@code p} opened with {@code options}, or -1 when it cannot be opened. */
    private static int openOrNone(FsPath p, int options) {
        try {
            return (int) Natives.open(NativeConstants.CWD, p.bytes(), options, 0);
        } catch (NativeErrno e) {
            return -1;
        }
    }

    /**
     * A regular file's copy, as the JDK makes it: the data and every attribute
     * through the descriptors of the two open files, the attributes those of
     * the file opened (a link swapped in for {@code s} is refused when not
     * following); a copy that fails midway is removed.
     */
    private static void copyRegular(FsPath s, FsPath t, boolean follow, boolean attributes) throws IOException {
        long[] st = new long[NativeConstants.STATX_LONGS];
        int from;
        try {
            from = (int) Natives.open(NativeConstants.CWD, s.bytes(), NativeConstants.READ | (follow ? 0 : NativeConstants.NOFOLLOW), 0);
        } catch (NativeErrno e) {
            throw e.forFile(s.display());
        }
        try {
            int to;
            try {
                Natives.stat(from, new byte[0], true, st);
            } catch (NativeErrno e) {
                throw e.forFile(s.display());
            }
            try {
                to = (int) Natives.open(NativeConstants.CWD, t.bytes(), NativeConstants.WRITE | NativeConstants.CREATE_NEW,
                        StatValues.mode(st, 0) & 0777);  // set-id bits come with the attributes, after the owner
            } catch (NativeErrno e) {
                throw e.forFile(t.display());
            }
            boolean done = false;
            try {
                try {
                    Natives.copyData(from, to);
                } catch (NativeErrno e) {
                    throw e.forFiles(s.display(), t.display());
                }
                if (attributes) {
                    copyAttributes(st, from, to, t);
                }
                done = true;
            } finally {
                Natives.close(to);
                if (!done) {
                    try {
                        Natives.unlink(NativeConstants.CWD, t.bytes(), false);
                    } catch (NativeErrno e) {
                        // gone already
                    }
                }
            }
        } finally {
            Natives.close(from);
        }
    }

    /**
     * Gives the copy {@code t} the owner, mode, times and user attributes of
     * {@code st}: through {@code to}, the copy's descriptor, with the user
     * attributes read from {@code from}, the source's; where there is no
     * {@code to}, by name on {@code t} itself, never through a link (a link
     * keeps its mode, as it has none).
     */
    private static void copyAttributes(long[] st, int from, int to, FsPath t) throws IOException {
        int uid = StatValues.uid(st, 0);
        int gid = StatValues.gid(st, 0);
        int mode = StatValues.permissionBits(StatValues.mode(st, 0));
        long[] times = {StatValues.accessSeconds(st, 0), StatValues.accessNanos(st, 0),
            StatValues.modifiedSeconds(st, 0), StatValues.modifiedNanos(st, 0)};
        try {
            if (to >= 0) {
                Natives.fchown(to, uid, gid);
            } else {
                Natives.chown(NativeConstants.CWD, t.bytes(), uid, gid, false);
            }
        } catch (NativeErrno e) {
            // As the JDK: an owner this process may not give is left as it is.
        }
        try {
            if (to >= 0) {
                Natives.fchmod(to, mode);
                if (from >= 0) {
                    FsUserAttributes.copy(from, to);
                }
                Natives.futimens(to, times);
            } else {
                if (StatValues.type(st) != ChildFile.Type.SYMLINK) {
                    Natives.chmod(NativeConstants.CWD, t.bytes(), mode, false);
                }
                Natives.utimens(NativeConstants.CWD, t.bytes(), times, false);
            }
        } catch (NativeErrno e) {
            throw e.forFile(t.display());
        }
    }
}
