package com.durvo.ufe.fsutil.tool;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FolderListing;
import com.durvo.ufe.fsutil.WalkOptions;

import java.io.IOException;
import java.io.PrintStream;
import java.io.UncheckedIOException;
import java.nio.ByteBuffer;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.Arrays;
import java.util.Deque;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.stream.Stream;

/** {@code fsutil du}: disk usage of trees, counted as GNU du counts it. */
final class Du {
    static final String HELP = String.join("\n",
            "Usage: fsutil du [OPTION]... [PATH]...",
            "Show the disk space used by each PATH (the current directory when none is",
            "given) and by every directory below it, deepest first: the blocks the files",
            "occupy, so a sparse file counts only what it holds. A file with several hard",
            "links counts once; symbolic links are counted themselves, never followed.",
            "",
            "  -s, --summarize       one total for each PATH only",
            "  -a, --all             a line for every file too, not only directories",
            "  -h, --human-readable  sizes in powers of 1024 (1.5K, 234M, 2.0G)",
            "      --threads N       read directories with N threads (default 1); with more",
            "                        than one the lines below a PATH come in no set order",
            "      --help            show this help",
            "",
            "Without -h sizes are in 1024-byte blocks, rounded up. A PATH inside one",
            "already counted is not counted again.",
            "Exit status: 0 if every file could be read, 1 otherwise.");

    // In GNU du's order, which an ambiguous prefix lists.
    private static final List<String> LONG_OPTIONS = List.of("--all", "--human-readable", "--summarize", "--threads=",
            "--help");

    private final Out out;
    private final PrintStream err;
    private boolean summarize;
    private boolean all;
    private boolean human;
    private int threads = 1;
    private boolean everyInode;
    private final Set<FileId> seen = new HashSet<>();
    private int status;

    private record FileId(long device, long inode) {
    }

    /** A directory whose total is not complete yet. */
    private static final class Open {
        final byte[] path;
        final int depth;
        long bytes;

        Open(byte[] path, int depth, long bytes) {
            this.path = path;
            this.depth = depth;
            this.bytes = bytes;
        }
    }

    private Du(Out out, PrintStream err) {
        this.out = out;
        this.err = err;
    }

    static int run(List<byte[]> argv, Out out, PrintStream err) throws Args.UsageException {
        Args args = Args.parse(argv, "sah", LONG_OPTIONS);
        if (args.has("--help")) {
            out.ascii(HELP).nl();
            return 0;
        }
        Du du = new Du(out, err);
        du.summarize = args.has("-s", "--summarize");
        du.all = args.has("-a", "--all");
        du.human = args.has("-h", "--human-readable");
        if (du.summarize && du.all) {
            throw new Args.UsageException("cannot both summarize and show all entries");
        }
        du.threads = args.threads(1);
        List<byte[]> operands = args.operands.isEmpty() ? List.of(new byte[] {'.'}) : args.operands;
        // With several operands a directory met twice (one operand inside another) counts once.
        du.everyInode = operands.size() > 1;
        for (byte[] path : operands) {
            du.count(path);
        }
        return du.status;
    }

    private void count(byte[] path) {
        ChildFile root;
        try {
            root = Lookup.lstat(path).file();
        } catch (IOException e) {
            err.println("fsutil du: cannot access '" + Names.shown(path) + "': " + Lookup.reason(e));
            status = 1;
            return;
        }
        if (!firstTime(root.device(), root.inode(), root.links(), root.isDirectory())) {
            return;
        }
        long total = root.blocks() * 512;
        if (root.isDirectory()) {
            // An entry whose attributes could not be read (in a directory that may be read but not
            // searched) is reported, and not entered.
            WalkOptions options = WalkOptions.builder().threads(threads).onError(this::unreadable)
                    .directoryFilter(f -> f.attributeError() == null).build();
            try (Stream<ChildFile> walk = FolderListing.walk(path, options)) {
                if (summarize) {
                    total += sum(walk);
                } else if (threads == 1) {
                    total += inOrder(walk);
                } else {
                    total += unordered(walk);
                }
            } catch (IOException e) {
                unreadable(e);
            } catch (UncheckedIOException e) {
                unreadable(e.getCause());
            }
        }
        line(total, path);
    }

    private void unreadable(IOException e) {
        err.println("fsutil du: " + Lookup.unreadableDirectory(e));
        status = 1;
    }

