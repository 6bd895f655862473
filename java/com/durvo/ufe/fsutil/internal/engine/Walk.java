package com.durvo.ufe.fsutil.internal.engine;

import com.durvo.ufe.fsutil.ChildFile;
import java.io.IOException;
import java.util.Iterator;

/** A walk's iterator, which the stream's close ends. */
public interface Walk extends Iterator<ChildFile>, AutoCloseable {
    @Override
    void close();

    /**
     * Walks below {@code top}, which the walk then owns (closed here if the walk cannot start): in order on
     * the consuming thread, or with the plan's threads.
     */
    static Walk start(DirStream top, WalkPlan plan, WalkErrors errors) throws IOException {
        Descent descent;
        try {
            descent = new Descent(plan, top);
        } catch (IOException e) {
            top.close();
            throw e;
        }
        return plan.threads() == 1 ? new TreeWalk(top, descent, errors) : new ParallelWalk(top, descent, errors);
    }
}
