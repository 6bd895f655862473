package com.durvo.ufe.fsutil;

import java.lang.annotation.Native;

/**
 * What the listing natives and the Java side agree on: the layout of one entry
 * in a batch. The library is compiled against the header javac makes of this
 * class, so a change here reaches both sides.
 */
final class EntryLayout {
    /** Longs of a path's stat values, in fillStat's order (see the slots below). */
    @Native static final int STAT_LONGS = 16;

    /** Longs per entry in a batch: the stat values, then the name's length. */
    @Native static final int ENTRY_LONGS = STAT_LONGS + 1;

    /** Where an entry's name length is. */
    @Native static final int NAME_LENGTH = STAT_LONGS;

    private EntryLayout() {
    }
}
