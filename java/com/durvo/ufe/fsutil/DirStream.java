package com.durvo.ufe.fsutil;

import java.lang.ref.Cleaner;
import java.util.concurrent.locks.ReentrantReadWriteLock;

/**
 * One open directory of the library. Reads take a read lock and closing the
 * write lock, so a close from another thread waits for a read in progress,
 * the handle is closed exactly once, and a closed stream reads as ended. A
 * stream dropped unclosed is closed by the cleaner.
 */
final class DirStream implements AutoCloseable {
    /** What the cleaner may hold: the handle and its lock, never the stream. */
    private static final class Handle implements Runnable {
        private final long handle;
        private final ReentrantReadWriteLock lock = new ReentrantReadWriteLock();
        private boolean closed;

        Handle(long handle) {
            this.handle = handle;
        }

        @Override
        public void run() {
            lock.writeLock().lock();
            try {
                if (!closed) {
                    closed = true;
                    NativeFs.closeDir(handle);
                }
            } finally {
                lock.writeLock().unlock();
            }
        }
    }

    /** The directory's path, which its entries' paths start with. */
    final byte[] path;
    /** The depth of its entries. */
    final int depth;
    private final Handle handle;
    private final Cleaner.Cleanable cleanable;

    private DirStream(long handle, byte[] path, int depth) {
        this.path = path;
        this.depth = depth;
        this.handle = new Handle(handle);
        this.cleanable = NativeFs.CLEANER.register(this, this.handle);
    }

    /** Opens the directory at {@code path} (a final link is followed). */
    static DirStream open(byte[] path, int depth) throws NativeErrno {
        return new DirStream(NativeFs.openDir(path), path, depth);
    }

    /** Opens {@code dir}, an entry of this directory, never through a link; null once this is closed. */
    DirStream openChild(ChildFile dir) throws NativeErrno {
        handle.lock.readLock().lock();
        try {
            if (handle.closed) {
                return null;
            }
            return new DirStream(NativeFs.openDirAt(handle.handle, dir.nameBytes), dir.pathBytes(), depth + 1);
        } finally {
            handle.lock.readLock().unlock();
        }
    }

    /** Reads the next batch into {@code batch}: its size, 0 at the end or once closed. */
    int read(Batch batch) throws NativeErrno {
        handle.lock.readLock().lock();
        try {
            return handle.closed ? 0 : NativeFs.readDir(handle.handle, batch.longs, batch.names);
        } finally {
            handle.lock.readLock().unlock();
        }
    }

    @Override
    public void close() {
        cleanable.clean();
    }

    /**
     * Scratch arrays that one thread reads batches into. A batch is turned
     * into entries right after it is read, so the listings and walks of one
     * thread can share one.
     */
    static final class Batch {
        private static final ThreadLocal<Batch> OF_THREAD = ThreadLocal.withInitial(Batch::new);
        private static final int ENTRIES = 128;
        // Room for a name of 255 bytes is kept free, so an entry read always fits.
        final long[] longs = new long[ENTRIES * NativeFs.ENTRY_LONGS];
        final byte[] names = new byte[ENTRIES * 256];

        /** This thread's batch. */
        static Batch ofThread() {
            return OF_THREAD.get();
        }

        /** The {@code count} entries just read from {@code dir}. */
        ChildFile[] entries(DirStream dir, int count) {
            ChildFile[] children = new ChildFile[count];
            int name = 0;
            for (int i = 0; i < count; i++) {
                int at = i * NativeFs.ENTRY_LONGS;
                int length = (int) longs[at + NativeFs.ENTRY_LONGS - 1];
                children[i] = new ChildFile(dir.path, names, name, length, longs, at, dir.depth);
                name += length;
            }
            return children;
        }
    }
}
