package com.durvo.ufe.fsutil.change;

import static com.durvo.ufe.fsutil.internal.natives.NativeConstants.*;

import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import java.nio.charset.StandardCharsets;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.HashSet;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.function.Predicate;

/**
 * The tree a {@link TreeWatcher} holds and keeps current from inotify's events. Each event names an
 * entry of a watched directory, which is examined again relative to that directory's descriptor (never
 * through a link), so events may come late, twice or out of order and the tree still ends up as the
 * disk is. Not thread-safe: the watcher's lock guards it.
 *
 * <p>Descriptors: the root's stays open, and at most {@link DirFds#CAPACITY} others, opened again from
 * the nearest open parent when an event needs them.
 */
final class HeldTree {
    static final int MASK = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_MODIFY | IN_CLOSE_WRITE
            | IN_ONLYDIR | IN_EXCL_UNLINK;
    private static final int ROOT_MASK = MASK | IN_DELETE_SELF | IN_MOVE_SELF;
    private static final int DIR_OPEN = READ | DIRECTORY | NOFOLLOW;
    private static final byte[] EMPTY = {};
    private static final byte[] DOT = {'.'};
    private static final boolean PROC_FD = Natives.statOrNull("/proc/self/fd".getBytes(StandardCharsets.US_ASCII)) != null;

    final HeldNode root;
    private final byte[] rootPath;
    private final int ifd;
    private final int readFlags;
    private final int maxDepth;
    /** Whether a moved directory is listed anew at its destination, as the depth it may enter changed. */
    private final boolean rescanMoves;
    private final Predicate<byte[]> hidden;
    final DirFds fds;
    private final Map<Integer, HeldNode> byWatch = new HashMap<>();
    /** Moved away, by the move's cookie, until its other half names where to. */
    private final Map<Integer, HeldNode> movedAway = new HashMap<>();
    /** Moved away before the batch now applied: given up at its end if their other half has not come. */
    private final Map<Integer, HeldNode> movedEarlier = new HashMap<>();
    /** Directories an event came from while their path did not lead to them: listed again at the next sync. */
    private final Set<HeldNode> stale = new LinkedHashSet<>();
    /** Directories the watch limit left unwatched: their subtrees are listed again at each sync. */
    final Set<HeldNode> unwatched = new LinkedHashSet<>();
    private final Set<HeldNode> touchedDirs = new LinkedHashSet<>();
    /** The entry of the latest events, examined once they are followed by another's: a write is several events. */
    private HeldNode pendingDir;
    private HeldNode.Name pendingName;
    /** Whether those events include a write, which a same-size write in one timestamp tick shows only by. */
    private boolean pendingWritten;
    /** Bumped by every change of the tree; the sequence of a clock. */
    long version;
    /** Where rescans found changes. */
    final PathLog rescanned = new PathLog();
    /** Files written without a change of their attributes (a same-size write in the same timestamp tick). */
    final PathLog rewritten = new PathLog();
    final List<String> warnings = new ArrayList<>();
    private boolean rescanning;
    private int rootWatchErrno;
    // One batch of the listing natives, reused.
    private final long[] longs = new long[64 * ENTRY_LONGS];
    private final byte[] names = new byte[64 * 256];

    /**
     * The tree of the open directory {@code rootFd} (which it then owns) at {@code rootPath}, entering
     * directories down to {@code maxDepth} on the root's file system, each entry read with the listing
     * natives' {@code readFlags}. {@code hidden} names in the root are kept out of it.
     */
    HeldTree(int ifd, int rootFd, byte[] rootPath, long[] rootAttrs, int maxDepth, int readFlags, Predicate<byte[]> hidden) {
        this.ifd = ifd;
        this.rootPath = rootPath;
        this.readFlags = readFlags;
        this.maxDepth = maxDepth;
        this.rescanMoves = maxDepth != Integer.MAX_VALUE;
        this.hidden = hidden;
        root = new HeldNode(new HeldNode.Name(EMPTY), null, rootAttrs);
        fds = new DirFds(rootFd, root);
    }

    /** Watches and lists the whole tree; 0, or the errno of the root's failed watch. */
    int start() {
        scan(root, false);
        return root.wd >= 0 ? 0 : rootWatchErrno;
    }

