package com.durvo.ufe.fsutil.internal.engine;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import java.io.IOException;
import java.io.InterruptedIOException;
import java.io.UncheckedIOException;
import java.lang.ref.Cleaner;
import java.nio.file.FileSystemException;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.Iterator;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.ArrayBlockingQueue;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingDeque;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.Supplier;

/**
 * The walk with several threads: each takes a directory, reads it and queues
 * its subdirectories (newest first, so the walk stays deep and the queue
 * short), and hands its entries to the consuming thread some hundreds at a
 * time, since every hand-over may wake a sleeping thread.
 *
 * <p>A queued directory is opened relative to its parent, as in the ordered
 * walk, so a parent stays open while entries of it wait. When more than a few
 * per thread are open, the least recently used waiting parent is closed; it
 * is opened again from its own parent when its turn comes, and read only if it
 * is still the same directory (device and inode). So the walk reaches any
 * depth and path length with a bounded number of descriptors, and never
 * through a link. Closing, or dropping the walk unclosed, stops the threads
 * and closes every directory.
 */
public final class ParallelWalk extends BatchIterator<ChildFile> implements Walk {
    private static final Object END = new Object();
    /** What close() leaves for a consumer it may have woken. */
    private static final Object CLOSED = new Object();
    /** Queued once per thread when no directory is left: wakes and ends it. */
    private static final Object STOP = new Object();
    /** Entries a thread gathers before it hands them over (or sooner, before it waits). */
    private static final int HANDOVER = 1024;

    /**
     * A directory of the walk, alive while it is read, while entries of it wait to be opened, or while
     * a directory below it is alive: those may need it opened again. Fields other than the finals are
     * guarded by the Shared instance.
     */
    private static final class Node implements Descent.Ancestors {
        final Node parent;
        final ChildFile entry;  // null for the root
        final int number;       // the walk's, for a sink
        long[] id;          // device and inode, once known: needed to follow links, or to open it again
        DirStream dir;      // null while closed for the budget
        boolean reading;
        int users;          // threads opening an entry of it now
        int waiting;        // its entries queued, not yet opened
        int children;       // alive directories below it

        Node(Node parent, ChildFile entry, DirStream dir) {
            this.parent = parent;
            this.entry = entry;
            this.dir = dir;
            this.number = dir.number;
            this.id = dir.knownIdentity();
        }

        boolean alive() {
            return reading || users > 0 || waiting > 0 || children > 0;
        }

        @Override
        public boolean contain(long d, long i) {
            for (Node n = this; n != null; n = n.parent) {
                if (n.id != null && n.id[0] == d && n.id[1] == i) {
                    return true;
                }
            }
            return false;
        }
    }

    /** An entry of {@code parent} to enter, with the walk's number for it. */
    private record Task(Node parent, ChildFile entry, int number) {
    }

    /** What the worker threads share; never the walk itself, so that the cleaner can see it dropped. */
    private static final class Shared implements Runnable {
        final LinkedBlockingDeque<Object> dirs = new LinkedBlockingDeque<>();  // Node (the root), Task or STOP
        final AtomicInteger unfinished = new AtomicInteger(1);                // directories queued or being read
        final AtomicInteger working = new AtomicInteger();                    // threads not yet ended
        final BlockingQueue<Object> out = new ArrayBlockingQueue<>(16);      // ChildFile[], IOException, END,
                                                                              // CLOSED, or a thread's own failure
        final List<Thread> threads = new ArrayList<>();
        final Descent descent;
        /** Where each thread puts the batches it reads, on that thread; null: hand them to the consumer. */
        final Supplier<? extends BatchSink> sinks;
        final int budget;
        volatile boolean closed;
        // Guarded by this:
        final Set<Node> open = new HashSet<>();
        final LinkedHashSet<Node> idle = new LinkedHashSet<>();  // open, not root, in use by nobody; oldest first

        Shared(Descent descent, int threads, Supplier<? extends BatchSink> sinks) {
            this.descent = descent;
            this.sinks = sinks;
            this.budget = 4 * threads + 8;
        }

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
            List<ChildFile> gathered = new ArrayList<>(HANDOVER + 128);
            BatchSink sink = sinks == null ? null : sinks.get();
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
                    Node node = task instanceof Node ? (Node) task : enter((Task) task);
                    if (node != null) {
                        list(node, gathered, sink);
                    }
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

        /** Opens a queued directory; null when it is not to be read (its error, if any, handed over). */
        private Node enter(Task task) throws InterruptedException {
            Node parent = task.parent();
            synchronized (this) {
                parent.users++;
                idle.remove(parent);
            }
            Node node = null;
            try {
                DirStream up = openAgain(parent);
                DirStream dir = up == null ? null : descent.open(up, task.entry(), task.number(), parent);
                if (dir != null) {
                    synchronized (this) {
                        node = new Node(parent, task.entry(), dir);
                        node.reading = true;
                        parent.children++;
                        opened(node);
                    }
                }
            } catch (IOException e) {
                out.put(e);
            } finally {
                synchronized (this) {
                    parent.users--;
                    parent.waiting--;
                    settle(parent);
                }
            }
            return node;
        }

