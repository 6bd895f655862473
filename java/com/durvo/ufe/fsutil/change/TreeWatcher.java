package com.durvo.ufe.fsutil.change;

import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.WalkOptions;
import com.durvo.ufe.fsutil.internal.engine.EntryAccess;
import com.durvo.ufe.fsutil.internal.engine.Threads;
import com.durvo.ufe.fsutil.internal.engine.WalkPlan;
import com.durvo.ufe.fsutil.internal.names.NameBytes;
import com.durvo.ufe.fsutil.internal.natives.InotifyEvents;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import java.io.IOException;
import java.io.InterruptedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.ClosedWatchServiceException;
import java.nio.file.NotDirectoryException;
import java.nio.file.Path;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Objects;
import java.util.Set;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.locks.Condition;
import java.util.concurrent.locks.ReentrantLock;

/**
 * A tree kept current on inotify: the answer to "what changed since then?" without walking again.
 *
 * <pre>{@code
 * try (TreeWatcher w = TreeWatcher.open(Path.of("/srv/data"))) {
 *     TreeWatcher.Clock since = w.clock();
 *     ...
 *     for (TreeChange c : w.changesSince(since)) { ... }
 * }
 * }</pre>
 *
 * <p>Every directory is watched without following links: each is opened relative to its parent's
 * descriptor and the watch is put on that open directory, before it is listed, so nothing made in it
 * meanwhile is missed. An event makes the watcher examine the entry it names again, relative to its
 * directory; a move within the tree keeps the moved directory's subtree and watches. Before it answers,
 * the watcher syncs as watchman does: it creates a file of its own under the root and waits for that
 * file's event, so the answer covers every change made before the call. Its sync files never appear in
 * its snapshots or changes.
 *
 * <p>Lost events are made good: after inotify's queue overflows the whole tree is listed again, and a
 * directory that cannot be watched because the system's watch limit is reached is listed again (with its
 * subtree) at each sync; the changes so found carry {@link TreeChange#foundByRescan()}, and
 * {@link #warnings()} names the setting that raises the limit.
 *
 * <p>Costs: one inotify watch per directory (kernel memory, which the kernel reckons at about 1 KiB a
 * watch on 64-bit systems, and counted against {@code fs.inotify.max_user_watches}); the held tree in
 * the heap, measured on JDK 17 with 5,100 directories (about 400 bytes per directory) and with 2,100
 * directories of ten files each (about 290 bytes per entry), names of about 7 bytes; a snapshot of the
 * latest clock; and at most {@value DirFds#CAPACITY} descriptors besides the root's, the inotify
 * instance's and a wake-up event's.
 * The removal or move of the root, or the unmount of its file system, ends the watcher: its methods then
 * throw an {@link IOException} that says so. {@link #close()} may be called from any thread, also while
 * another waits in {@link #changesSince}.
 */
public final class TreeWatcher implements AutoCloseable {
    private static final AtomicLong WATCHERS = new AtomicLong();
    private static final int EMFILE = 24;

    private final long id = WATCHERS.incrementAndGet();
    private final byte[] rootPath;
    private final byte[] absoluteRoot;
    private final byte[] syncPrefix;
    private final ReentrantLock lock = new ReentrantLock();
    private final Condition progress = lock.newCondition();
    // Guarded by lock.
    private final HeldTree tree;
    private final Set<HeldNode.Name> awaited = new HashSet<>();
    private long syncs;
    private boolean closing;
    /** The reader has ended and the descriptors are closed. */
    private boolean finished;
    private String endedBecause;
    private TreeSnapshot cached;
    private long cachedVersion = -1;

    private final int ifd;
    private final int wakeFd;
    private final Thread reader;

    /**
     * The moment a {@link TreeWatcher} had reached when {@link TreeWatcher#clock()} was called, for
     * {@link TreeWatcher#changesSince}. Opaque: it holds the tree of that moment.
     */
    public static final class Clock {
        private final long watcher;
        private final long sequence;
        final TreeSnapshot tree;

        private Clock(long watcher, long sequence, TreeSnapshot tree) {
            this.watcher = watcher;
            this.sequence = sequence;
            this.tree = tree;
        }

        @Override
        public String toString() {
            return "fsstat:" + watcher + ":" + sequence;
        }
    }

