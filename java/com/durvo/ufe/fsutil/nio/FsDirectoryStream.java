package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.engine.DirStream;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import java.io.IOException;
import java.nio.channels.SeekableByteChannel;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.ClosedDirectoryStreamException;
import java.nio.file.DirectoryNotEmptyException;
import java.nio.file.DirectoryIteratorException;
import java.nio.file.LinkOption;
import java.nio.file.OpenOption;
import java.nio.file.Path;
import java.nio.file.ProviderMismatchException;
import java.nio.file.SecureDirectoryStream;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.FileAttributeView;
import java.util.ArrayList;
import java.util.Iterator;
import java.util.List;
import java.util.NoSuchElementException;
import java.util.Objects;
import java.util.Set;

/**
 * An open directory of the {@code fsstat} file system. Its entries are read
 * in batches by the listing engine, each given as the directory's path
 * resolved against the name's exact bytes. Every operation on a relative
 * path works relative to the open directory ({@code openat}, {@code unlinkat},
 * {@code renameat}, ...) through the descriptor that the entries are read
 * from, so a stream holds one descriptor; it reaches files whatever the length
 * of their whole path, and a directory renamed or replaced meanwhile does not redirect
 * it. Closed from any thread, it reads as ended and refuses every operation
 * with {@link ClosedDirectoryStreamException}.
 */
final class FsDirectoryStream implements SecureDirectoryStream<Path> {
    private static final Object CLOSED = new Object();

    private final FsPath dir;
    private final Filter<? super Path> filter;
    /** The open directory's descriptor, for the operations relative to it; {@link #stream} owns it. */
    private final int fd;
    /** The listing engine's stream of the directory, for the entries and to hold {@link #fd} open. */
    private final DirStream stream;
    private volatile boolean closed;
    private boolean iterated;

    private FsDirectoryStream(FsPath dir, Filter<? super Path> filter, int fd) throws NativeErrno {
        this.dir = dir;
        this.filter = filter;
        this.fd = fd;
        this.stream = DirStream.of(fd, dir.bytes(), 1);
    }

    /** Opens dir (a final link followed unless {@code follow} is false) at {@code place}, listing it as {@code dir}. */
    static FsDirectoryStream open(FsPath dir, FsPlace place, boolean follow, Filter<? super Path> filter)
            throws IOException {
        int options = NativeConstants.READ | NativeConstants.DIRECTORY | (follow ? 0 : NativeConstants.NOFOLLOW);
        int fd = (int) (long) place.call((dfd, p) -> Natives.open(dfd, p, options, 0), NativeErrno::forDirectory);
        try {
            return new FsDirectoryStream(dir, filter, fd);
        } catch (NativeErrno e) {
            throw e.forFile(place.display());
        }
    }

    static FsDirectoryStream open(FsPath dir, Filter<? super Path> filter) throws IOException {
        return open(dir, FsPlace.of(dir), true, filter);
    }

    /**
     * The place of {@code path} relative to this directory (an absolute path
     * stands for itself). Failures name the path as given, as the JDK's
     * stream names it.
     */
    private FsPlace at(Path path) {
        FsPath p = FsPath.of(path);
        return new FsPlace() {
            @Override
            <T> T call(Call<T> c, Failure failure) throws IOException {
                Object result;
                try {
                    result = stream.whileOpen(() -> c.apply(fd, p.exactBytes()), CLOSED);
                } catch (NativeErrno e) {
                    throw failure.of(e, display());
                }
                if (result == CLOSED) {
                    throw new ClosedDirectoryStreamException();
                }
                @SuppressWarnings("unchecked")
                T t = (T) result;
                return t;
            }

            @Override
            public String toString() {
                return dir.resolve(p.bytes()).toString();
            }

            @Override
            String display() {
                return p.display();
            }
        };
    }

    @Override
    public SecureDirectoryStream<Path> newDirectoryStream(Path path, LinkOption... options) throws IOException {
        return open(dir.resolve(FsPath.of(path).exactBytes()), at(path), FsFileSystemProvider.follows(options),
                e -> true);
    }

