package com.durvo.ufe.fsutil.change;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.WalkOptions;
import com.durvo.ufe.fsutil.internal.engine.DirStream;
import com.durvo.ufe.fsutil.internal.engine.EntryAccess;
import com.durvo.ufe.fsutil.internal.engine.Walk;
import com.durvo.ufe.fsutil.internal.engine.WalkErrors;
import com.durvo.ufe.fsutil.internal.engine.WalkPlan;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.ByteBuffer;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Map;
import java.util.function.Consumer;

/**
 * Reads a tree into a snapshot with the walk engine: every entry's
 * attributes as the snapshot keeps them, never through a link, never onto
 * another file system (a mount point is kept, not entered).
 *
 * <p>The ordered walk delivers each directory right before its entries, so
 * an entry's directory is the last one met one level up. With several threads
 * each walking thread fills a reader of its own (a thread that only handed its
 * entries over would leave the filling to one more thread competing for the
 * same cores), and entries come in any order, an entry possibly before its
 * directory and in another thread's reader: each names its directory by the
 * path array all entries of one directory read share, so an entry is first
 * kept under a number for that array, and the numbers become indices when the
 * readers are joined after the walk.
 */
final class TreeReader implements Consumer<ChildFile[]> {
    /** What a snapshot keeps: the type, the stat values it compares, the creation time where there is one. */
    static final int WANT = NativeConstants.TYPE | NativeConstants.MODE | NativeConstants.NLINK
            | NativeConstants.UID | NativeConstants.GID | NativeConstants.MTIME | NativeConstants.CTIME
            | NativeConstants.INO | NativeConstants.SIZE | NativeConstants.BTIME_BIT | NativeConstants.DEV;

    private final EntryAccess.Maker access = EntryAccess.get();
    private final SnapshotBuilder builder;
    private final boolean ordered;
    /** In the ordered walk: the index of the last directory met at each depth, -1 for the root. */
    private int[] lastAtDepth = {-1, -1, -1, -1, -1, -1, -1, -1};
    private final long[] values = new long[NativeConstants.ENTRY_LONGS];
    /** The directories' path arrays met, numbered in the order met. */
    private final Map<byte[], Integer> parentNumbers = new IdentityHashMap<>();
    private final List<byte[]> parentPaths = new ArrayList<>();
    private byte[] lastParent;
    private int lastNumber;
    /** Each directory entry's index, and its path as its own entries will name it. */
    private int[] directories = new int[256];
    private final List<byte[]> directoryPaths = new ArrayList<>();

    private TreeReader(long readSince, boolean ordered) {
        builder = new SnapshotBuilder(readSince);
        this.ordered = ordered;
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
        if (plan.threads() == 1) {
            TreeReader reader = new TreeReader(began, true);
            try (Walk walk = Walk.start(top, plan, errors)) {
                while (walk.hasNext()) {
                    reader.add(walk.next());
                }
            } catch (UncheckedIOException e) {
                throw e.getCause();
            }
            return reader.builder.build(absolute, began, 1);
        }
        List<TreeReader> parts = new ArrayList<>();
        byte[] rootPath = top.path;
        try (Walk walk = Walk.start(top, plan, errors, () -> {
            TreeReader part = new TreeReader(began, false);
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
        return join(parts, rootPath).build(absolute, began, plan.threads());
    }

    @Override
    public void accept(ChildFile[] batch) {
        for (ChildFile f : batch) {
            add(f);
        }
    }

    /**
     * The parts' entries in one builder, the largest part's first (it is not copied), each entry under
     * its directory's index there: -1 for {@code rootPath}'s entries, {@link SnapshotBuilder#NO_PARENT}
     * under a directory no part holds.
     */
    private static SnapshotBuilder join(List<TreeReader> parts, byte[] rootPath) {
        parts.sort((a, b) -> Integer.compare(b.builder.size(), a.builder.size()));
        Map<ByteBuffer, Integer> directoryAt = new HashMap<>();
        int offset = 0;
        for (TreeReader part : parts) {
            for (int d = 0; d < part.directoryPaths.size(); d++) {
                directoryAt.put(ByteBuffer.wrap(part.directoryPaths.get(d)), offset + part.directories[d]);
            }
            offset += part.builder.size();
        }
        SnapshotBuilder joined = parts.get(0).builder;
        joined.mapParents(parts.get(0).parentIndices(directoryAt, rootPath));
        for (int k = 1; k < parts.size(); k++) {
            joined.append(parts.get(k).builder, parts.get(k).parentIndices(directoryAt, rootPath));
        }
        return joined;
    }

    private void add(ChildFile f) {
        byte[] name = access.nameBytes(f);
        int have = access.values(f, values);
        int index = builder.add(ordered ? lastAtDepth[f.depth() - 1] : parentNumber(f), name, 0, name.length,
                values, 0, have);
        if (!f.isDirectory()) {
            return;
        }
        if (ordered) {
            if (f.depth() == lastAtDepth.length) {
                lastAtDepth = Arrays.copyOf(lastAtDepth, f.depth() * 2);
            }
            lastAtDepth[f.depth()] = index;
            return;
        }
        if (directoryPaths.size() == directories.length) {
            directories = Arrays.copyOf(directories, directories.length * 2);
        }
        directories[directoryPaths.size()] = index;
        directoryPaths.add(f.pathBytes());
    }

    /** The number of the path array that names the entry's directory. */
    private int parentNumber(ChildFile f) {
        byte[] parent = access.parentPath(f);
        if (parent != lastParent) {
            Integer known = parentNumbers.get(parent);
            if (known == null) {
                known = parentPaths.size();
                parentNumbers.put(parent, known);
                parentPaths.add(parent);
            }
            lastParent = parent;
            lastNumber = known;
        }
        return lastNumber;
    }

    /** For each path array's number, the index of its directory in {@code directoryAt}: -1 for the root's. */
    private int[] parentIndices(Map<ByteBuffer, Integer> directoryAt, byte[] rootPath) {
        int[] map = new int[parentPaths.size()];
        for (int k = 0; k < map.length; k++) {
            byte[] path = parentPaths.get(k);
            // A directory the walk never delivered: its entries are left out.
            map[k] = path == rootPath ? -1 : directoryAt.getOrDefault(ByteBuffer.wrap(path), SnapshotBuilder.NO_PARENT);
        }
        return map;
    }
}
