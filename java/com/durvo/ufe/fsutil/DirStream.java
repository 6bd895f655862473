package com.durvo.ufe.fsutil;

/**
 * One open directory of the library, guarded against a close from another
 * thread (see {@link GuardedHandle}): once closed it reads as ended.
 */
final class DirStream implements AutoCloseable {
    /** The directory's path, which its entries' paths start with. */
    final byte[] path;
    /** The depth of its entries. */
    final int depth;
    private final GuardedHandle handle;

    private DirStream(long handle, byte[] path, int depth) {
        this.path = path;
        this.depth = depth;
        this.handle = new GuardedHandle(this, handle, NativeFs::closeDir);
    }

    /** Opens the directory at {@code path} (a final link is followed). */
    static DirStream open(byte[] path, int depth) throws NativeErrno {
        return new DirStream(NativeFs.openDir(path), path, depth);
    }

    /** Opens {@code dir}, an entry of this directory, never through a link; null once this is closed. */
    DirStream openChild(ChildFile dir) throws NativeErrno {
        return handle.use(h -> new DirStream(NativeFs.openDirAt(h, dir.nameBytes), dir.pathBytes(), depth + 1), null);
    }

    /** Reads the next batch into {@code batch}: its size, 0 at the end or once closed. */
    int read(Batch batch) throws NativeErrno {
        return handle.use(h -> NativeFs.readDir(h, batch.longs, batch.names), 0);
    }

    @Override
    public void close() {
        handle.close();
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
        final long[] longs = new long[ENTRIES * EntryLayout.ENTRY_LONGS];
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
                int at = i * EntryLayout.ENTRY_LONGS;
                int length = (int) longs[at + EntryLayout.NAME_LENGTH];
                children[i] = new ChildFile(dir.path, names, name, length, longs, at, dir.depth);
                name += length;
            }
            return children;
        }
    }
}
