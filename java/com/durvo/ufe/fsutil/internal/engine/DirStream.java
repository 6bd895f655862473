package com.durvo.ufe.fsutil.internal.engine;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.GuardedHandle;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import java.io.IOException;

/**
 * One open directory of the library, guarded against a close from another
 * thread (see {@link GuardedHandle}): once closed it reads as ended.
 */
public final class DirStream implements AutoCloseable {
    /** The directory's path, which its entries' paths start with. */
    public final byte[] path;
    /** The depth of its entries. */
    final int depth;
    /** The number a walk with a {@link BatchSink} gave it when it entered it; else 0. */
    final int number;
    private final GuardedHandle handle;
    /** The directory's device and inode, asked for only when a walk needs them. */
    private volatile long[] id;

    private DirStream(long handle, byte[] path, int depth, int number) {
        this.path = path;
        this.depth = depth;
        this.number = number;
        this.handle = new GuardedHandle(this, handle, Natives::closeDir);
    }

    /** Opens the directory at {@code path} (a final link is followed; the empty path is the working one). */
    public static DirStream open(byte[] path, int depth) throws NativeErrno {
        return new DirStream(Natives.openDir(Natives.sysPath(path)), path, depth, 0);
    }

    /**
     * The open directory {@code fd}, whose path is {@code path}. The stream owns {@code fd} from here on, so
     * its owner can make calls relative to it through {@link #whileOpen} (on failure {@code fd} is closed).
     */
    public static DirStream of(int fd, byte[] path, int depth) throws NativeErrno {
        return new DirStream(Natives.adoptDir(fd), path, depth, 0);
    }

    /** What {@link #whileOpen} runs. */
    public interface Held<T> {
        T run() throws NativeErrno;
    }

    /**
     * {@code held} run while this stays open (a close waits for it), as a call on the descriptor a stream
     * {@link #of} was made from needs; {@code whenClosed} once it is closed.
     */
    public <T> T whileOpen(Held<T> held, T whenClosed) throws NativeErrno {
        return handle.use(h -> held.run(), whenClosed);
    }

    /** The device and inode if {@link #identity()} was asked before, else null. */
    long[] knownIdentity() {
        return id;
    }

    /** The open directory's device and inode; null once it is closed (and they were never asked for). */
    long[] identity() throws NativeErrno {
        long[] known = id;
        if (known == null) {
            known = handle.use(h -> {
                long[] got = new long[2];
                Natives.identity(h, got);
                return got;
            }, null);
            id = known;
        }
        return known;
    }

    /**
     * {@link #identity()} for a walk: on failure this directory is closed and the failure named after it.
     */
    long[] identityOrClose() throws IOException {
        try {
            return identity();
        } catch (NativeErrno e) {
            close();
            throw e.forFile(path);
        }
    }

    /**
     * Opens {@code entry}, an entry of this directory whose path is {@code path}, relative to this one:
     * through a link only with {@link NativeConstants#FOLLOW} in {@code flags}; it keeps the walk's
     * {@code number}. Null once this is closed.
     */
    DirStream openChild(ChildFile entry, byte[] path, int flags, int number) throws NativeErrno {
        byte[] name = EntryAccess.get().nameBytes(entry);
        return handle.use(h -> new DirStream(Natives.openDirAt(h, name, flags), path, depth + 1, number), null);
    }

    /**
     * The next entries, read with the attributes {@code want} and the flags of {@link Natives#readDir};
     * null at the end or once closed.
     */
    public ChildFile[] next(int want, int flags) throws NativeErrno {
        Batch batch = Batch.OF_THREAD.get();
        int count = read(batch, want, flags);
        if (count == 0) {
            return null;
        }
        ChildFile[] children = new ChildFile[count];
        EntryAccess.Maker maker = EntryAccess.get();
        int name = 0;
        for (int i = 0; i < count; i++) {
            int at = i * NativeConstants.ENTRY_LONGS;
            int length = (int) batch.longs[at + NativeConstants.NAME_LENGTH];
            children[i] = maker.entry(path, batch.names, name, length, batch.longs, at, depth, want);
            name += length;
        }
        return children;
    }

    /** The directories of a batch handed to a sink that the walk enters, numbered from {@code first} on. */
    record Entering(ChildFile[] dirs, int first) {
    }

    /**
     * Reads the next entries, with the attributes and flags {@code descent} asks for, into {@code sink}; answers
     * those of them {@code descent} enters (of which alone entries are made), null at the end or once closed.
     */
    Entering nextInto(Descent descent, BatchSink sink) throws NativeErrno {
        Batch batch = Batch.OF_THREAD.get();
        int want = descent.options.want();
        int count = read(batch, want, descent.options.flags());
        if (count == 0) {
            return null;
        }
        ChildFile[] entered = new ChildFile[count];
        int entering = 0;
        if (depth < descent.options.maxDepth()) {
            EntryAccess.Maker maker = EntryAccess.get();
            int name = 0;
            for (int i = 0; i < count; i++) {
                int at = i * NativeConstants.ENTRY_LONGS;
                int length = (int) batch.longs[at + NativeConstants.NAME_LENGTH];
                if (StatValues.typeBits(StatValues.mode(batch.longs, at)) == NativeConstants.S_IFDIR
                        && (batch.longs[at + NativeConstants.HAVE] & NativeConstants.TYPE) != 0) {
                    ChildFile dir = maker.entry(path, batch.names, name, length, batch.longs, at, depth, want);
                    if (descent.enters(dir)) {
                        entered[i] = dir;
                        entering++;
                    }
                }
                name += length;
            }
        }
        ChildFile[] dirs = new ChildFile[entering];
        int[] numbers = new int[count];
        int first = entering == 0 ? 0 : descent.number(entering);
        for (int i = 0, k = 0; k < entering; i++) {
            if (entered[i] != null) {
                numbers[i] = first + k;
                dirs[k++] = entered[i];
            }
        }
        sink.accept(number, count, batch.longs, batch.names, numbers);
        return new Entering(dirs, first);
    }

    /** What takes a batch's names one by one: {@code length} bytes of {@code names} from {@code from}. */
    public interface Names {
        void accept(byte[] names, int from, int length);
    }

    /**
     * Hands the next entries' names to {@code each} without making entries of them; false at the end or
     * once closed.
     */
    public boolean nextNames(Names each) throws NativeErrno {
        Batch batch = Batch.OF_THREAD.get();
        int count = read(batch, NativeConstants.TYPE, 0);
        int name = 0;
        for (int i = 0; i < count; i++) {
            int length = (int) batch.longs[i * NativeConstants.ENTRY_LONGS + NativeConstants.NAME_LENGTH];
            each.accept(batch.names, name, length);
            name += length;
        }
        return count > 0;
    }

    private int read(Batch batch, int want, int flags) throws NativeErrno {
        return handle.use(h -> Natives.readDir(h, want, flags, batch.longs, batch.names), 0);
    }

    @Override
    public void close() {
        handle.close();
    }

    /**
     * Scratch arrays that one thread reads batches into. A batch is turned into entries right after it is
     * read, so the listings and walks of one thread share one.
     */
    private static final class Batch {
        private static final ThreadLocal<Batch> OF_THREAD = ThreadLocal.withInitial(Batch::new);
        private static final int ENTRIES = 128;
        // Room for a name of 255 bytes is kept free, so an entry read always fits.
        final long[] longs = new long[ENTRIES * NativeConstants.ENTRY_LONGS];
        final byte[] names = new byte[ENTRIES * 256];
    }
}
