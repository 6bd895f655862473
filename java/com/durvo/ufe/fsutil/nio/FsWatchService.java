package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.internal.engine.Threads;
import com.durvo.ufe.fsutil.internal.natives.InotifyEvents;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import static java.nio.file.StandardWatchEventKinds.ENTRY_CREATE;
import static java.nio.file.StandardWatchEventKinds.ENTRY_DELETE;
import static java.nio.file.StandardWatchEventKinds.ENTRY_MODIFY;
import static java.nio.file.StandardWatchEventKinds.OVERFLOW;

import java.io.IOException;
import java.nio.file.ClosedWatchServiceException;
import java.nio.file.Path;
import java.nio.file.WatchEvent;
import java.nio.file.WatchKey;
import java.nio.file.WatchService;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.concurrent.LinkedBlockingDeque;
import java.util.concurrent.TimeUnit;

/**
 * The watch service of the {@code fsstat} file system, on inotify as the
 * default provider's is on Linux: a daemon thread per service waits for the
 * kernel's events and hands them to the keys, each event's context the
 * entry's name as its exact bytes. A directory is watched by its path's bytes
 * (a final link followed). A key becomes invalid when it is cancelled, when
 * its directory is removed or its file system unmounted, and when the service
 * is closed; repeated events are counted, as the default provider counts them.
 */
final class FsWatchService implements WatchService {
    private static final int MAX_EVENTS = 512;   // pending on one key; more become one OVERFLOW
    private static final int EMFILE = 24;
    private static final int ENOSPC = 28;

    private final FsFileSystem fs;
    private final int ifd;
    private final int wakeFd;
    private final Thread poller;
    private final LinkedBlockingDeque<WatchKey> signalled = new LinkedBlockingDeque<>();
    /** Queued once closed: each thread that takes it puts it back for the next waiting one. */
    private final Key closedMark = new Key(null, -1);
    /**
     * The valid keys by watch descriptor. Its lock also guards every change of
     * {@link #closed} and the descriptors, which only the poller closes, as it ends.
     */
    private final Map<Integer, Key> keys = new HashMap<>();
    private volatile boolean closed;

    FsWatchService(FsFileSystem fs) throws IOException {
        this.fs = fs;
        try {
            ifd = Natives.inotifyInit();
        } catch (NativeErrno e) {
            throw e.errno == EMFILE ? new IOException("User limit of inotify instances reached or too many open files")
                    : e.withoutFile();
        }
        try {
            wakeFd = Natives.eventFd();
        } catch (NativeErrno e) {
            Natives.close(ifd);
            throw e.withoutFile();
        }
        poller = new Thread(null, this::run, "fsstat watch service", 0, false);
        poller.setDaemon(true);
        try {
            poller.start();
        } catch (Error e) {
            Natives.close(ifd);
            Natives.close(wakeFd);
            throw e;
        }
    }

    WatchKey register(FsPath dir, WatchEvent.Kind<?>[] kinds, WatchEvent.Modifier... modifiers) throws IOException {
        int mask = 0;
        for (WatchEvent.Kind<?> k : kinds) {
            if (k == ENTRY_CREATE) {
                mask |= NativeConstants.IN_CREATE | NativeConstants.IN_MOVED_TO;
            } else if (k == ENTRY_DELETE) {
                mask |= NativeConstants.IN_DELETE | NativeConstants.IN_MOVED_FROM;
            } else if (k == ENTRY_MODIFY) {
                mask |= NativeConstants.IN_MODIFY | NativeConstants.IN_ATTRIB;
            } else if (k != OVERFLOW) {  // reported whether asked for or not
                throw k == null ? new NullPointerException("An element in event set is 'null'")
                        : new UnsupportedOperationException(k.name());
            }
        }
        if (mask == 0) {
            throw new IllegalArgumentException("No events to register");
        }
        for (WatchEvent.Modifier m : modifiers) {
            // Sensitivity tunes a watcher that polls; inotify reports at once, so it is accepted and means nothing.
            if (!Objects.requireNonNull(m).getClass().getName().equals("com.sun.nio.file.SensitivityWatchEventModifier")) {
                throw new UnsupportedOperationException("Modifier not supported");
            }
        }
        synchronized (keys) {
            if (closed) {
                throw new ClosedWatchServiceException();
            }
            int wd;
            try {
                // A second registration of the directory gets the same descriptor, with the new mask.
                wd = Natives.inotifyAdd(ifd, dir.bytes(), mask | NativeConstants.IN_ONLYDIR);
            } catch (NativeErrno e) {
                throw e.errno == ENOSPC ? new IOException("User limit of inotify watches reached") : e.forDirectory(dir.display());
            }
            return keys.computeIfAbsent(wd, w -> new Key(dir, w));
        }
    }

    private void run() {
        byte[] buf = new byte[8192];
        try {
            for (int n; (n = Natives.inotifyRead(ifd, wakeFd, buf)) >= 0;) {
                synchronized (keys) {
                    InotifyEvents.forEach(buf, n, (wd, mask, cookie, name) -> {
                        dispatch(wd, mask, name);
                        return true;
                    });
                }
            }
        } catch (NativeErrno e) {
            // poll and read on these descriptors have no failure to expect: if one fails, the service ends as closed
        } finally {
            shutDown();
        }
    }