    @Override
    public SeekableByteChannel newByteChannel(Path path, Set<? extends OpenOption> options, FileAttribute<?>... attrs)
            throws IOException {
        return FsChannels.open(at(path), options, attrs);
    }

    @Override
    public void deleteFile(Path path) throws IOException {
        at(path).call((dfd, p) -> {
            Natives.unlink(dfd, p, false);
            return null;
        });
    }

    /** As the JDK's stream: a directory not empty is a {@link DirectoryNotEmptyException} naming no file. */
    @Override
    public void deleteDirectory(Path path) throws IOException {
        at(path).call((dfd, p) -> {
            Natives.unlink(dfd, p, true);
            return null;
        }, (e, file) -> e.errno == NativeErrno.ENOTEMPTY || e.errno == NativeErrno.EEXIST
                ? new DirectoryNotEmptyException(null) : e.forFile(file));
    }

    /** renameat from this directory to {@code targetdir}: both stay open throughout. */
    @Override
    public void move(Path srcpath, SecureDirectoryStream<Path> targetdir, Path targetpath) throws IOException {
        byte[] from = FsPath.of(srcpath).exactBytes();
        byte[] to = FsPath.of(targetpath).exactBytes();
        if (!(Objects.requireNonNull(targetdir, "targetdir") instanceof FsDirectoryStream)) {
            throw new ProviderMismatchException("a directory stream of the fsstat: file system is needed, not "
                    + targetdir.getClass().getName());
        }
        FsDirectoryStream target = (FsDirectoryStream) targetdir;
        Object moved;
        try {
            moved = stream.whileOpen(() -> target.stream.whileOpen(() -> {
                Natives.rename(fd, from, target.fd, to);
                return Boolean.TRUE;
            }, CLOSED), CLOSED);
        } catch (NativeErrno e) {
            if (e.errno == NativeErrno.EXDEV) {
                throw new AtomicMoveNotSupportedException(at(srcpath).display(), target.at(targetpath).display(),
                        e.getMessage());
            }
            throw e.forFiles(at(srcpath).display(), target.at(targetpath).display());
        }
        if (moved == CLOSED) {
            throw new ClosedDirectoryStreamException();
        }
    }

    /** The attributes of the open directory itself. */
    @Override
    public <V extends FileAttributeView> V getFileAttributeView(Class<V> type) {
        return FsAttributeViews.view(at(dir.getFileSystem().getPath(".")), type, true);
    }

    @Override
    public <V extends FileAttributeView> V getFileAttributeView(Path path, Class<V> type, LinkOption... options) {
        return FsAttributeViews.view(at(path), type, FsFileSystemProvider.follows(options));
    }

    @Override
    public synchronized Iterator<Path> iterator() {
        if (closed) {
            throw new IllegalStateException("Directory stream is closed");
        }
        if (iterated) {
            throw new IllegalStateException("Iterator already obtained");
        }
        iterated = true;
        return new Iterator<>() {
            private final List<Path> batch = new ArrayList<>();
            private int next;
            private Path ahead;
            private boolean ended;

            @Override
            public boolean hasNext() {
                while (ahead == null && !ended) {
                    if (closed) {
                        ended = true;
                        break;
                    }
                    if (next == batch.size()) {
                        read();
                        continue;
                    }
                    Path p = batch.get(next++);
                    try {
                        if (filter.accept(p)) {
                            ahead = p;
                        }
                    } catch (IOException e) {
                        throw new DirectoryIteratorException(e);
                    }
                }
                return ahead != null;
            }

            private void read() {
                batch.clear();
                next = 0;
                try {
                    // Names alone: a Path needs nothing else from the entry.
                    ended = !stream.nextNames((names, from, length) -> batch.add(dir.child(names, from, length)));
                } catch (NativeErrno e) {
                    ended = true;
                    throw new DirectoryIteratorException(e.forFile(dir.display()));
                }
            }

            @Override
            public Path next() {
                if (!hasNext()) {
                    throw new NoSuchElementException();
                }
                Path p = ahead;
                ahead = null;
                return p;
            }
        };
    }

    @Override
    public void close() {
        closed = true;
        stream.close();
    }
}
