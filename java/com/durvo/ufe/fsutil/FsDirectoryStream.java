package com.durvo.ufe.fsutil;

import java.io.IOException;
import java.nio.file.DirectoryIteratorException;
import java.nio.file.DirectoryStream;
import java.nio.file.Path;
import java.util.Iterator;
import java.util.NoSuchElementException;

/**
 * A directory of the {@code fsstat} file system read in batches by the
 * listing engine: each entry is the directory's path resolved against the
 * name's exact bytes. Closed from any thread, it reads as ended.
 */
final class FsDirectoryStream implements DirectoryStream<Path> {
    private final FsPath dir;
    private final Filter<? super Path> filter;
    private final DirStream stream;
    private volatile boolean closed;
    private boolean iterated;

    private FsDirectoryStream(FsPath dir, Filter<? super Path> filter, DirStream stream) {
        this.dir = dir;
        this.filter = filter;
        this.stream = stream;
    }

    static FsDirectoryStream open(FsPath dir, Filter<? super Path> filter) throws IOException {
        try {
            return new FsDirectoryStream(dir, filter, DirStream.open(dir.bytes(), 1));
        } catch (NativeErrno e) {
            throw e.forFile(dir.display());
        }
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
            private ChildFile[] batch = new ChildFile[0];
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
                    if (next == batch.length) {
                        read();
                        continue;
                    }
                    Path p = dir.resolve(batch[next++].nameBytes);
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
                DirStream.Batch b = DirStream.Batch.ofThread();
                try {
                    int n = stream.read(b);
                    batch = b.entries(stream, n);
                    next = 0;
                    ended = n == 0;
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