    /** One event, {@code name} null for one of the directory itself; run holding the lock of {@link #keys}. */
    private void dispatch(int wd, int mask, byte[] name) {
        if ((mask & NativeConstants.IN_Q_OVERFLOW) != 0) {
            keys.values().forEach(k -> k.add(OVERFLOW, null));
            return;
        }
        Key key = keys.get(wd);
        if (key == null) {
            return;  // cancelled, and the kernel had queued more of its events
        }
        if ((mask & NativeConstants.IN_IGNORED) != 0) {  // the directory or its file system is gone
            keys.remove(wd);
            key.valid = false;
            key.signal();
            return;
        }
        WatchEvent.Kind<?> kind = (mask & (NativeConstants.IN_MODIFY | NativeConstants.IN_ATTRIB)) != 0 ? ENTRY_MODIFY
                : (mask & (NativeConstants.IN_CREATE | NativeConstants.IN_MOVED_TO)) != 0 ? ENTRY_CREATE
                : (mask & (NativeConstants.IN_DELETE | NativeConstants.IN_MOVED_FROM)) != 0 ? ENTRY_DELETE : null;
        if (kind != null && name != null) {
            key.add(kind, new FsPath(fs, name));
        }
    }

    /** The poller's end: every key invalid, the descriptors closed (with them the watches), waiting threads woken. */
    private void shutDown() {
        synchronized (keys) {
            closed = true;
            keys.values().forEach(k -> k.valid = false);
            keys.clear();
            Natives.close(ifd);
            Natives.close(wakeFd);
        }
        signalled.clear();
        signalled.offer(closedMark);
    }

    /** Ends the poller and waits for it, so that on return every key is invalid and the descriptors are closed. */
    @Override
    public void close() {
        synchronized (keys) {
            if (!closed) {
                closed = true;
                Natives.wake(wakeFd);
            }
        }
        Threads.joinUninterruptibly(poller);  // it ends at once
    }

    /** What a poll gave, unless the service is closed (whether or not this poll saw it end). */
    private WatchKey checked(WatchKey key) {
        if (key == closedMark) {
            signalled.offer(key);
        }
        if (closed) {
            throw new ClosedWatchServiceException();
        }
        return key;
    }

    @Override
    public WatchKey poll() {
        return checked(signalled.poll());
    }

    @Override
    public WatchKey poll(long timeout, TimeUnit unit) throws InterruptedException {
        return checked(signalled.poll(timeout, unit));
    }

    @Override
    public WatchKey take() throws InterruptedException {
        return checked(signalled.take());
    }

    private final class Key implements WatchKey {
        private final FsPath dir;
        private final int wd;
        /** Changed only under the lock of {@link #keys}. */
        volatile boolean valid = true;
        // The rest is guarded by the key itself.
        /** Signalled: queued or with a consumer, until it is reset. */
        private boolean queued;
        private List<WatchEvent<?>> events = new ArrayList<>();
        /** The pending ENTRY_MODIFY of each context whose latest pending event it is. */
        private final Map<Path, Event> lastModify = new HashMap<>();

        Key(FsPath dir, int wd) {
            this.dir = dir;
            this.wd = wd;
        }

        synchronized void signal() {
            if (!queued) {
                queued = true;
                signalled.offer(this);
            }
        }

        /** Adds an event, or counts it on the pending one it repeats. */
        synchronized void add(WatchEvent.Kind<?> kind, Path context) {
            Event last = events.isEmpty() ? null : (Event) events.get(events.size() - 1);
            Event same = last != null && (last.kind == OVERFLOW || last.kind == kind && Objects.equals(last.context, context))
                    ? last : kind == ENTRY_MODIFY ? lastModify.get(context) : null;
            if (same != null) {
                same.count++;
                return;
            }
            lastModify.remove(context);
            if (kind == OVERFLOW || events.size() >= MAX_EVENTS) {
                kind = OVERFLOW;
                context = null;
                events.clear();
                lastModify.clear();
            }
            Event e = new Event(kind, context);
            if (kind == ENTRY_MODIFY) {
                lastModify.put(context, e);
            }
            events.add(e);
            signal();
        }

        @Override
        public boolean isValid() {
            return valid;
        }

        @Override
        public synchronized List<WatchEvent<?>> pollEvents() {
            List<WatchEvent<?>> out = events;
            events = new ArrayList<>();
            lastModify.clear();
            return out;
        }

        @Override
        public synchronized boolean reset() {
            if (queued && valid) {
                if (events.isEmpty()) {
                    queued = false;
                } else {
                    signalled.offer(this);
                }
            }
            return valid;
        }

        @Override
        public void cancel() {
            synchronized (keys) {
                // Present in the map means the descriptor is still open.
                if (keys.remove(wd, this)) {
                    Natives.inotifyRemove(ifd, wd);
                }
                valid = false;
            }
        }

        @Override
        public Path watchable() {
            return dir;
        }
    }

    private static final class Event implements WatchEvent<Object> {
        private final Kind<Object> kind;
        private final Object context;
        /** Changed under the lock of its key, only while the key holds it. */
        private int count = 1;

        @SuppressWarnings("unchecked")
        Event(Kind<?> kind, Object context) {
            this.kind = (Kind<Object>) kind;
            this.context = context;
        }

        @Override
        public Kind<Object> kind() {
            return kind;
        }

        @Override
        public int count() {
            return count;
        }

        @Override
        public Object context() {
            return context;
        }
    }
}