    private TreeWatcher(byte[] exactRoot, int ifd, int wakeFd, int rootFd, long[] rootAttrs, WalkPlan plan) {
        this.rootPath = Natives.sysPath(exactRoot);
        this.absoluteRoot = TreeSnapshot.absolute(exactRoot);
        this.ifd = ifd;
        this.wakeFd = wakeFd;
        this.syncPrefix = (".fsstat-sync-" + ProcessHandle.current().pid() + "-" + id + "-").getBytes(StandardCharsets.US_ASCII);
        tree = new HeldTree(ifd, rootFd, rootPath, rootAttrs, plan.maxDepth(), plan.flags() & NativeConstants.DONT_SYNC,
                this::isSyncFile);
        reader = new Thread(null, this::run, "fsstat tree watcher " + id, 0, false);
        reader.setDaemon(true);
    }

    /**
     * Watches the tree below {@code root}, with the default {@link WalkOptions}.
     *
     * @param root the directory (a final link is followed, none below it)
     * @return the watcher, its tree read
     * @throws IOException when the root is no directory or cannot be read or watched
     */
    public static TreeWatcher open(Path root) throws IOException {
        return open(root, WalkOptions.defaults());
    }

    /**
     * Watches the tree below {@code root} to the depth {@code options} say, reading entries as
     * {@link WalkOptions.Builder#dontSync} says. As in {@link TreeSnapshot#take(Path, WalkOptions)}, every
     * attribute a snapshot keeps is read, no link below the root is followed and no other file system is
     * entered; the watcher reads on its own thread, whatever the options' threads.
     *
     * @param root    the directory (a final link is followed, none below it)
     * @param options how deep to watch and how to read
     * @return the watcher, its tree read
     * @throws IOException when the root is no directory or cannot be read or watched
     * @throws IllegalArgumentException when the options have a directory filter, which a watcher cannot apply
     *                                  to the directories that events bring
     */
    public static TreeWatcher open(Path root, WalkOptions options) throws IOException {
        WalkPlan plan = EntryAccess.get().plan(Objects.requireNonNull(options, "options"));
        if (plan.directoryFilter() != null) {
            throw new IllegalArgumentException("a TreeWatcher enters every directory to its depth: no directory filter");
        }
        byte[] exact = NameBytes.exactBytesOf(root);
        NameBytes.checkPath(exact);
        byte[] path = Natives.sysPath(exact);
        int rootFd;
        long[] attrs;
        try {
            rootFd = (int) Natives.open(NativeConstants.CWD, path, NativeConstants.READ | NativeConstants.DIRECTORY, 0);
        } catch (NativeErrno e) {
            throw e.forFile(path);
        }
        attrs = DirFds.statAt(rootFd, new byte[0]);
        if (attrs == null || attrs.length == 0) {
            Natives.close(rootFd);
            throw new NotDirectoryException(FileNames.display(path));
        }
        int ifd = -1;
        int wakeFd = -1;
        try {
            ifd = Natives.inotifyInit();
            wakeFd = Natives.eventFd();
        } catch (NativeErrno e) {
            Natives.close(rootFd);
            if (ifd >= 0) {
                Natives.close(ifd);
            }
            throw new IOException("cannot watch " + FileNames.display(path) + ": " + e.getMessage()
                    + (e.errno == EMFILE ? " (the limit of inotify instances, fs.inotify.max_user_instances, or of open files)" : ""));
        }
        TreeWatcher w = new TreeWatcher(exact, ifd, wakeFd, rootFd, attrs, plan);
        w.lock.lock();
        try {
            int failed = w.tree.start();
            if (failed != 0) {
                w.finish(null);
                throw new IOException("cannot watch " + FileNames.display(path) + ": " + Natives.describe(failed).getMessage()
                        + (failed == NativeConstants.ENOSPC ? " (inotify's watch limit: fs.inotify.max_user_watches)" : ""));
            }
        } finally {
            w.lock.unlock();
        }
        w.reader.start();
        return w;
    }

    /**
     * A token for now: {@link #changesSince} with it gives what changes after this call.
     *
     * @return the clock
     * @throws IOException when the watcher has ended (its root is gone) or cannot sync
     * @throws ClosedWatchServiceException once closed
     */
    public Clock clock() throws IOException {
        lock.lock();
        try {
            sync();
            return new Clock(id, tree.version, current());
        } finally {
            lock.unlock();
        }
    }

