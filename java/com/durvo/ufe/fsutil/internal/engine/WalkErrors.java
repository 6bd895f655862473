package com.durvo.ufe.fsutil.internal.engine;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.util.ArrayList;
import java.util.List;
import java.util.function.Consumer;

/** Where a walk's unreadable subdirectories go: the caller's handler, or a list thrown at the end. */
public final class WalkErrors {
    private final Consumer<? super IOException> handler;
    private final List<IOException> kept = new ArrayList<>();

    public WalkErrors(Consumer<? super IOException> handler) {
        this.handler = handler;
    }

    public void report(IOException e) {
        if (handler != null) {
            handler.accept(e);
        } else {
            kept.add(e);
        }
    }

    /** At the end of the walk: throws what was kept. */
    public void finish() {
        if (kept.isEmpty()) {
            return;
        }
        UncheckedIOException first = new UncheckedIOException(kept.get(0));
        for (IOException e : kept.subList(1, kept.size())) {
            first.addSuppressed(e);
        }
        kept.clear();
        throw first;
    }
}
