package com.durvo.ufe.fsutil;

import java.io.IOException;
import java.lang.ref.Cleaner;
import java.util.ArrayList;
import java.util.List;
import java.util.NoSuchElementException;
import java.util.concurrent.ArrayBlockingQueue;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingDeque;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * The walk with several threads: each takes a directory, reads it and queues
 * its subdirectories (newest first, so the walk stays deep and the queue
 * short), and hands its entries to the consuming thread in batches. A queued
 * directory is opened by its full path. Closing, or dropping the walk
 * unclosed, stops the threads, which close what they have open.
 */
final class ParallelWalk implements FolderListing.Walk {
    private static final Object END = new Object();

    /** What the worker threads share; never the walk itself, so that the cleaner can see it dropped. */
    private static final class Shared implements Runnable {
        final LinkedBlockingDeque<Object> dirs = new LinkedBlockingDeque<>();  // DirStream or ChildFile
        final AtomicInteger unfinished = new AtomicInteger(1);
        final BlockingQueue<Object> out = new ArrayBlockingQueue<>(64);     // ChildFile[], IOException, END
        final List<Thread> threads = new ArrayList<>();
        volatile boolean closed;

        void work() {
            DirStream.Batch batch = DirStream.Batch.ofThread();
            try {
                while (!closed) {
                    Object task = dirs.pollFirst(20, TimeUnit.MILLISECONDS);
                    if (task == null) {
                        if (unfinished.get() == 0) {
                            return;
                        }
                        continue;
                    }
                    try {
                        list(task, batch);
                    } finally {
                        // Once closed nobody waits for the end, and a full queue would never drain.
                        if (unfinished.decrementAndGet() == 0 && !closed) {
                            out.put(END);
                        }
                    }
                }
            } catch (InterruptedException e) {
                // closed: leave
            }
        }

        private void list(Object task, DirStream.Batch batch) throws InterruptedException {
            DirStream dir;
            if (task instanceof DirStream) {
                dir = (DirStream) task;
            } else {
                ChildFile d = (ChildFile) task;
                try {
                    dir = DirStream.open(d.pathBytes(), d.depth() + 1);
                } catch (NativeErrno e) {
                    out.put(e.forFile(d.pathBytes()));
                    return;
                }
            }
            try {
                int count;
                while (!closed && (count = dir.read(batch)) > 0) {
                    ChildFile[] entries = batch.entries(dir, count);
                    for (ChildFile f : entries) {
                        if (f.isDirectory()) {
                            unfinished.incrementAndGet();
                            dirs.addFirst(f);
                        }
                    }
                    out.put(entries);
                }
            } catch (NativeErrno e) {
                out.put(e.forFile(dir.path));
            } finally {
                dir.close();
            }
        }

        @Override
        public void run() {
            closed = true;
            for (Thread t : threads) {
                t.interrupt();
            }
            Object d;
            while ((d = dirs.poll()) != null) {
                if (d instanceof DirStream) {
                    ((DirStream) d).close();
                }
            }
        }
    }

    private final Shared shared = new Shared();
    private final Cleaner.Cleanable cleanable;
    private final FolderListing.Errors errors;
    private ChildFile[] entries = new ChildFile[0];
    private int next;
    private boolean ended;

    ParallelWalk(DirStream root, int threads, FolderListing.Errors errors) {
        this.errors = errors;
        shared.dirs.add(root);
        Shared s = shared;
        for (int i = 0; i < threads; i++) {
            Thread t = new Thread(s::work, "fsstat-walk-" + i);
            t.setDaemon(true);
            s.threads.add(t);
        }
        cleanable = NativeFs.CLEANER.register(this, s);
        for (Thread t : s.threads) {
            t.start();
        }
    }

    @Override
    public boolean hasNext() {
        while (next == entries.length) {
            if (ended || shared.closed) {
                return false;
            }
            Object item;
            try {
                item = shared.out.take();
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                close();
                return false;
            }
            if (item == END) {
                ended = true;
                close();
                errors.finish();
                return false;
            }
            if (item instanceof IOException) {
                errors.report((IOException) item);
            } else {
                entries = (ChildFile[]) item;
                next = 0;
            }
        }
        return true;
    }

    @Override
    public ChildFile next() {
        if (!hasNext()) {
            throw new NoSuchElementException();
        }
        return entries[next++];
    }

    /** Stops the threads and waits until they have closed their directories. */
    @Override
    public void close() {
        cleanable.clean();
        for (Thread t : shared.threads) {
            if (t != Thread.currentThread()) {
                try {
                    t.join();
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                    return;
                }
            }
        }
    }
}
