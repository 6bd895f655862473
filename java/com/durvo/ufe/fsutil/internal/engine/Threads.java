package com.durvo.ufe.fsutil.internal.engine;

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
}
