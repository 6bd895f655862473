package com.durvo.ufe.fsutil.internal.engine;

import com.durvo.ufe.fsutil.ChildFile;
import java.io.IOException;
import java.util.Iterator;
import java.util.function.Consumer;
import java.util.function.Supplier;

/** A walk's iterator, which the stream's close ends. */
public interface Walk extends Iterator<ChildFile>, AutoCloseable {
    @Override
    void close();

    /**
     * Walks below {@code top}, which the walk then owns (closed here if the walk cannot start): in order on
     * the consuming thread, or with the plan's threads.
     */
    static Walk start(DirStream top, WalkPlan plan, WalkErrors errors) throws IOException {
        return start(top, plan, errors, null);
    }

    /**
     * {@link #start(DirStream, WalkPlan, WalkErrors)}, where with several threads and {@code sinks} not
     * null each thread puts the batches it reads into a sink of its own (see {@link ParallelWalk}); the
     * ordered walk delivers every entry through the iterator whatever {@code sinks} is.
     */
    static Walk start(DirStream top, WalkPlan plan, WalkErrors errors,
            Supplier<? extends Consumer<ChildFile[]>> sinks) throws IOException {
        Descent descent;
        try {
            descent = new Descent(plan, top);
        } catch (IOException e) {
            top.close();
            throw e;
        }
        return plan.threads() == 1 ? new TreeWalk(top, descent, errors) : new ParallelWalk(top, descent, errors, sinks);
    }
}
