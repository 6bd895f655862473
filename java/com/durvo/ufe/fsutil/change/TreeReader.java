package com.durvo.ufe.fsutil.change;

import com.durvo.ufe.fsutil.WalkOptions;
import com.durvo.ufe.fsutil.internal.engine.BatchSink;
import com.durvo.ufe.fsutil.internal.engine.DirStream;
import com.durvo.ufe.fsutil.internal.engine.EntryAccess;
import com.durvo.ufe.fsutil.internal.engine.Walk;
import com.durvo.ufe.fsutil.internal.engine.WalkErrors;
import com.durvo.ufe.fsutil.internal.engine.WalkPlan;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Reads a tree into a snapshot with the walk engine: every entry's
 * attributes as the snapshot keeps them, never through a link, never onto
 * another file system (a mount point is kept, not entered).
 *
 * <p>The walk hands its batches over as read, and only the directories it
 * enters are made entries of; the builder sorts the rest out. Each walking
 * thread fills a reader of its own (a thread that only handed its entries over
 * would leave the filling to one more thread competing for the same cores),
 * and entries come in any order, an entry possibly before its directory and in
 * another thread's reader: an entry is first kept under the number the walk
 * gave its directory, and the numbers become indices when the readers are
 * joined after the walk.
 */
final class TreeReader implements BatchSink {
    /** What a snapshot keeps: the type, the stat values it compares, the creation time where there is one. */
    static final int WANT = NativeConstants.TYPE | NativeConstants.MODE | NativeConstants.NLINK
            | NativeConstants.UID | NativeConstants.GID | NativeConstants.MTIME | NativeConstants.CTIME
            | NativeConstants.INO | NativeConstants.SIZE | NativeConstants.BTIME_BIT | NativeConstants.DEV;

    private final SnapshotBuilder builder;
    /** The directories entered that came here: their numbers, their indices, how many. */
    private int[] enteredNumbers = new int[256];
    private int[] enteredAt = new int[256];
    private int entered;

    private TreeReader(long readSince) {
        builder = new SnapshotBuilder(readSince);
    }

    /**
     * The snapshot of the directory at {@code path} ({@code absolute}: the same as an absolute path), read
     * as {@code options} say of threads, depth, directories entered and errors.
     */
    static TreeSnapshot read(byte[] path, byte[] absolute, WalkOptions options) throws IOException {
        EntryAccess.Maker access = EntryAccess.get();
        WalkPlan asked = access.plan(options);
        WalkPlan plan = new WalkPlan(WANT, asked.flags() & NativeConstants.DONT_SYNC, asked.maxDepth(), false,
                true, asked.directoryFilter(), asked.threads());
        long began = TreeSnapshot.now();
        DirStream top;
        try {
            top = DirStream.open(path, 1);
        } catch (NativeErrno e) {
            throw e.forFile(path);
        }
        if (plan.maxDepth() == 0) {
            top.close();
            return new SnapshotBuilder(began).build(absolute, began, 1);
        }
        WalkErrors errors = new WalkErrors(access.onError(options));
        List<TreeReader> parts = new ArrayList<>();
        try (Walk walk = Walk.start(top, plan, errors, () -> {
            TreeReader part = new TreeReader(began);
            synchronized (parts) {
                parts.add(part);
            }
            return part;
        })) {
            walk.hasNext();  // only waits for the end and its errors: no entry comes this way
        } catch (UncheckedIOException e) {
            throw e.getCause();
        }
        // The walk's close has joined its threads, so their parts are complete and seen here.
        return join(parts).build(absolute, began, plan.threads());
    }

    @Override
    public void accept(int dir, int count, long[] values, byte[] names, int[] enters) {
        int name = 0;
        for (int i = 0; i < count; i++) {
            int at = i * NativeConstants.ENTRY_LONGS;
            int length = (int) values[at + NativeConstants.NAME_LENGTH];
            int index = builder.add(dir, names, name, length, values, at, (int) values[at + NativeConstants.HAVE]);
            name += length;
            if (enters[i] != 0) {
                if (entered == enteredAt.length) {
                    enteredAt = Arrays.copyOf(enteredAt, entered * 2);
                    enteredNumbers = Arrays.copyOf(enteredNumbers, entered * 2);
                }
                enteredAt[entered] = index;
                enteredNumbers[entered++] = enters[i];
            }
        }
    }

    /**
     * The parts' entries in one builder, the largest part's first (it is not copied), each entry under
     * its directory's index there: -1 for the top directory's entries.
     */
    private static SnapshotBuilder join(List<TreeReader> parts) {
        parts.sort((a, b) -> Integer.compare(b.builder.size(), a.builder.size()));
        int numbers = 1;
        for (TreeReader part : parts) {
            for (int d = 0; d < part.entered; d++) {
                numbers = Math.max(numbers, part.enteredNumbers[d] + 1);
            }
        }
        // Every directory whose entries came was entered, so its number came with its index.
        int[] indexOf = new int[numbers];
        indexOf[0] = -1;
        int offset = 0;
        for (TreeReader part : parts) {
            for (int d = 0; d < part.entered; d++) {
                indexOf[part.enteredNumbers[d]] = offset + part.enteredAt[d];
            }
            offset += part.builder.size();
        }
        SnapshotBuilder joined = parts.get(0).builder;
        joined.mapParents(indexOf);
        for (int k = 1; k < parts.size(); k++) {
            joined.append(parts.get(k).builder, indexOf);
        }
        return joined;
    }
}
