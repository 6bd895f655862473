package com.durvo.ufe.fsutil.internal.engine;

import com.durvo.ufe.fsutil.ChildFile;
import java.io.IOException;
import java.util.Iterator;
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
     * {@link #start(DirStream, WalkPlan, WalkErrors)}, where with {@code sinks} not null each walking thread
     * hands the batches it reads to a sink of its own, got on that thread (the consuming one when the plan
     * has one thread), and the iterator only waits for the end and reports the errors.
     */
    static Walk start(DirStream top, WalkPlan plan, WalkErrors errors, Supplier<? extends BatchSink> sinks)
            throws IOException {
        Descent descent;
        try {
            descent = new Descent(plan, top);
        } catch (IOException e) {
            top.close();
            throw e;
        }
        return plan.threads() == 1 ? new TreeWalk(top, descent, errors, sinks == null ? null : sinks.get())
                : new ParallelWalk(top, descent, errors, sinks);
    }
}
