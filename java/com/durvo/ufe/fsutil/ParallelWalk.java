package com.durvo.ufe.fsutil;

import java.io.IOException;
import java.lang.ref.Cleaner;
import java.util.ArrayList;
import java.util.List;
import java.util.NoSuchElementException;
import java.util.concurrent.ArrayBlockingQueue;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingDeque;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * The walk with several threads: each takes a directory, reads it and queues
 * its subdirectories (newest first, so the walk stays deep and the queue
 * short), and hands its entries to the consuming thread some hundreds at a
 * time, since every hand-over may wake a sleeping thread. A queued directory
 * is opened by its full path. Closing, or dropping the walk unclosed, stops
 * the threads, which close what they have open.
 */
final class ParallelWalk implements FolderListing.Walk {
    private static final Object END = new Object();
    /** Queued once per thread when no directory is left: wakes and ends it. */
    private static final Object STOP = new Object();
    /** Entries a thread gathers before it hands them over (or sooner, before it waits). */
    private static final int HANDOVER = 1024;

    /** What the worker threads share; never the walk itself, so that the cleaner can see it dropped. */
    private static final class Shared implements Runnable {
        final LinkedBlockingDeque<Object> dirs = new LinkedBlockingDeque<>();  // DirStream, ChildFile or STOP
        final AtomicInteger unfinished = new AtomicInteger(1);                // directories queued or being read
        final AtomicInteger working = new AtomicInteger();                    // threads not yet ended
        final BlockingQueue<Object> out = new ArrayBlockingQueue<>(16);      // ChildFile[], IOException, END, or
                                                                              // a thread's own failure
        final List<Thread> threads = new ArrayList<>();
        volatile boolean closed;

        void work() {
            try {
                try {
                    walk();
                } catch (RuntimeException | Error e) {
                    // Not the file system's failure but the walk's: the consuming thread throws it rather
                    // than wait forever for this thread's end.
                    out.put(e);
                }
            } catch (InterruptedException e) {
                // closed: leave
            }
        }

        private void walk() throws InterruptedException {
            DirStream.Batch batch = DirStream.Batch.ofThread();
            List<ChildFile> gathered = new ArrayList<>(HANDOVER + 128);
            while (!closed) {
                Object task = dirs.pollFirst();
                if (task == null) {
                    handOver(gathered);  // nothing to do: let the consumer have what there is
                    task = dirs.takeFirst();
                }
                if (task == STOP) {
                    break;
                }
                try {
                    list(task, batch, gathered);
                } finally {
                    if (unfinished.decrementAndGet() == 0) {
                        for (int i = 0; i < threads.size(); i++) {
                            dirs.addLast(STOP);
                        }
                    }
                }
            }
            handOver(gathered);
            // The last thread to end says so, after every thread has handed over its entries.
            if (working.decrementAndGet() == 0 && !closed) {
                out.put(END);
            }
        }

        private void handOver(List<ChildFile> gathered) throws InterruptedException {
            if (!gathered.isEmpty()) {
                out.put(gathered.toArray(new ChildFile[0]));
                gathered.clear();
            }
        }

        private void list(Object task, DirStream.Batch batch, List<ChildFile> gathered) throws InterruptedException {
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
                    for (ChildFile f : batch.entries(dir, count)) {
                        gathered.add(f);
                        if (f.isDirectory()) {
                            unfinished.incrementAndGet();
                            dirs.addFirst(f);
                        }
                    }
                    if (gathered.size() >= HANDOVER) {
                        handOver(gathered);
                    }
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
        s.working.set(threads);
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
            } else if (item instanceof ChildFile[]) {
                entries = (ChildFile[]) item;
                next = 0;
            } else {
                close();
                if (item instanceof Error) {
                    throw (Error) item;
                }
                throw (RuntimeException) item;
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
