package com.durvo.ufe.fsutil;

import java.util.ArrayDeque;
import java.util.NoSuchElementException;

/**
 * The ordered walk: one thread, depth first, a directory delivered just before
 * its entries. The directories on the way down stay open, so each one below
 * the root is opened relative to its parent, whatever the path's length.
 */
final class TreeWalk implements FolderListing.Walk {
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
    private final FolderListing.Errors errors;
    private ChildFile next;
    private ChildFile descend;
    private boolean closed;  // guarded by this, as the stack is

    TreeWalk(DirStream root, FolderListing.Errors errors) {
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
                    push(top.dir.openChild(dir));
                } catch (NativeErrno e) {
                    errors.report(e.forFile(dir.pathBytes()));
                }
                continue;
            }
            if (top.next < top.entries.length) {
                next = top.entries[top.next++];
                if (next.isDirectory()) {
                    descend = next;
                }
                continue;
            }
            DirStream.Batch batch = DirStream.Batch.ofThread();
            int count = 0;
            try {
                count = top.dir.read(batch);
            } catch (NativeErrno e) {
                errors.report(e.forFile(top.dir.path));
            }
            if (count == 0) {
                pop(top);
            } else {
                top.entries = batch.entries(top.dir, count);
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

    private synchronized void push(DirStream dir) {
        if (dir == null) {
            return;  // the parent was closed under us
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
