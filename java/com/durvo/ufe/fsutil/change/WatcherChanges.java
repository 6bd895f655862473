package com.durvo.ufe.fsutil.change;

import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

/** A watcher's held tree as a snapshot, and its changes since a clock in {@link TreeSnapshot#diff}'s form. */
final class WatcherChanges {
    private WatcherChanges() {
    }

    /** The snapshot of the held tree below {@code root}, of the tree at {@code absoluteRoot}, as of now. */
    static TreeSnapshot snapshotOf(HeldNode root, byte[] absoluteRoot) {
        long now = TreeSnapshot.now();
        SnapshotBuilder builder = new SnapshotBuilder(now);
        ArrayDeque<HeldNode> nodes = new ArrayDeque<>();
        ArrayDeque<Integer> indices = new ArrayDeque<>();
        nodes.push(root);
        indices.push(-1);
        while (!nodes.isEmpty()) {
            HeldNode dir = nodes.pop();
            int dirIndex = indices.pop();
            for (HeldNode child : dir.children.values()) {
                long[] v = child.attrs;
                int have = (int) v[HeldNode.READ_BITS];
                byte[] name = child.name.bytes;
                int index = builder.add(dirIndex, name, 0, name.length, v, 0, have);
                if (child.children != null && !child.children.isEmpty()) {
                    nodes.push(child);
                    indices.push(index);
                }
            }
        }
        return builder.build(absoluteRoot, now, 1);
    }

    /**
     * The changes from {@code before} to {@code after}, two snapshots of a watcher's tree. The watcher saw
     * every write, so a file uncertain in {@code before} is reported only if it was {@code rewritten} (a
     * write that changed no attribute, which the diff cannot see, is reported as modified too); without
     * that log (null: it no longer reaches back to {@code before}) as the diff reports it. Changes at or
     * below a path in {@code rescanned} (null: not known) are marked as found by a rescan.
     */
    static List<TreeChange> between(TreeSnapshot before, TreeSnapshot after, Set<HeldNode.Name> rescanned,
            Set<HeldNode.Name> rewritten) {
        Set<HeldNode.Name> written = rewritten != null ? rewritten : Set.of();
        Set<HeldNode.Name> found = rescanned != null ? rescanned : Set.of();
        // Paths are made only where a log needs them: most answers have neither rewrites nor rescans.
        boolean byPath = !written.isEmpty() || !found.isEmpty();
        Set<HeldNode.Name> reported = new HashSet<>();
        List<TreeChange> out = new ArrayList<>();
        for (TreeChange c : TreeSnapshot.diff(before, after)) {
            HeldNode.Name path = byPath || c.possiblyModified() ? new HeldNode.Name(c.pathBytes()) : null;
            if (c.possiblyModified() && rewritten != null && !written.contains(path)) {
                if (c.kind() == TreeChange.Kind.MODIFIED) {
                    continue;
                }
                c = new TreeChange(c.kind(), c.before(), c.after(), false, false);
            }
            if (byPath) {
                reported.add(path);
                if (isBelow(path.bytes, found) || c.kind() == TreeChange.Kind.RENAMED && isBelow(c.oldPathBytes(), found)) {
                    c = c.asFoundByRescan();
                }
            }
            out.add(c);
        }
        for (HeldNode.Name path : written) {
            TreeEntry was = reported.contains(path) ? null : before.entry(path.bytes);
            TreeEntry is = was == null ? null : after.entry(path.bytes);
            if (is != null) {
                TreeChange c = new TreeChange(TreeChange.Kind.MODIFIED, was, is, false, false);
                out.add(isBelow(path.bytes, found) ? c.asFoundByRescan() : c);
            }
        }
        return out;
    }

    /** Whether {@code path} or a directory above it is in {@code paths}. */
    private static boolean isBelow(byte[] path, Set<HeldNode.Name> paths) {
        if (paths.isEmpty()) {
            return false;
        }
        for (int end = path.length; end > 0; end--) {
            if ((end == path.length || path[end] == '/')
                    && paths.contains(new HeldNode.Name(java.util.Arrays.copyOf(path, end)))) {
                return true;
            }
        }
        return false;
    }
}
