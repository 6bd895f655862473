package com.durvo.ufe.fsutil;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.util.ArrayList;
import java.util.Iterator;
import java.util.List;
import java.util.NoSuchElementException;
import java.util.Spliterator;
import java.util.Spliterators;
import java.util.function.Consumer;
import java.util.stream.Stream;
import java.util.stream.StreamSupport;

/**
 * The entries of one directory with their {@code lstat} attributes, read from
 * the native library in batches, and recursive walks of a tree. Every entry
 * is listed whatever its type; "." and ".." never are, nor entries that
 * vanish before they are examined.
 *
 * <pre>{@code
 * try (FolderListing listing = FolderListing.open("/var/log")) {
 *     for (ChildFile f : listing) {
 *         System.out.println(f.modeString() + " " + FileNames.display(f.nameBytes()));
 *     }
 * }
 * }</pre>
 *
 * A listing can be iterated once. It holds an open directory until it is
 * closed or has delivered its last entry; close it (try-with-resources, or
 * close the {@link #stream()}) also when stopping early. {@link #close()} may
 * be called from any thread at any time: it waits for a batch being read,
 * and iteration then ends. A listing dropped unclosed is closed once it is
 * unreachable.
 */
public final class FolderListing implements AutoCloseable, Iterable<ChildFile> {
    private final DirStream dir;
    private boolean started;

    private FolderListing(DirStream dir) {
        this.dir = dir;
    }

    /**
     * Opens a directory for listing (a final symbolic link is followed).
     *
     * @param dir the directory's path, as the library delivers names
     * @return the open listing
     * @throws java.nio.file.NoSuchFileException   when there is no such file
     * @throws java.nio.file.NotDirectoryException when it is not a directory
     * @throws java.nio.file.AccessDeniedException when it may not be read
     * @throws IOException                          for any other failure, with the system's text
     * @throws java.nio.file.InvalidPathException  for a NUL or an unpaired surrogate
     */
    public static FolderListing open(String dir) throws IOException {
        FileNames.checkPath(dir);
        return open(NativeFs.pathBytes(dir), 1);
    }

    /**
     * Opens the directory whose path has these bytes, as {@link #open(String)}.
     *
     * @param dir the path's bytes
     * @return the open listing
     * @throws IOException as {@link #open(String)}
     */
    public static FolderListing open(byte[] dir) throws IOException {
        FileNames.checkPath(dir);
        return open(dir.clone(), 1);
    }

    private static FolderListing open(byte[] path, int depth) throws IOException {
        try {
            return new FolderListing(DirStream.open(path, depth));
        } catch (NativeErrno e) {
            throw e.forFile(path);
        }
    }

    /**
     * The entries in the order the file system gives them. A read error
     * mid-listing is thrown as an {@link UncheckedIOException}.
     *
     * @return the iterator
     * @throws IllegalStateException on a second call
     */
    @Override
    public Iterator<ChildFile> iterator() {
        if (started) {
            throw new IllegalStateException("a FolderListing can be iterated once");
        }
        started = true;
        return new Iterator<>() {
            private ChildFile[] entries = new ChildFile[0];
            private int next;

            @Override
            public boolean hasNext() {
                while (next == entries.length) {
                    DirStream.Batch batch = DirStream.Batch.ofThread();
                    int count;
                    try {
                        count = dir.read(batch);
                    } catch (NativeErrno e) {
                        close();
                        throw new UncheckedIOException(e.forFile(dir.path));
                    }
                    if (count == 0) {
                        close();  // release the directory now rather than wait for close()
                        return false;
                    }
                    entries = batch.entries(dir, count);
                    next = 0;
                }
                return true;
            }

            @Override
            public ChildFile next() {
                if (!hasNext()) {
                    throw new NoSuchElementException();
                }
                return entries[next++];
            }
        };
    }

    /**
     * The entries as a stream; closing the stream closes the listing.
     *
     * @return the stream
     */
    public Stream<ChildFile> stream() {
        return StreamSupport.stream(Spliterators.spliteratorUnknownSize(iterator(),
                Spliterator.ORDERED | Spliterator.NONNULL), false).onClose(this::close);
    }

    /** Closes the directory; safe from any thread, and later calls do nothing. */
    @Override
    public void close() {
        dir.close();
    }

    /**
     * Every entry below {@code root}, depth first, each directory just before
     * its entries (as {@code Files.walk}), the root itself not included.
     * Symbolic links are listed, never followed. Each entry knows its path
     * ({@link ChildFile#path()}, {@link ChildFile#pathBytes()}) and depth.
     * A subdirectory that cannot be read does not stop the walk: once every
     * other entry has been delivered, the stream throws an
     * {@link UncheckedIOException} with the first such error, later ones
     * suppressed. Close the stream to close every directory still open.
     *
     * @param root the directory to walk, as the library delivers names
     * @return the entries
     * @throws IOException when the root cannot be opened, as {@link #open(String)}
     */
    public static Stream<ChildFile> walk(String root) throws IOException {
        return walk(root, 1, null);
    }

    /**
     * {@link #walk(String)} with several threads reading directories at once;
     * with more than one, entries come in no particular order.
     *
     * @param root    the directory to walk
     * @param threads how many threads read directories (1 for the ordered walk)
     * @return the entries
     * @throws IOException when the root cannot be opened
     */
    public static Stream<ChildFile> walk(String root, int threads) throws IOException {
        return walk(root, threads, null);
    }

    /**
     * {@link #walk(String, int)} that hands each subdirectory that cannot be
     * read to {@code onError}, on the thread consuming the stream, and goes
     * on; the stream then throws nothing for them.
     *
     * @param root    the directory to walk
     * @param threads how many threads read directories
     * @param onError receives the error of each unreadable subdirectory; null
     *                to throw them at the end as {@link #walk(String)} does
     * @return the entries
     * @throws IOException when the root cannot be opened
     */
    public static Stream<ChildFile> walk(String root, int threads, Consumer<? super IOException> onError)
            throws IOException {
        FileNames.checkPath(root);
        if (threads < 1) {
            throw new IllegalArgumentException("threads must be at least 1: " + threads);
        }
        byte[] path = NativeFs.pathBytes(root);
        DirStream top;
        try {
            top = DirStream.open(path, 1);
        } catch (NativeErrno e) {
            throw e.forFile(path);
        }
        Errors errors = new Errors(onError);
        Walk walk = threads == 1 ? new TreeWalk(top, errors) : new ParallelWalk(top, threads, errors);
        return StreamSupport.stream(Spliterators.spliteratorUnknownSize(walk,
                threads == 1 ? Spliterator.ORDERED | Spliterator.NONNULL : Spliterator.NONNULL), false)
                .onClose(walk::close);
    }

    /** A walk's iterator, which the stream's close ends. */
    interface Walk extends Iterator<ChildFile>, AutoCloseable {
        @Override
        void close();
    }

    /** Where a walk's unreadable subdirectories go: the caller's handler, or a list thrown at the end. */
    static final class Errors {
        private final Consumer<? super IOException> handler;
        private final List<IOException> kept = new ArrayList<>();

        Errors(Consumer<? super IOException> handler) {
            this.handler = handler;
        }

        void report(IOException e) {
            if (handler != null) {
                handler.accept(e);
            } else {
                kept.add(e);
            }
        }

        /** At the end of the walk: throws what was kept. */
        void finish() {
            if (kept.isEmpty()) {
                return;
            }
            UncheckedIOException first = new UncheckedIOException(kept.get(0));
            for (IOException e : kept.subList(1, kept.size())) {
                first.addSuppressed(e);
            }
            kept.clear();
            throw first;
        }
    }
}
