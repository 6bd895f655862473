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
 * Given a {@link BatchSink}, it hands each batch over as read, in no such
 * order, and its iterator only walks to the end.
 */
public final class TreeWalk implements Walk {
    /** An open directory and what was read of it but not yet delivered. */
    private static final class Frame {
        final DirStream dir;
        /** Read, not yet delivered; with a sink, the directories of a batch handed over to enter. */
        ChildFile[] entries = new ChildFile[0];
        int next;
        /** With a sink, the walk's number of entries[0], the others' following it. */
        int firstNumber;

        Frame(DirStream dir) {
            this.dir = dir;
        }
    }

    private final ArrayDeque<Frame> stack = new ArrayDeque<>();
    private final Descent descent;
    private final WalkErrors errors;
    private final BatchSink sink;
    private ChildFile next;
    private ChildFile descend;
    private int descendNumber;
    private boolean closed;  // guarded by this, as the stack is

    /** A walk below {@code root}; with {@code sink} not null, its batches go there. */
    public TreeWalk(DirStream root, Descent descent, WalkErrors errors, BatchSink sink) {
        this.descent = descent;
        this.errors = errors;
        this.sink = sink;
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
                    push(descent.open(top.dir, dir, descendNumber, this::above));
                } catch (IOException e) {
                    errors.report(e);
                }
                continue;
            }
            if (top.next < top.entries.length) {
                ChildFile e = top.entries[top.next++];
                if (sink != null) {
                    descend = e;
                    descendNumber = top.firstNumber + top.next - 1;
                } else {
                    next = e;
                    if (descent.enters(e)) {
                        descend = e;
                    }
                }
                continue;
            }
            ChildFile[] read = null;
            try {
                if (sink == null) {
                    read = top.dir.next(descent.options.want(), descent.options.flags());
                } else {
                    DirStream.Entering entering = top.dir.nextInto(descent, sink);
                    if (entering != null) {
                        read = entering.dirs();
                        top.firstNumber = entering.first();
                    }
                }
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
