package com.durvo.ufe.fsutil.internal.engine;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.EntryAttribute;
import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import java.io.IOException;
import java.nio.file.FileSystemException;
import java.nio.file.FileSystemLoopException;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * What both walks decide about a directory they meet: whether to enter it,
 * and, once it is open, whether to read it. A directory is always opened
 * relative to its open parent, so no walk leaves its root through a link it
 * was not asked to follow, whatever is renamed or swapped meanwhile.
 */
public final class Descent {
    /** The directories above one being entered, its parent included, for the loop check (which follows
     * links only, so their identities are known). */
    interface Ancestors {
        boolean contain(long dev, long ino);
    }

    final WalkPlan options;
    private final long rootDev;
    /** The directories numbered so far, for a walk with a {@link BatchSink}. */
    private final AtomicInteger numbered = new AtomicInteger();

    /** The root's device and inode are asked for only when the options need them. */
    public Descent(WalkPlan options, DirStream root) throws IOException {
        this.options = options;
        long[] id = null;
        if (options.sameFileSystem() || options.followLinks()) {
            try {
                id = root.identity();
            } catch (NativeErrno e) {
                throw e.forFile(root.path);
            }
        }
        this.rootDev = id == null ? 0 : id[0];
    }

    /** Numbers {@code n} directories to be entered: answers the first number, the next following it. */
    int number(int n) {
        return numbered.getAndAdd(n) + 1;
    }

    /** Whether to enter {@code entry}, judged before anything is opened. */
    boolean enters(ChildFile entry) {
        if (!entry.isDirectory() || entry.depth() >= options.maxDepth()) {
            return false;
        }
        if (options.sameFileSystem() && entry.has(EntryAttribute.DEVICE) && entry.device() != rootDev) {
            return false;
        }
        return options.directoryFilter() == null || options.directoryFilter().test(entry);
    }

    /**
     * Opens {@code entry} of {@code parent} for reading, under the walk's {@code number}; null when it is not
     * to be read after all (on another file system) or {@code parent} was closed meanwhile.
     */
    DirStream open(DirStream parent, ChildFile entry, int number, Ancestors above) throws IOException {
        byte[] path = entry.pathBytes();
        DirStream dir;
        try {
            dir = parent.openChild(entry, path, options.flags(), number);
        } catch (NativeErrno e) {
            if (e.errno == NativeErrno.ELOOP && !options.followLinks()) {
                throw new FileSystemException(FileNames.display(path), null,
                        "a symbolic link now, where a directory was listed; not followed");
            }
            throw e.forFile(path);
        }
        if (dir == null || !(options.sameFileSystem() || options.followLinks())) {
            return dir;
        }
        long[] id = dir.identityOrClose();
        if (id == null || (options.sameFileSystem() && id[0] != rootDev)) {
            dir.close();
            return null;
        }
        if (options.followLinks() && above.contain(id[0], id[1])) {
            dir.close();
            throw new FileSystemLoopException(FileNames.display(path));
        }
        return dir;
    }
}
