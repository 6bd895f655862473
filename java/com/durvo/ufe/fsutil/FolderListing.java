package com.durvo.ufe.fsutil;

import java.util.Iterator;
import java.util.NoSuchElementException;
import java.util.Spliterator;
import java.util.Spliterators;
import java.util.stream.Stream;
import java.util.stream.StreamSupport;

/**
 * The entries of one directory, read one at a time from the native library
 * with their {@code lstat} attributes. "." and ".." are never listed, nor are
 * sockets and device files, nor entries that vanish before they are examined.
 *
 * <pre>{@code
 * try (FolderListing listing = FolderListing.open("/var/log")) {
 *     for (ChildFile f : listing) {
 *         System.out.println(f.modeString() + " " + FileNames.display(f.name()));
 *     }
 * }
 * }</pre>
 *
 * A listing can be iterated once. It holds an open directory stream until it
 * is closed or has delivered its last entry; close it (try-with-resources, or
 * close the {@link #stream()}) also when stopping early. Not for use by several
 * threads at once.
 */
public final class FolderListing implements AutoCloseable, Iterable<ChildFile> {
    private final String dir;
    private long handle = FolderIteratorNix.NO_HANDLE;
    private boolean started;
    private boolean closed;

    private FolderListing(String dir) {
        this.dir = dir;
    }

    /** A listing of {@code dir}; nothing is read until iteration starts. */
    public static FolderListing open(String dir) {
        if (dir == null) {
            throw new NullPointerException("dir");
        }
        return new FolderListing(dir);
    }

    /**
     * The entries in the order the file system gives them. A directory that
     * cannot be read (missing, not a directory, no permission) lists as empty.
     *
     * @throws IllegalStateException on a second call, or after close
     */
    @Override
    public Iterator<ChildFile> iterator() {
        if (started || closed) {
            throw new IllegalStateException("a FolderListing can be iterated once");
        }
        started = true;
        return new Iterator<>() {
            private ChildFile next = first();

            @Override
            public boolean hasNext() {
                return next != null;
            }

            @Override
            public ChildFile next() {
                if (next == null) {
                    throw new NoSuchElementException();
                }
                ChildFile current = next;
                next = following();
                return current;
            }
        };
    }

    /** The entries as a stream; closing the stream closes the listing. */
    public Stream<ChildFile> stream() {
        return StreamSupport.stream(Spliterators.spliteratorUnknownSize(iterator(),
                Spliterator.ORDERED | Spliterator.NONNULL), false).onClose(this::close);
    }

    private ChildFile first() {
        ChildFile child = new ChildFile();
        handle = FolderIteratorNix.getFirstFileN(dir, child);
        return handle == FolderIteratorNix.NO_HANDLE ? null : child;
    }

    private ChildFile following() {
        if (closed || handle == FolderIteratorNix.NO_HANDLE) {
            return null;
        }
        ChildFile child = new ChildFile();
        if (FolderIteratorNix.getNextFileN(handle, dir, child)) {
            return child;
        }
        close();  // the end: release the stream now rather than wait for close()
        return null;
    }

    /** Releases the directory stream; later calls do nothing. */
    @Override
    public void close() {
        if (closed) {
            return;
        }
        closed = true;
        if (handle != FolderIteratorNix.NO_HANDLE) {
            long open = handle;
            handle = FolderIteratorNix.NO_HANDLE;
            FolderIteratorNix.closeSearchHandleN(open);
        }
    }
}