    /**
     * Applies one event, {@code name} null for one of the directory itself; false once the root is gone
     * (removed, moved, its file system unmounted).
     */
    boolean apply(int wd, int mask, int cookie, byte[] name) {
        HeldNode dir = byWatch.get(wd);
        if (dir == null) {
            return true;  // a watch already given up, and the kernel had queued more of its events
        }
        if ((mask & IN_IGNORED) != 0) {
            byWatch.remove(wd, dir);
            dir.wd = -1;
            if (dir != root && dir.isIn(root)) {
                stale.add(dir);  // a new directory took the number of the one whose watch ended: watched and listed at sync
            }
            return dir != root;
        }
        if (dir == root && (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) != 0) {
            return false;
        }
        if (name == null) {
            return true;  // about the directory itself: its parent's event says the same
        }
        if (dir == root && hidden.test(name)) {
            return true;
        }
        touchedDirs.add(dir);
        HeldNode.Name key = new HeldNode.Name(name);
        boolean move = (mask & (IN_MOVED_TO | IN_MOVED_FROM)) != 0;
        if (!move && dir == pendingDir && key.equals(pendingName)) {
            pendingWritten |= (mask & IN_MODIFY) != 0;
            return true;
        }
        examinePending();
        if (!move) {
            pendingDir = dir;
            pendingName = key;
            pendingWritten = (mask & IN_MODIFY) != 0;
        } else if ((mask & IN_MOVED_TO) != 0) {
            HeldNode moved = movedAway.remove(cookie);
            arrived(dir, key, moved != null ? moved : movedEarlier.remove(cookie));
        } else if ((mask & IN_MOVED_FROM) != 0) {
            HeldNode left = refresh(dir, key, false);
            if (left != null) {
                movedAway.put(cookie, left);
            }
        }
        return true;
    }

    /** Examines the entry of the last run of events about one entry (a write makes several), if any. */
    private void examinePending() {
        HeldNode dir = pendingDir;
        if (dir != null) {
            pendingDir = null;
            forgetIfAny(refresh(dir, pendingName, pendingWritten));
        }
    }

    /**
     * After a batch of events: the attributes of the directories they came from (their times changed).
     * A move's two events come one after the other, so one whose other half did not come in this batch or
     * the next left the tree.
     */
    void endBatch() {
        examinePending();
        movedEarlier.values().forEach(this::forget);
        movedEarlier.clear();
        movedEarlier.putAll(movedAway);
        movedAway.clear();
        for (HeldNode dir : touchedDirs) {
            if (dir != root && dir.parent != null) {
                forgetIfAny(refresh(dir.parent, dir.name, false));
            }
        }
        touchedDirs.clear();
    }

    /**
     * Examines {@code name} in {@code dir} again and brings the tree in line. The node that had the name
     * and is no longer there (for a move away to keep), detached; null otherwise.
     */
    private HeldNode refresh(HeldNode dir, HeldNode.Name name, boolean written) {
        int fd = fds.fdOf(dir);
        if (fd < 0) {
            stale.add(dir);
            return null;
        }
        long[] now = DirFds.statAt(fd, name.bytes);
        HeldNode held = dir.children.get(name);
        if (now == DirFds.KEEP) {
            return null;
        }
        if (held != null && now != null && held.isSameFile(now)) {
            if (held.update(now)) {
                version++;
            } else if (written) {
                rewritten.add(held.path(), ++version);
            }
            return null;
        }
        if (held != null) {
            detach(held);
        }
        if (now != null) {
            HeldNode added = added(dir, name, now);
            if (added.isDirectory()) {
                scan(added, false);
            }
        }
        return held;
    }

    private void forgetIfAny(HeldNode gone) {
        if (gone != null) {
            forget(gone);
        }
    }

    /** The other half of a move: {@code moved} (null if it came from outside the tree) is now {@code name} in {@code dir}. */
    private void arrived(HeldNode dir, HeldNode.Name name, HeldNode moved) {
        int fd = fds.fdOf(dir);
        long[] now = fd < 0 ? DirFds.KEEP : DirFds.statAt(fd, name.bytes);
        if (moved == null || now == null || now == DirFds.KEEP || !moved.isSameFile(now) || rescanMoves) {
            if (moved != null) {
                forget(moved);
            }
            if (fd < 0) {
                stale.add(dir);
            } else {
                forgetIfAny(refresh(dir, name, false));
            }
            return;
        }
        HeldNode held = dir.children.get(name);
        if (held != null && held.isSameFile(now)) {
            // An earlier event found it here already, and watched it anew: that node is the one to keep.
            forget(moved);
            if (held.update(now)) {
                version++;
            }
            return;
        }
        if (held != null) {
            detach(held);
            forget(held);
        }
        moved.name = name;
        moved.parent = dir;
        moved.update(now);
        dir.children.put(name, moved);
        version++;
    }

