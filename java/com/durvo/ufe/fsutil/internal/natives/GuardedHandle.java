package com.durvo.ufe.fsutil.internal.natives;

import java.lang.ref.Cleaner;
import java.util.concurrent.locks.ReentrantReadWriteLock;
import java.util.function.LongConsumer;

/**
 * A native handle (an open directory, a descriptor) that one thread uses and
 * any thread may close. Each use takes a read lock and closing the write
 * lock, so a close waits for a use in progress and the handle is closed
 * exactly once: no use ever reaches a closed handle, or a descriptor number
 * the process has since given to another file. An owner dropped unclosed is
 * closed by the cleaner, which holds the handle's state, never the owner.
 */
public final class GuardedHandle {
    /** What a use does with the open handle. */
    public interface Use<T> {
        T apply(long handle) throws NativeErrno;
    }

    private static final class State implements Runnable {
        private final long handle;
        private final LongConsumer closer;
        private final ReentrantReadWriteLock lock = new ReentrantReadWriteLock();
        private boolean closed;

        State(long handle, LongConsumer closer) {
            this.handle = handle;
            this.closer = closer;
        }

        @Override
        public void run() {
            lock.writeLock().lock();
            try {
                if (!closed) {
                    closed = true;
                    closer.accept(handle);
                }
            } finally {
                lock.writeLock().unlock();
            }
        }
    }

    private final State state;
    private final Cleaner.Cleanable cleanable;

    /** Guards {@code handle} for {@code owner}; {@code closer} must not refer to the owner. */
    public GuardedHandle(Object owner, long handle, LongConsumer closer) {
        state = new State(handle, closer);
        cleanable = Natives.CLEANER.register(owner, state);
    }

    /** {@code use} applied to the open handle; {@code whenClosed} once it is closed. */
    public <T> T use(Use<T> use, T whenClosed) throws NativeErrno {
        state.lock.readLock().lock();
        try {
            return state.closed ? whenClosed : use.apply(state.handle);
        } finally {
            state.lock.readLock().unlock();
        }
    }

    /** Closes the handle; safe from any thread, and later calls do nothing. */
    public void close() {
        cleanable.clean();
    }
}
