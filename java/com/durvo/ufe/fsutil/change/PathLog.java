package com.durvo.ufe.fsutil.change;

import java.util.HashSet;
import java.util.Iterator;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Set;

/**
 * Paths of a watcher's tree, each with the latest tree version at which something of a kind happened
 * there (a rescan found a change, a write changed no attribute). Bounded: past {@link #LIMIT} paths the
 * oldest are dropped, and the log then answers only for clocks after them.
 */
final class PathLog {
    static final int LIMIT = 1 << 20;

    /** In the order of their versions: a path logged again moves to the end. */
    private final LinkedHashMap<HeldNode.Name, Long> latest = new LinkedHashMap<>();
    /** The log holds every path logged after this version. */
    private long from;

    void add(byte[] path, long version) {
        HeldNode.Name key = new HeldNode.Name(path);
        latest.remove(key);
        latest.put(key, version);
        if (latest.size() > LIMIT) {
            Iterator<Map.Entry<HeldNode.Name, Long>> eldest = latest.entrySet().iterator();
            from = eldest.next().getValue();
            eldest.remove();
        }
    }

    /** The paths logged after version {@code since} up to {@code until}; null when the log no longer reaches back so far. */
    Set<HeldNode.Name> between(long since, long until) {
        if (since < from) {
            return null;
        }
        Set<HeldNode.Name> out = new HashSet<>();
        latest.forEach((path, version) -> {
            if (version > since && version <= until) {
                out.add(path);
            }
        });
        return out;
    }
}