    private boolean firstTime(long device, long inode, int links, boolean directory) {
        if (directory ? !everyInode : Integer.compareUnsigned(links, 1) <= 0) {
            return true;
        }
        return seen.add(new FileId(device, inode));
    }

    /**
     * The bytes {@code f} adds, or -1 when it was counted before (and is not shown again) or cannot be
     * examined (which is reported).
     */
    private long size(ChildFile f) {
        IOException e = f.attributeError();
        if (e != null) {
            err.println("fsutil du: cannot access '" + Names.shown(f.pathBytes()) + "': " + Lookup.reason(e));
            status = 1;
            return -1;
        }
        return firstTime(f.device(), f.inode(), f.links(), f.isDirectory()) ? f.blocks() * 512 : -1;
    }

    private long sum(Stream<ChildFile> walk) {
        long total = 0;
        for (ChildFile f : (Iterable<ChildFile>) walk::iterator) {
            total += Math.max(size(f), 0);
        }
        return total;
    }

    /**
     * The walk comes depth first, a directory before its entries, so a
     * directory is complete when an entry no deeper than it arrives: its line
     * goes out then, as GNU du prints a directory after its contents.
     */
    private long inOrder(Stream<ChildFile> walk) {
        Deque<Open> open = new ArrayDeque<>();
        long total = 0;
        for (ChildFile f : (Iterable<ChildFile>) walk::iterator) {
            total += close(open, f.depth());
            long bytes = size(f);
            if (f.isDirectory() && f.attributeError() == null) {
                open.push(new Open(f.pathBytes(), f.depth(), Math.max(bytes, 0)));
                continue;
            }
            if (bytes < 0) {
                continue;
            }
            if (open.isEmpty()) {
                total += bytes;
            } else {
                open.peek().bytes += bytes;
            }
            if (all) {
                line(bytes, f.pathBytes());
            }
        }
        return total + close(open, 1);
    }

    // Prints the open directories at depth or below; answers what they add to the root.
    private long close(Deque<Open> open, int depth) {
        long toRoot = 0;
        while (!open.isEmpty() && open.peek().depth >= depth) {
            Open done = open.pop();
            line(done.bytes, done.path);
            if (open.isEmpty()) {
                toRoot += done.bytes;
            } else {
                open.peek().bytes += done.bytes;
            }
        }
        return toRoot;
    }

    /** With several threads: totals by directory, printed deepest first once the walk is done. */
    private long unordered(Stream<ChildFile> walk) {
        Map<ByteBuffer, long[]> dirs = new HashMap<>();  // path: {bytes, depth}
        List<byte[]> order = new ArrayList<>();
        long total = 0;
        for (ChildFile f : (Iterable<ChildFile>) walk::iterator) {
            byte[] path = f.pathBytes();
            long bytes = size(f);
            if (f.isDirectory() && f.attributeError() == null) {
                long[] dir = dirs.computeIfAbsent(ByteBuffer.wrap(path), k -> new long[2]);
                dir[0] += Math.max(bytes, 0);
                dir[1] = f.depth();
                order.add(path);
                continue;
            }
            if (bytes < 0) {
                continue;
            }
            if (f.depth() == 1) {
                total += bytes;
            } else {
                dirs.computeIfAbsent(parent(path), k -> new long[2])[0] += bytes;
            }
            if (all) {
                line(bytes, path);
            }
        }
        order.sort(Comparator.comparingLong((byte[] path) -> dirs.get(ByteBuffer.wrap(path))[1]).reversed());
        for (byte[] path : order) {
            long[] dir = dirs.get(ByteBuffer.wrap(path));
            line(dir[0], path);
            if (dir[1] == 1) {
                total += dir[0];
            } else {
                dirs.get(parent(path))[0] += dir[0];
            }
        }
        return total;
    }

    // The directory part of an entry's path below the root: everything before its last "/".
    private static ByteBuffer parent(byte[] path) {
        int end = path.length;
        while (path[end - 1] != '/') {
            end--;
        }
        return ByteBuffer.wrap(Arrays.copyOf(path, end - 1));
    }

    private void line(long bytes, byte[] path) {
        out.ascii(Sizes.format(bytes, 1, human ? 1 : 1024, human ? Sizes.BINARY : Sizes.PLAIN)).ch('\t');
        out.name(path).nl();
    }
}
