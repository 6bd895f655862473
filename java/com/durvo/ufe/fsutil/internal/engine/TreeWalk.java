package com.durvo.ufe.fsutil.internal.engine;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import java.io.IOException;
import java.util.ArrayDeque;
import java.util.NoSuchElementException;

/**
 * The ordered walk: one thread, depth first, a directory delivered just before
 * its entries. The directories on the way down stay open, so each one below
 * the root is opened relative to its parent, whatever the path's length.
 */
public final class TreeWalk implements Walk {
    /** An open directory and what was read of it but not yet delivered. */
    private static final class Frame {
        final DirStream dir;
        ChildFile[] entries = new ChildFile[0];
        int next;

        Frame(DirStream dir) {
            this.dir = dir;
        }
    }

    private final ArrayDeque<Frame> stack = new ArrayDeque<>();
    private final Descent descent;
    private final WalkErrors errors;
    private ChildFile next;
    private ChildFile descend;
    private boolean closed;  // guarded by this, as the stack is

    public TreeWalk(DirStream root, Descent descent, WalkErrors errors) {
        this.descent = descent;
        this.errors = errors;
        stack.push(new Frame(root));
    }

    @Override
    public boolean hasNext() {
        while (next == null) {
            Frame top;
            synchronized (this) {
                top = stack.peek();
            }
            if (top == null) {
                errors.finish();
                return false;
            }
            if (descend != null) {
                ChildFile dir = descend;
                descend = null;
                try {
                    push(descent.open(top.dir, dir, this::above));
                } catch (IOException e) {
                    errors.report(e);
                }
                continue;
            }
            if (top.next < top.entries.length) {
                next = top.entries[top.next++];
                if (descent.enters(next)) {
                    descend = next;
                }
                continue;
            }
            ChildFile[] read = null;
            try {
                read = top.dir.next(descent.options.want(), descent.options.flags());
            } catch (NativeErrno e) {
                errors.report(e.forFile(top.dir.path));
            }
            if (read == null) {
                pop(top);
            } else {
                top.entries = read;
                top.next = 0;
            }
        }
        return true;
    }

    @Override
    public ChildFile next() {
        if (!hasNext()) {
            throw new NoSuchElementException();
        }
        ChildFile current = next;
        next = null;
        return current;
    }

    private synchronized boolean above(long dev, long ino) {
        for (Frame f : stack) {
            long[] id = f.dir.knownIdentity();
            if (id != null && id[0] == dev && id[1] == ino) {
                return true;
            }
        }
        return false;
    }

    private synchronized void push(DirStream dir) {
        if (dir == null) {
            return;  // not to be read, or the parent was closed under us
        }
        if (closed) {
            dir.close();
        } else {
            stack.push(new Frame(dir));
        }
    }

    private synchronized void pop(Frame top) {
        top.dir.close();
        stack.remove(top);
    }

    /** Closes every directory still open; the walk then ends. Safe from any thread. */
    @Override
    public void close() {
        synchronized (this) {
            closed = true;
            for (Frame f : stack) {
                f.dir.close();
            }
        }
    }
}
