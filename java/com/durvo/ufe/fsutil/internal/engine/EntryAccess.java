package com.durvo.ufe.fsutil.internal.engine;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.WalkOptions;
import java.io.IOException;
import java.util.function.Consumer;

/**
 * How the engine makes entries and reads their names and values, and how
 * other API packages read a walk's options, without the API making its
 * constructors and fields public: {@link ChildFile} hands its maker over here
 * when it is initialised.
 */
public final class EntryAccess {
    /** Makes and reads {@link ChildFile}s. */
    public interface Maker {
        /** An entry of a batch: the name at {@code names[from..from+length)}, the values at {@code values[at..]}. */
        ChildFile entry(byte[] parent, byte[] names, int from, int length, long[] values, int at, int depth, int want);

        /** The entry's name bytes themselves, not a copy: the engine only reads them. */
        byte[] nameBytes(ChildFile entry);

        /** What the walk engine reads of {@code options}. */
        WalkPlan plan(WalkOptions options);

        /** Where {@code options} send the errors of unreadable directories; null to throw them at the end. */
        Consumer<? super IOException> onError(WalkOptions options);
    }

    private static volatile Maker maker;

    private EntryAccess() {
    }

    /** Called once, by {@link ChildFile}'s initialiser. */
    public static void set(Maker m) {
        if (maker != null) {
            throw new IllegalStateException("entry maker already set");
        }
        maker = m;
    }

    public static Maker get() {
        Maker m = maker;
        if (m == null) {
            try {
                Class.forName(ChildFile.class.getName(), true, ChildFile.class.getClassLoader());
            } catch (ClassNotFoundException e) {
                throw new AssertionError(e);
            }
            m = maker;
        }
        return m;
    }
}
