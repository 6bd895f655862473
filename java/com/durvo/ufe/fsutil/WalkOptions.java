package com.durvo.ufe.fsutil;

import com.durvo.ufe.fsutil.internal.engine.WalkPlan;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import java.io.IOException;
import java.util.Objects;
import java.util.function.Consumer;
import java.util.function.Predicate;

/**
 * How a walk ({@link FolderListing#walk(String, WalkOptions)}) or a listing
 * ({@link FolderListing#open(String, WalkOptions)}) reads: which attributes
 * of each entry, how deep, whether it follows symbolic links or stays on one
 * file system, which directories it enters, and with how many threads. A
 * listing uses only what applies to one directory: the attributes, the
 * following of links and {@link Builder#dontSync}.
 *
 * <pre>{@code
 * WalkOptions names = WalkOptions.builder().readNamesAndTypes().threads(4).build();
 * try (Stream<ChildFile> s = FolderListing.walk("/srv", names)) { ... }
 * }</pre>
 */
public final class WalkOptions {
    /** The most threads a walk takes. */
    public static final int MAX_THREADS = 128;

    private static final WalkOptions DEFAULTS = builder().build();

    final int want;
    final int flags;
    final int maxDepth;
    final boolean followLinks;
    final boolean sameFileSystem;
    final Predicate<? super ChildFile> directoryFilter;
    final int threads;
    final Consumer<? super IOException> onError;
    /** What the walk engine reads of these options. */
    final WalkPlan plan;

    private WalkOptions(Builder b) {
        want = b.want;
        flags = (b.followLinks ? NativeConstants.FOLLOW : 0) | (b.dontSync ? NativeConstants.DONT_SYNC : 0);
        maxDepth = b.maxDepth;
        followLinks = b.followLinks;
        sameFileSystem = b.sameFileSystem;
        directoryFilter = b.directoryFilter;
        threads = b.threads;
        onError = b.onError;
        plan = new WalkPlan(want, flags, maxDepth, followLinks, sameFileSystem, directoryFilter, threads);
    }

    /**
     * Every {@code lstat} attribute, any depth, no link followed, one thread,
     * errors thrown at the end of the walk.
     *
     * @return the defaults
     */
    public static WalkOptions defaults() {
        return DEFAULTS;
    }

    /**
     * A builder that starts from {@link #defaults()}.
     *
     * @return a new builder
     */
    public static Builder builder() {
        return new Builder();
    }

    /** Builds {@link WalkOptions}; each setter returns the builder. */
    public static final class Builder {
        private int want = NativeConstants.LSTAT;
        private boolean dontSync;
        private int maxDepth = Integer.MAX_VALUE;
        private boolean followLinks;
        private boolean sameFileSystem;
        private Predicate<? super ChildFile> directoryFilter;
        private int threads = 1;
        private Consumer<? super IOException> onError;

        private Builder() {
        }

        /**
         * Names and types only: the type comes from the directory itself, and an entry is examined only
         * where the file system leaves its type unknown.
         *
         * @return this builder
         */
        public Builder readNamesAndTypes() {
            want = NativeConstants.TYPE;
            return this;
        }

        /**
         * Every {@code lstat} attribute (the default).
         *
         * @return this builder
         */
        public Builder readAll() {
            want = NativeConstants.LSTAT;
            return this;
        }

        /**
         * These attributes and the type, asked of the system with {@code statx} and only these (where the
         * system has no {@code statx}: every {@code lstat} value, never a creation time or mount id).
         *
         * @param attributes at least one attribute
         * @return this builder
         * @throws IllegalArgumentException when none is given
         */
        public Builder read(EntryAttribute... attributes) {
            if (attributes.length == 0) {
                throw new IllegalArgumentException("nothing to read: name at least one EntryAttribute");
            }
            int bits = NativeConstants.TYPE;
            for (EntryAttribute a : attributes) {
                bits |= Objects.requireNonNull(a, "attribute").bit;
            }
            want = bits;
            return this;
        }

        /**
         * Ask network file systems for the attributes they have at hand rather than wait on the server
         * ({@code AT_STATX_DONT_SYNC}), and trigger no automount when examining an entry. Where the system
         * cannot, entries are examined as usual.
         *
         * @param dontSync whether to
         * @return this builder
         */
        public Builder dontSync(boolean dontSync) {
            this.dontSync = dontSync;
            return this;
        }

        /**
         * How deep to go: 1 delivers the root's entries only, 2 also theirs, and so on; 0 delivers nothing.
         *
         * @param maxDepth at least 0
         * @return this builder
         * @throws IllegalArgumentException when negative
         */
        public Builder maxDepth(int maxDepth) {
            if (maxDepth < 0) {
                throw new IllegalArgumentException("maxDepth must be at least 0: " + maxDepth);
            }
            this.maxDepth = maxDepth;
            return this;
        }

        /**
         * Follow symbolic links: an entry that is a link is delivered with the attributes of what it points
         * to (a dangling link as itself), and a link to a directory is entered. A directory met again below
         * itself is not entered; its {@link java.nio.file.FileSystemLoopException} goes where errors go.
         *
         * @param followLinks whether to
         * @return this builder
         */
        public Builder followLinks(boolean followLinks) {
            this.followLinks = followLinks;
            return this;
        }

        /**
         * Enter no directory on another file system than the root's (as {@code find -xdev}); such a
         * directory is still delivered.
         *
         * @param sameFileSystem whether to
         * @return this builder
         */
        public Builder sameFileSystem(boolean sameFileSystem) {
            this.sameFileSystem = sameFileSystem;
            return this;
        }

        /**
         * Enter only the directories this accepts; a directory it refuses is delivered but never opened.
         * With several threads it is called from the walk's threads, so it must be safe to call from any.
         *
         * @param filter the test, or null to enter every directory
         * @return this builder
         */
        public Builder directoryFilter(Predicate<? super ChildFile> filter) {
            this.directoryFilter = filter;
            return this;
        }

        /**
         * How many threads read directories: 1 (the default) walks in order on the consuming thread, depth
         * first with each directory just before its entries; more deliver entries in no particular order.
         *
         * @param threads from 1 to {@link #MAX_THREADS}
         * @return this builder
         * @throws IllegalArgumentException outside that range
         */
        public Builder threads(int threads) {
            if (threads < 1 || threads > MAX_THREADS) {
                throw new IllegalArgumentException("threads must be from 1 to " + MAX_THREADS + ": " + threads);
            }
            this.threads = threads;
            return this;
        }

        /**
         * Where the errors of directories that cannot be read go, on the consuming thread; without a
         * handler the stream throws them once every other entry is delivered, as one
         * {@link java.io.UncheckedIOException} with the later ones suppressed.
         *
         * @param onError the handler, or null
         * @return this builder
         */
        public Builder onError(Consumer<? super IOException> onError) {
            this.onError = onError;
            return this;
        }

        /**
         * The options.
         *
         * @return a new value
         */
        public WalkOptions build() {
            return new WalkOptions(this);
        }
    }
}
