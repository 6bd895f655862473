package com.durvo.ufe.fsutil.change;

import static com.durvo.ufe.fsutil.internal.natives.NativeConstants.*;

import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * Open descriptors of held directories, the most recently used kept (so a burst of events in a few
 * directories opens each once) and the root's always. A directory is opened relative to its parent's
 * descriptor without following a link, and only a descriptor of the very directory the tree holds
 * (same device and inode) is kept: where the path leads elsewhere, a move not yet seen is pending.
 * Entries are examined through these descriptors, never by a path from the root.
 */
final class DirFds {
    static final int CAPACITY = 128;
    private static final byte[] SELF = {};

    final int rootFd;
    private final HeldNode root;
    private final LinkedHashMap<HeldNode, Integer> open = new LinkedHashMap<>(CAPACITY * 2, 0.75f, true) {
        private static final long serialVersionUID = 1L;

        @Override
        protected boolean removeEldestEntry(Map.Entry<HeldNode, Integer> eldest) {
            if (size() <= CAPACITY) {
                return false;
            }
            Natives.close(eldest.getValue());
            return true;
        }
    };

    DirFds(int rootFd, HeldNode root) {
        this.rootFd = rootFd;
        this.root = root;
    }

    /** The descriptor of {@code dir}, owned here; -1 where its path from the root does not lead to it now. */
    int fdOf(HeldNode dir) {
        if (dir == root) {
            return rootFd;
        }
        Integer known = open.get(dir);
        if (known != null) {
            return known;
        }
        // Opened from the nearest open ancestor down, without recursion (a tree may be deep).
        List<HeldNode> down = new ArrayList<>();
        int fd = -1;
        for (HeldNode n = dir; fd < 0; n = n.parent) {
            if (n == null) {
                return -1;  // moved away: no path leads to it yet
            }
            Integer at = n == root ? Integer.valueOf(rootFd) : open.get(n);
            if (at != null) {
                fd = at;
            } else {
                down.add(n);
            }
        }
        for (int i = down.size() - 1; i >= 0; i--) {
            HeldNode n = down.get(i);
            fd = checked(open(fd, n.name.bytes, READ | DIRECTORY | NOFOLLOW), n);
            if (fd < 0) {
                return -1;
            }
            open.put(n, fd);
        }
        return fd;
    }

    /** {@code fd} if it is open on {@code dir} itself (same device and inode), else -1 with it closed. */
    int checked(int fd, HeldNode dir) {
        if (fd < 0) {
            return -1;
        }
        long[] st = statAt(fd, SELF);
        if (st == null || st == KEEP || !StatValues.sameFile(st, dir.attrs)) {
            Natives.close(fd);
            return -1;
        }
        return fd;
    }

    void forget(HeldNode dir) {
        Integer fd = open.remove(dir);
        if (fd != null) {
            Natives.close(fd);
        }
    }

    static int open(int dirFd, byte[] name, int options) {
        try {
            return (int) Natives.open(dirFd, name, options, 0);
        } catch (NativeErrno e) {
            return -1;
        }
    }

    /** Stat values that say nothing (the entry could not be examined): the held entry stays as it is. */
    static final long[] KEEP = new long[0];

    /** The attributes of {@code name} in the open directory {@code fd}; null when there is none, else {@link #KEEP} on failure. */
    static long[] statAt(int fd, byte[] name) {
        long[] out = new long[STATX_LONGS];
        try {
            Natives.stat(fd, name, false, out);
        } catch (NativeErrno e) {
            return e.errno == ENOENT || e.errno == ENOTDIR ? null : KEEP;
        }
        out[HeldNode.READ_BITS] = TreeReader.WANT & ~(StatValues.birthKnown(out) ? 0 : BTIME_BIT);
        return Arrays.copyOf(out, HeldNode.ATTRS);
    }

    void closeAll() {
        open.values().forEach(Natives::close);
        open.clear();
        Natives.close(rootFd);
    }
}
