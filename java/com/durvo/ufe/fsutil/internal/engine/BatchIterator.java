package com.durvo.ufe.fsutil.internal.engine;

import java.util.Iterator;
import java.util.NoSuchElementException;

/**
 * An iterator over entries that arrive in batches, as the listing natives
 * read them: a subclass says how the next batch comes.
 */
public abstract class BatchIterator<T> implements Iterator<T> {
    private T[] batch;
    private int next;

    /** The next batch, never empty; null once there is none. */
    protected abstract T[] nextBatch();

    @Override
    public final boolean hasNext() {
        while (batch == null || next == batch.length) {
            T[] read = nextBatch();
            if (read == null) {
                return false;
            }
            batch = read;
            next = 0;
        }
        return true;
    }

    @Override
    public final T next() {
        if (!hasNext()) {
            throw new NoSuchElementException();
        }
        return batch[next++];
    }
}