    /**
     * What changed between {@code since} and now, in the form of {@link TreeSnapshot#diff}: it covers
     * every change made before this call. As {@link #changesBetween}{@code (since, clock())}.
     *
     * @param since a clock of this watcher
     * @return the changes, each found by a rescan marked so
     * @throws IllegalArgumentException for a clock of another watcher
     * @throws IOException when the watcher has ended (its root is gone) or cannot sync
     * @throws ClosedWatchServiceException once closed, also while waiting here
     */
    public List<TreeChange> changesSince(Clock since) throws IOException {
        checkOwn(since);
        return changesBetween(since, clock());
    }

    /**
     * What changed between two clocks of this watcher, so that one loop of {@code next = clock()},
     * {@code changesBetween(last, next)}, {@code last = next} sees each change once.
     *
     * @param since the earlier clock
     * @param until the later clock
     * @return the changes, each found by a rescan marked so
     * @throws IllegalArgumentException for a clock of another watcher, or when {@code until} is the earlier
     */
    public List<TreeChange> changesBetween(Clock since, Clock until) {
        checkOwn(since);
        checkOwn(until);
        if (until.sequence < since.sequence) {
            throw new IllegalArgumentException("the clock " + until + " is earlier than " + since);
        }
        Set<HeldNode.Name> rescanned;
        Set<HeldNode.Name> rewritten;
        lock.lock();
        try {
            rescanned = tree.rescanned.between(since.sequence, until.sequence);
            rewritten = tree.rewritten.between(since.sequence, until.sequence);
        } finally {
            lock.unlock();
        }
        return WatcherChanges.between(since.tree, until.tree, rescanned, rewritten);
    }

    /**
     * Waits, without a sync, until an event has changed the tree since {@code since}: for a loop that shows
     * changes as they come without syncing all the time.
     *
     * @param since   a clock of this watcher
     * @param timeout how long to wait at most
     * @return whether the tree changed
     * @throws InterruptedException when interrupted while waiting
     * @throws IllegalArgumentException for a clock of another watcher
     */
    public boolean awaitChange(Clock since, Duration timeout) throws InterruptedException {
        checkOwn(since);
        long left = timeout.toNanos();
        lock.lock();
        try {
            while (tree.version == since.sequence && !finished && left > 0) {
                left = progress.awaitNanos(left);
            }
            return tree.version != since.sequence || finished;
        } finally {
            lock.unlock();
        }
    }

    private void checkOwn(Clock clock) {
        if (clock.watcher != id) {
            throw new IllegalArgumentException("the clock " + clock + " is of another TreeWatcher, not of this one (fsstat:" + id + ")");
        }
    }

    /**
     * The tree as it is now (after a sync).
     *
     * @return the snapshot
     * @throws IOException when the watcher has ended (its root is gone) or cannot sync
     * @throws ClosedWatchServiceException once closed
     */
    public TreeSnapshot snapshot() throws IOException {
        lock.lock();
        try {
            sync();
            return current();
        } finally {
            lock.unlock();
        }
    }

    /**
     * What the watcher had to say once, such as that the system's watch limit was reached and which
     * setting raises it.
     *
     * @return the messages, oldest first
     */
    public List<String> warnings() {
        lock.lock();
        try {
            return List.copyOf(tree.warnings);
        } finally {
            lock.unlock();
        }
    }

    /** Ends the watcher and waits for its reader thread, from any thread; later calls do nothing. */
    @Override
    public void close() {
        lock.lock();
        try {
            if (!closing && !finished) {
                Natives.wake(wakeFd);
            }
            closing = true;
            progress.signalAll();
        } finally {
            lock.unlock();
        }
        if (Thread.currentThread() == reader) {
            return;
        }
        Threads.joinUninterruptibly(reader);  // it ends at once
    }

    /** The held tree as a snapshot, made again only when it changed; run holding the lock. */
    private TreeSnapshot current() {
        if (cached == null || cachedVersion != tree.version) {
            cached = WatcherChanges.snapshotOf(tree.root, absoluteRoot);
            cachedVersion = tree.version;
        }
        return cached;
    }

    private boolean isSyncFile(byte[] name) {
        return name.length > syncPrefix.length && Arrays.equals(name, 0, syncPrefix.length, syncPrefix, 0, syncPrefix.length);
    }