    /** The moves whose destination never came: out of the tree. Then what events could not reach, listed again. */
    void settle() {
        dropMoves();
        List<HeldNode> again = new ArrayList<>(stale);
        stale.clear();  // what fails again now waits for the next sync
        for (HeldNode dir : again) {
            if (dir.isIn(root)) {
                scan(dir, false);
            }
        }
        for (HeldNode dir : new ArrayList<>(unwatched)) {
            if (dir.isIn(root)) {
                scan(dir, true);
            } else {
                unwatched.remove(dir);
            }
        }
    }

    /** After lost events: every directory listed again, and what differs recorded as found by a rescan. */
    void rescanAll() {
        dropMoves();
        stale.clear();
        scan(root, true);
    }

    /**
     * Watches and lists {@code top} and the directories found in it; with {@code all}, every directory
     * below is listed again too, and what differs is recorded as found by a rescan.
     */
    private void scan(HeldNode top, boolean all) {
        boolean was = rescanning;
        rescanning = all;
        ArrayDeque<HeldNode> queue = new ArrayDeque<>();
        queue.add(top);
        for (HeldNode dir; (dir = queue.poll()) != null;) {
            if (dir != root && dir.parent == null || !enters(dir)) {
                continue;  // removed since it was queued, or not to be entered
            }
            int fd = openFresh(dir);
            if (fd >= 0) {
                if (dir.wd < 0) {
                    watch(dir, fd);
                    // Its attributes were read before the watch: what was made in it since changed them.
                    long[] self = DirFds.statAt(fd, EMPTY);
                    if (self != null && self != DirFds.KEEP && dir != root && dir.isSameFile(self) && dir.update(self)) {
                        changedAt(dir);
                    }
                }
                list(dir, fd, all, queue);
            } else {
                // Moved or replaced since it was examined: the event that says so is on its way, and the
                // directory is watched and listed wherever it then is (a move keeps the node as it is).
                stale.add(dir);
            }
        }
        rescanning = was;
    }

    private void dropMoves() {
        movedAway.values().forEach(this::forget);
        movedAway.clear();
        movedEarlier.values().forEach(this::forget);
        movedEarlier.clear();
    }

    /** Whether a snapshot would list {@code dir}: it is on the root's file system and above the depth limit. */
    private boolean enters(HeldNode dir) {
        int depth = 0;
        for (HeldNode n = dir; n.parent != null && depth < maxDepth; n = n.parent) {
            depth++;
        }
        return depth < maxDepth && StatValues.dev(dir.attrs, 0) == StatValues.dev(root.attrs, 0);
    }

    /** A descriptor of its own on {@code dir}, or -1 where its path no longer leads to it. */
    private int openFresh(HeldNode dir) {
        if (dir == root) {
            return DirFds.open(fds.rootFd, DOT, READ | DIRECTORY);
        }
        int parentFd = fds.fdOf(dir.parent);
        return parentFd < 0 ? -1 : fds.checked(DirFds.open(parentFd, dir.name.bytes, DIR_OPEN), dir);
    }

    /**
     * Watches the open directory {@code fd}: through {@code /proc/self/fd}, which leads to that very
     * directory, else by its path without following a final link.
     */
    private void watch(HeldNode dir, int fd) {
        byte[] target = PROC_FD ? ("/proc/self/fd/" + fd).getBytes(StandardCharsets.US_ASCII) : absolute(dir);
        int mask = (dir == root ? ROOT_MASK : MASK) | (PROC_FD ? 0 : IN_DONT_FOLLOW);
        int wd;
        try {
            wd = Natives.inotifyAdd(ifd, target, mask);
        } catch (NativeErrno e) {
            if (dir == root) {
                rootWatchErrno = e.errno;
            } else if (e.errno == ENOSPC) {
                if (unwatched.isEmpty() && warnings.isEmpty()) {
                    warnings.add("inotify's watch limit is reached: directories beyond it (first "
                            + FileNames.display(absolute(dir)) + ") are listed again at each sync instead;"
                            + " raise fs.inotify.max_user_watches to watch them");
                }
                unwatched.add(dir);
            }
            return;
        }
        HeldNode before = byWatch.put(wd, dir);
        if (before != null && before != dir) {
            before.wd = -1;  // the same directory, held twice until a pending move is settled
        }
        dir.wd = wd;
        unwatched.remove(dir);
    }

