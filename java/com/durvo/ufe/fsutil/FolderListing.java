package com.durvo.ufe.fsutil;

import com.durvo.ufe.fsutil.internal.names.NameBytes;
import com.durvo.ufe.fsutil.internal.engine.BatchIterator;
import com.durvo.ufe.fsutil.internal.engine.DirStream;
import com.durvo.ufe.fsutil.internal.engine.Walk;
import com.durvo.ufe.fsutil.internal.engine.WalkErrors;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Path;
import java.util.Iterator;
import java.util.Objects;
import java.util.Spliterator;
import java.util.Spliterators;
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
 * A listing is iterated as a {@link java.nio.file.DirectoryStream} is: one
 * iterator only, and none once the listing is closed ({@link #iterator()}
 * then throws {@link IllegalStateException}); after a close the iterator
 * delivers what it had read already and then ends. A listing holds an open
 * directory until it is closed or has delivered its last entry; close it
 * (try-with-resources, or close the {@link #stream()}) also when stopping
 * early. {@link #close()} may be called from any thread at any time: it
 * waits for a batch being read, and iteration then ends. A listing dropped
 * unclosed is closed once it is unreachable.
 *
 * <p>Every path may be given as a {@link Path} (of the default or the
 * {@code fsstat:} file system), as the library's string, or as its exact
 * bytes; the empty path is the working directory, as for {@code java.nio.file}.
 */
public final class FolderListing implements AutoCloseable, Iterable<ChildFile> {
    private final DirStream dir;
    private final WalkOptions options;
    private boolean started;
    /** Set by {@link #close()} alone: a listing that ran to its end released its directory but is not closed. */
    private volatile boolean closed;

    private FolderListing(DirStream dir, WalkOptions options) {
        this.dir = dir;
        this.options = options;
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
        return open(dir, WalkOptions.defaults());
    }

    /**
     * {@link #open(String)} reading each entry as {@code options} say (which attributes, whether links
     * are followed); the rest of the options are for walks.
     *
     * @param dir     the directory's path, as the library delivers names
     * @param options what to read
     * @return the open listing
     * @throws IOException as {@link #open(String)}
     */
    public static FolderListing open(String dir, WalkOptions options) throws IOException {
        return open(FileNames.toBytes(dir), options);
    }

    /**
     * Opens the directory whose path has these bytes, as {@link #open(String)}.
     *
     * @param dir the path's bytes
     * @return the open listing
     * @throws IOException as {@link #open(String)}
     */
    public static FolderListing open(byte[] dir) throws IOException {
        return open(dir, WalkOptions.defaults());
    }

    /**
     * {@link #open(byte[])} reading each entry as {@code options} say, as {@link #open(String, WalkOptions)}.
     *
     * @param dir     the path's bytes
     * @param options what to read
     * @return the open listing
     * @throws IOException as {@link #open(String)}
     */
    public static FolderListing open(byte[] dir, WalkOptions options) throws IOException {
        NameBytes.checkPath(dir);
        Objects.requireNonNull(options, "options");
        return new FolderListing(openRoot(dir.clone()), options);
    }

    /**
     * {@link #open(String)} of a {@link Path}: one of the {@code fsstat:} file system, which holds its exact
     * bytes, or of the default file system.
     *
     * @param dir the directory
     * @return the open listing
     * @throws IOException as {@link #open(String)}
     * @throws java.nio.file.ProviderMismatchException for a path of another file system
     */
    public static FolderListing open(Path dir) throws IOException {
        return open(dir, WalkOptions.defaults());
    }

    /**
     * {@link #open(Path)} reading each entry as {@code options} say, as {@link #open(String, WalkOptions)}.
     *
     * @param dir     the directory
     * @param options what to read
     * @return the open listing
     * @throws IOException as {@link #open(String)}
     * @throws java.nio.file.ProviderMismatchException for a path of another file system
     */
    public static FolderListing open(Path dir, WalkOptions options) throws IOException {
        return open(NameBytes.exactBytesOf(dir), options);
    }

    private static DirStream openRoot(byte[] path) throws IOException {
        try {
            return DirStream.open(path, 1);
        } catch (NativeErrno e) {
            throw e.forFile(path);
        }
    }

    /**
     * The entries in the order the file system gives them. A read error
     * mid-listing is thrown as an {@link UncheckedIOException}.
     *
     * @return the iterator
     * @throws IllegalStateException once the listing is closed, and on a second call
     */
    @Override
    public synchronized Iterator<ChildFile> iterator() {
        if (closed) {
            throw new IllegalStateException("the FolderListing is closed");
        }
        if (started) {
            throw new IllegalStateException("a FolderListing can be iterated once");
        }
        started = true;
        return new BatchIterator<>() {
            @Override
            protected ChildFile[] nextBatch() {
                ChildFile[] read;
                try {
                    read = dir.next(options.want, options.flags);
                } catch (NativeErrno e) {
                    dir.close();
                    throw new UncheckedIOException(e.forFile(dir.path));
                }
                if (read == null) {
                    dir.close();  // release the directory now rather than wait for close()
                }
                return read;
            }
        };
    }

    /**
     * The entries as a stream; closing the stream closes the listing.
     *
     * @return the stream
     * @throws IllegalStateException as {@link #iterator()}
     */
    public Stream<ChildFile> stream() {
        return StreamSupport.stream(Spliterators.spliteratorUnknownSize(iterator(),
                Spliterator.ORDERED | Spliterator.NONNULL), false).onClose(this::close);
    }

    /** Closes the directory; safe from any thread, and later calls do nothing. */
    @Override
    public void close() {
        closed = true;
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
     * <p>Several threads, a handler for those errors, a depth and more are
     * {@link WalkOptions}: {@link #walk(String, WalkOptions)}.
     *
     * @param root the directory to walk, as the library delivers names
     * @return the entries
     * @throws IOException when the root cannot be opened, as {@link #open(String)}
     */
    public static Stream<ChildFile> walk(String root) throws IOException {
        return walk(root, WalkOptions.defaults());
    }

    /**
     * Every entry below {@code root} as {@code options} say: which attributes, how deep, following links
     * or not, on one file system or not, which directories to enter, how many threads, where errors go.
     * Every directory is opened relative to its parent, so the walk reaches any depth and path length and
     * never leaves {@code root} through a link it was not asked to follow: a directory swapped for a link
     * meanwhile is reported, not entered. An entry of a directory that may be read but not searched is
     * delivered with its name and {@link ChildFile#attributeError()}. Closing the stream, from any thread,
     * ends the walk; a consuming thread interrupted while it waits for entries gets an
     * {@link UncheckedIOException} caused by an {@link java.io.InterruptedIOException}, never a stream
     * that ends early.
     *
     * @param root    the directory to walk, as the library delivers names
     * @param options how to walk
     * @return the entries
     * @throws IOException when the root cannot be opened, as {@link #open(String)}
     */
    public static Stream<ChildFile> walk(String root, WalkOptions options) throws IOException {
        return startWalk(FileNames.toBytes(root), options);
    }

    /**
     * {@link #walk(String)} from the directory whose path has these bytes.
     *
     * @param root the path's bytes
     * @return the entries
     * @throws IOException when the root cannot be opened, as {@link #open(String)}
     */
    public static Stream<ChildFile> walk(byte[] root) throws IOException {
        return walk(root, WalkOptions.defaults());
    }

    /**
     * {@link #walk(String, WalkOptions)} from the directory whose path has these bytes.
     *
     * @param root    the path's bytes
     * @param options how to walk
     * @return the entries
     * @throws IOException when the root cannot be opened, as {@link #open(String)}
     */
    public static Stream<ChildFile> walk(byte[] root, WalkOptions options) throws IOException {
        NameBytes.checkPath(root);
        return startWalk(root.clone(), options);
    }

    /**
     * {@link #walk(String)} from a {@link Path}, as {@link #walk(Path, WalkOptions)}.
     *
     * @param root the directory to walk
     * @return the entries
     * @throws IOException when the root cannot be opened, as {@link #open(String)}
     * @throws java.nio.file.ProviderMismatchException for a path of another file system
     */
    public static Stream<ChildFile> walk(Path root) throws IOException {
        return walk(root, WalkOptions.defaults());
    }

    /**
     * {@link #walk(String, WalkOptions)} from a {@link Path}: one of the {@code fsstat:} file
     * system, which holds its exact bytes, or of the default file system. Each entry's
     * {@link ChildFile#toPath()} is a path of the {@code fsstat:} file system.
     *
     * @param root    the directory to walk
     * @param options how to walk
     * @return the entries
     * @throws IOException when the root cannot be opened, as {@link #open(String)}
     * @throws java.nio.file.ProviderMismatchException for a path of another file system
     */
    public static Stream<ChildFile> walk(Path root, WalkOptions options) throws IOException {
        return startWalk(NameBytes.exactBytesOf(root), options);
    }

    private static Stream<ChildFile> startWalk(byte[] path, WalkOptions options) throws IOException {
        Objects.requireNonNull(options, "options");
        DirStream top = openRoot(path);
        if (options.maxDepth == 0) {
            top.close();
            return Stream.empty();
        }
        Walk walk = Walk.start(top, options.plan, new WalkErrors(options.onError));
        boolean ordered = options.threads == 1;
        return StreamSupport.stream(Spliterators.spliteratorUnknownSize(walk,
                ordered ? Spliterator.ORDERED | Spliterator.NONNULL : Spliterator.NONNULL), false)
                .onClose(walk::close);
    }
}