    /**
     * Creates a sync file under the root and waits until the reader has seen it, so that every event of a
     * change made before is applied; then settles what events left open. Run holding the lock.
     */
    private void sync() throws IOException {
        checkOpen();
        byte[] seq = Long.toString(++syncs).getBytes(StandardCharsets.US_ASCII);
        byte[] name = Arrays.copyOf(syncPrefix, syncPrefix.length + seq.length);
        System.arraycopy(seq, 0, name, syncPrefix.length, seq.length);
        HeldNode.Name key = new HeldNode.Name(name);
        try {
            Natives.close((int) Natives.open(tree.fds.rootFd, name, NativeConstants.WRITE | NativeConstants.CREATE_NEW
                    | NativeConstants.NOFOLLOW, 0600));
        } catch (NativeErrno e) {
            if (e.errno == NativeConstants.ENOENT) {  // the root's directory is gone, and its event on its way
                throw new IOException("the TreeWatcher of " + FileNames.display(rootPath) + " has ended: its root was removed");
            }
            throw new IOException("cannot sync with " + FileNames.display(rootPath) + ": creating its sync file failed: "
                    + e.getMessage());
        }
        awaited.add(key);
        try {
            while (awaited.contains(key) && !closing && endedBecause == null) {
                progress.await();
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new InterruptedIOException("interrupted while syncing with " + FileNames.display(rootPath));
        } finally {
            awaited.remove(key);
            if (!finished) {
                removeSyncFile(name);
            }
        }
        checkOpen();
        tree.settle();
    }

    private void removeSyncFile(byte[] name) {
        try {
            Natives.unlink(tree.fds.rootFd, name, false);
        } catch (NativeErrno e) {
            // gone already (the tree's owner may clean up too): nothing left to remove
        }
    }

    private void checkOpen() throws IOException {
        if (closing) {
            throw new ClosedWatchServiceException();
        }
        if (endedBecause != null) {
            throw new IOException("the TreeWatcher of " + FileNames.display(rootPath) + " has ended: " + endedBecause);
        }
    }

    /** The reader: applies each batch of events under the lock, until closed or the root is gone. */
    private void run() {
        byte[] buf = new byte[8192];
        String end = null;
        try {
            for (int n; end == null && (n = Natives.inotifyRead(ifd, wakeFd, buf)) >= 0;) {
                lock.lock();
                try {
                    end = applyBatch(buf, n);
                    progress.signalAll();
                } finally {
                    lock.unlock();
                }
            }
        } catch (NativeErrno e) {
            end = "reading its inotify events failed: " + e.getMessage();
        } catch (RuntimeException | Error e) {
            end = "its reader failed: " + e;
            throw e;
        } finally {
            lock.lock();
            try {
                finish(end);
            } finally {
                lock.unlock();
            }
        }
    }

    /** Applies {@code n} bytes of events; why the watcher ends, or null. */
    private String applyBatch(byte[] buf, int n) {
        boolean[] overflow = {false};
        boolean[] rootGone = {false};
        // Nothing after the root's end is taken: a sync file's event then would answer a sync as if the
        // watcher went on.
        InotifyEvents.forEach(buf, n, (wd, mask, cookie, name) -> {
            if ((mask & NativeConstants.IN_Q_OVERFLOW) != 0) {
                overflow[0] = true;
            } else if (wd == tree.root.wd && name != null && isSyncFile(name)) {
                awaited.remove(new HeldNode.Name(name));
            } else if (!tree.apply(wd, mask, cookie, name)) {
                rootGone[0] = true;
            }
            return !rootGone[0];
        });
        if (rootGone[0]) {
            return "its root was removed, moved or unmounted";
        }
        tree.endBatch();
        if (overflow[0]) {
            tree.rescanAll();
            awaited.clear();  // each was made before this rescan, which covers what its lost event would have
        }
        return null;
    }

    /** The reader's end, holding the lock: descriptors closed (with them every watch), waiting threads woken. */
    private void finish(String end) {
        if (finished) {
            return;
        }
        if (!closing && end != null) {
            endedBecause = end;
        }
        finished = true;
        for (HeldNode.Name n : awaited) {
            removeSyncFile(n.bytes);
        }
        tree.close();
        Natives.close(ifd);
        Natives.close(wakeFd);
        progress.signalAll();
    }
}