    private byte[] absolute(HeldNode dir) {
        byte[] rel = dir.path();
        if (rel.length == 0) {
            return rootPath;
        }
        byte[] out = Arrays.copyOf(rootPath, rootPath.length + 1 + rel.length);
        out[rootPath.length] = '/';
        System.arraycopy(rel, 0, out, rootPath.length + 1, rel.length);
        return out;
    }

    /**
     * Lists the open directory {@code fd} (then closed) into {@code dir}'s children: new directories are
     * queued for a scan, and with {@code all} the ones held already too.
     */
    private void list(HeldNode dir, int fd, boolean all, ArrayDeque<HeldNode> queue) {
        long handle;
        try {
            handle = Natives.adoptDir(fd);
        } catch (NativeErrno e) {
            stale.add(dir);  // listed at the next sync
            return;
        }
        Set<HeldNode.Name> seen = new HashSet<>();
        boolean complete = false;
        try {
            for (int count; (count = Natives.readDir(handle, TreeReader.WANT, readFlags, longs, names)) > 0;) {
                int nameAt = 0;
                for (int i = 0; i < count; i++) {
                    int at = i * ENTRY_LONGS;
                    int length = (int) longs[at + NAME_LENGTH];
                    byte[] name = Arrays.copyOfRange(names, nameAt, nameAt + length);
                    nameAt += length;
                    if (dir != root || !hidden.test(name)) {
                        HeldNode.Name key = new HeldNode.Name(name);
                        seen.add(key);
                        listed(dir, key, batchAttrs(at), all, queue);
                    }
                }
            }
            complete = true;
        } catch (NativeErrno e) {
            stale.add(dir);  // read as far as it went: what was not read stays as held until the next sync
        } finally {
            Natives.closeDir(handle);
        }
        if (complete && seen.size() < dir.children.size()) {
            for (HeldNode gone : new ArrayList<>(dir.children.values())) {
                if (!seen.contains(gone.name)) {
                    detach(gone);
                    forget(gone);
                }
            }
        }
    }

    private void listed(HeldNode dir, HeldNode.Name name, long[] now, boolean all, ArrayDeque<HeldNode> queue) {
        HeldNode held = dir.children.get(name);
        if (held != null && held.isSameFile(now)) {
            if (held.update(now)) {
                changedAt(held);
            }
            if (all && held.isDirectory()) {
                queue.add(held);
            }
            return;
        }
        if (held != null) {
            detach(held);
            forget(held);
        }
        HeldNode added = added(dir, name, now);
        if (added.isDirectory()) {
            queue.add(added);
        }
    }

    /** A new node; its caller has a new directory scanned. */
    private HeldNode added(HeldNode dir, HeldNode.Name name, long[] now) {
        HeldNode node = new HeldNode(name, dir, now);
        dir.children.put(name, node);
        changedAt(node);
        return node;
    }

    private void changedAt(HeldNode node) {
        version++;
        if (rescanning) {
            rescanned.add(node.path(), version);
        }
    }

    /** Takes {@code node} out of its parent, keeping its subtree and watches (a move may bring it back). */
    private void detach(HeldNode node) {
        changedAt(node);
        node.parent.children.remove(node.name);
        node.parent = null;
    }

    /** Gives up a detached subtree: its watches, descriptors and pending work. */
    private void forget(HeldNode top) {
        ArrayDeque<HeldNode> todo = new ArrayDeque<>();
        todo.add(top);
        for (HeldNode n; (n = todo.poll()) != null;) {
            if (n.children == null) {
                continue;
            }
            if (n.wd >= 0 && byWatch.remove(n.wd, n)) {
                Natives.inotifyRemove(ifd, n.wd);
            }
            n.wd = -1;
            fds.forget(n);
            unwatched.remove(n);
            todo.addAll(n.children.values());
        }
    }

    private long[] batchAttrs(int at) {
        long[] v = new long[HeldNode.ATTRS];
        if (longs[at + ERROR] != 0) {  // not examined: its type at most, as a snapshot keeps it
            v[ST_MODE] = StatValues.typeBits(StatValues.mode(longs, at));
            v[HeldNode.READ_BITS] = longs[at + HAVE] & TYPE;
            return v;
        }
        System.arraycopy(longs, at, v, 0, HeldNode.READ_BITS);
        v[HeldNode.READ_BITS] = longs[at + HAVE] & TreeReader.WANT;
        return v;
    }

    /** Closes every descriptor the tree holds; the inotify instance's owner closes that. */
    void close() {
        fds.closeAll();
    }
}
