package com.durvo.ufe.fsutil.internal.engine;

import com.durvo.ufe.fsutil.internal.natives.NativeConstants;

/**
 * Takes a walk's entries a batch at a time, as the listing natives read them,
 * for a consumer that keeps their values in arrays of its own: no entry is
 * made of a file the walk does not enter, which is most of them.
 */
public interface BatchSink {
    /**
     * {@code count} entries of the directory numbered {@code dir}: entry {@code i}'s values at
     * {@code values[i * ENTRY_LONGS..]} (see {@link NativeConstants}), its name the next
     * {@link NativeConstants#NAME_LENGTH} bytes of {@code names}; {@code entered[i]} the number the walk
     * gives it when it enters it, else 0. The walk's top directory is number 0, and each directory's number
     * comes in an {@code entered} before its own entries come. The arrays are read again for the next
     * batch once this returns.
     */
    void accept(int dir, int count, long[] values, byte[] names, int[] entered);
}