        /** The open directory of {@code node}, which the caller uses; opened again from its parent if the
         * budget closed it. Null once the walk is closed. */
        private DirStream openAgain(Node node) throws IOException {
            synchronized (node) {  // one thread opens it again, the others wait for that
                Node parent;
                synchronized (this) {
                    if (node.dir != null || closed) {
                        return node.dir;
                    }
                    parent = node.parent;
                    parent.users++;
                    idle.remove(parent);
                }
                try {
                    DirStream up = openAgain(parent);
                    byte[] path = node.entry.pathBytes();
                    DirStream dir;
                    try {
                        dir = up == null ? null : up.openChild(node.entry, path, descent.options.flags(), node.number);
                    } catch (NativeErrno e) {
                        throw e.forFile(path);
                    }
                    if (dir == null) {
                        return null;
                    }
                    long[] id = dir.identityOrClose();
                    if (id == null || id[0] != node.id[0] || id[1] != node.id[1]) {
                        dir.close();
                        throw new FileSystemException(FileNames.display(path), null,
                                "replaced by another directory during the walk; not entered again");
                    }
                    synchronized (this) {
                        node.dir = dir;
                        opened(node);
                        return node.dir;
                    }
                } finally {
                    synchronized (this) {
                        parent.users--;
                        settle(parent);
                    }
                }
            }
        }

        private void list(Node node, List<ChildFile> gathered, BatchSink sink) throws InterruptedException {
            DirStream dir;
            synchronized (this) {
                dir = node.dir;
            }
            try {
                while (!closed && dir != null) {
                    if (sink != null) {
                        // What comes back of a batch handed over are the directories to enter.
                        DirStream.Entering entering = dir.nextInto(descent, sink);
                        if (entering == null) {
                            break;
                        }
                        for (int k = 0; k < entering.dirs().length; k++) {
                            queue(node, entering.dirs()[k], entering.first() + k);
                        }
                        continue;
                    }
                    ChildFile[] read = dir.next(descent.options.want(), descent.options.flags());
                    if (read == null) {
                        break;
                    }
                    for (ChildFile f : read) {
                        gathered.add(f);
                        if (descent.enters(f)) {
                            queue(node, f, 0);
                        }
                    }
                    if (gathered.size() >= HANDOVER) {
                        handOver(gathered);
                    }
                }
            } catch (NativeErrno e) {
                out.put(e.forFile(dir.path));
            } finally {
                synchronized (this) {
                    node.reading = false;
                    settle(node);
                }
            }
        }

        private void queue(Node parent, ChildFile entry, int number) {
            synchronized (this) {
                parent.waiting++;
            }
            unfinished.incrementAndGet();
            dirs.addFirst(new Task(parent, entry, number));
        }

        /** Counts a directory just opened, closing idle ones over the budget. Holds this. */
        private void opened(Node node) {
            if (closed) {
                node.dir.close();
                node.dir = null;
                return;
            }
            open.add(node);
            Iterator<Node> oldest = idle.iterator();
            while (open.size() > budget && oldest.hasNext()) {
                Node n = oldest.next();
                oldest.remove();
                try {
                    if (n.id == null) {
                        n.id = n.dir.identity();  // what it must still be when opened again
                    }
                } catch (NativeErrno e) {
                    continue;  // kept open: it could not be recognised again
                }
                n.dir.close();
                n.dir = null;
                open.remove(n);
            }
        }

        /** After a use of {@code node}: closes it when nothing needs it, or marks it idle. Holds this. */
        private void settle(Node node) {
            if (node.alive()) {
                if (!node.reading && node.users == 0 && node.dir != null && node.parent != null) {
                    idle.remove(node);
                    idle.add(node);
                }
                return;
            }
            idle.remove(node);
            if (node.dir != null) {
                node.dir.close();
                node.dir = null;
                open.remove(node);
            }
            if (node.parent != null) {
                node.parent.children--;
                settle(node.parent);
            }
        }

        @Override
        public void run() {
            closed = true;
            for (Thread t : threads) {
                t.interrupt();
            }
            synchronized (this) {
                for (Node n : open) {
                    n.dir.close();  // waits for a read in progress
                }
            }
            out.clear();
            out.offer(CLOSED);  // wakes a consumer waiting for entries
        }
    }

    private final Shared shared;
    private final Cleaner.Cleanable cleanable;
    private final WalkErrors errors;
    private boolean ended;

    /**
     * A walk below {@code root}. With {@code sinks} not null its threads each put the batches they read into
     * a sink of their own, got from {@code sinks} on that thread, instead of handing them over: the walk's
     * iterator then only waits for the end and reports the errors. A sink's failure ends the walk and is
     * thrown by the iterator.
     */
    public ParallelWalk(DirStream root, Descent descent, WalkErrors errors, Supplier<? extends BatchSink> sinks) {
        this.errors = errors;
        int threads = descent.options.threads();
        Shared s = new Shared(descent, threads, sinks);
        shared = s;
        Node top = new Node(null, null, root);
        top.reading = true;
        s.open.add(top);
        s.dirs.add(top);
        s.working.set(threads);
        for (int i = 0; i < threads; i++) {
            Thread t = new Thread(s::work, "fsstat-walk-" + i);
            t.setDaemon(true);
            s.threads.add(t);
        }
        cleanable = Natives.CLEANER.register(this, s);
        for (Thread t : s.threads) {
            t.start();
        }
    }

    @Override
    protected ChildFile[] nextBatch() {
        while (true) {
            if (ended || shared.closed) {
                return null;
            }
            Object item;
            try {
                item = shared.out.take();
            } catch (InterruptedException e) {
                close();
                Thread.currentThread().interrupt();
                // Never a short walk passed off as a whole one.
                throw new UncheckedIOException(new InterruptedIOException("walk interrupted; it is closed"));
            }
            if (item == CLOSED) {
                return null;
            }
            if (item == END) {
                ended = true;
                close();
                errors.finish();
                return null;
            }
            if (item instanceof IOException) {
                errors.report((IOException) item);
            } else if (item instanceof ChildFile[]) {
                return (ChildFile[]) item;
            } else {
                close();
                if (item instanceof Error) {
                    throw (Error) item;
                }
                throw (RuntimeException) item;
            }
        }
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
