package com.durvo.ufe.fsutil.internal.engine;

import java.util.function.IntConsumer;

/** What the library's own background threads share. */
public final class Threads {
    private Threads() {
    }

    /**
     * Waits for {@code thread}, which its owner has told to end, however
     * often the caller is interrupted meanwhile; the interrupt is kept for
     * the caller.
     */
    public static void joinUninterruptibly(Thread thread) {
        boolean interrupted = false;
        while (thread.isAlive()) {
            try {
                thread.join();
            } catch (InterruptedException e) {
                interrupted = true;
            }
        }
        if (interrupted) {
            Thread.currentThread().interrupt();
        }
    }

    /**
     * Runs {@code task} for 0 to {@code n - 1} at once, 0 on the calling thread and each other on a thread
     * of its own, and returns when all have ended; a task's failure is thrown here once all have ended.
     */
    public static void inParallel(int n, IntConsumer task) {
        Thread[] others = new Thread[n - 1];
        Throwable[] failed = new Throwable[n];
        for (int k = 1; k < n; k++) {
            int which = k;
            others[k - 1] = new Thread(() -> {
                try {
                    task.accept(which);
                } catch (Throwable t) {
                    failed[which] = t;
                }
            }, "fsstat worker " + k);
            others[k - 1].setDaemon(true);
            others[k - 1].start();
        }
        try {
            task.accept(0);
        } catch (RuntimeException | Error e) {
            failed[0] = e;
        }
        for (Thread t : others) {
            joinUninterruptibly(t);
        }
        for (Throwable t : failed) {
            if (t instanceof RuntimeException r) {
                throw r;
            } else if (t instanceof Error e) {
                throw e;
            } else if (t != null) {
                throw new IllegalStateException(t);
            }
        }
    }
}
