package com.durvo.ufe.fsutil.internal.engine;

import com.durvo.ufe.fsutil.ChildFile;
import java.util.function.Predicate;

/**
 * What a walk reads of its options: the attributes and read flags of the
 * listing natives, and where it descends.
 */
public record WalkPlan(int want, int flags, int maxDepth, boolean followLinks, boolean sameFileSystem,
        Predicate<? super ChildFile> directoryFilter, int threads) {
}
