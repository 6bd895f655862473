package com.durvo.ufe.fsutil.tool;

import com.durvo.ufe.fsutil.WalkOptions;
import com.durvo.ufe.fsutil.change.TreeChange;
import com.durvo.ufe.fsutil.change.TreeSnapshot;
import com.durvo.ufe.fsutil.nio.FsFileSystem;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.NotDirectoryException;
import java.nio.file.Path;
import java.util.List;

/** {@code fsutil snap} and {@code fsutil diff}: a tree's snapshot in a file, and what changed since. */
final class Snap {
    static final String SNAP_HELP = String.join("\n",
            "Usage: fsutil snap [OPTION]... ROOT -o FILE",
            "Record the tree below the directory ROOT in FILE, for 'fsutil diff': every",
            "entry's path, type, permissions, owner, group, size, inode, link count and",
            "times. Symbolic links are not followed, and no other file system is entered.",
            "FILE is replaced whole or not at all.",
            "",
            "  -o, --output FILE  where to write the snapshot",
            "      --threads N    read directories with N threads (default 4)",
            "      --help         show this help",
            "",
            "Exit status: 0 if the whole tree was recorded, 1 otherwise.");

    static final String DIFF_HELP = String.join("\n",
            "Usage: fsutil diff [OPTION]... FILE [ROOT | FILE2]",
            "Show what changed since the snapshot FILE ('fsutil snap') was taken: in the",
            "directory ROOT now, in the later snapshot FILE2, or, with FILE alone, in the",
            "directory FILE was taken of. One line per change, in the order of the paths,",
            "each relative to the root:",
            "  A PATH        added",
            "  D PATH        deleted",
            "  M PATH        modified: type, permissions, owner, group, size or times, or",
            "                another file under the same name",
            "  R OLD -> NEW  renamed: the same file under a new path",
            "A '?' after the letter marks a file that looks unchanged but was written too",
            "shortly before FILE was taken to be sure it was not written again since.",
            "",
            "      --threads N  read directories with N threads (default 4)",
            "      --help       show this help",
            "",
            "Exit status: 0 if nothing changed, 1 if something did, 2 for trouble.");

    private static final int TROUBLE = 2;

    private final PrintStream err;
    private final String who;
    private boolean unreadable;

    private Snap(PrintStream err, String who) {
        this.err = err;
        this.who = who;
    }

    static int snap(List<byte[]> argv, Out out, PrintStream err) throws Args.UsageException {
        Args args = Args.parse(argv, "o:", List.of("--help", "--output=", "--threads="));
        if (args.has("--help")) {
            out.ascii(SNAP_HELP).nl();
            return 0;
        }
        String output = args.value(args.last("-o", "--output"));
        if (args.operands.size() != 1 || output == null) {
            throw new Args.UsageException(output == null ? "no output file: give -o FILE" : "one ROOT, please");
        }
        Snap s = new Snap(err, "fsutil snap");
        byte[] root = args.operands.get(0);
        byte[] file = output.getBytes(StandardCharsets.ISO_8859_1);
        try {
            s.take(root, args.threads(4)).writeTo(path(file));
        } catch (IOException e) {
            s.fail(e);
            return 1;
        }
        return s.unreadable ? 1 : 0;
    }

    static int diff(List<byte[]> argv, Out out, PrintStream err) throws Args.UsageException {
        Args args = Args.parse(argv, "", List.of("--help", "--threads="));
        if (args.has("--help")) {
            out.ascii(DIFF_HELP).nl();
            return 0;
        }
        if (args.operands.isEmpty() || args.operands.size() > 2) {
            throw new Args.UsageException(args.operands.isEmpty() ? "missing operand" : "extra operand '"
                    + Names.shown(args.operands.get(2 % args.operands.size())) + "'");
        }
        int threads = args.threads(4);
        Snap s = new Snap(err, "fsutil diff");
        List<TreeChange> changes;
        try {
            TreeSnapshot before = TreeSnapshot.readFrom(path(args.operands.get(0)));
            TreeSnapshot after;
            if (args.operands.size() == 1) {
                after = s.take(FsFileSystem.get().bytesOf(before.root()), threads);
            } else {
                try {  // a directory is taken now; anything else is read as a snapshot file
                    after = s.take(args.operands.get(1), threads);
                } catch (NotDirectoryException e) {
                    after = TreeSnapshot.readFrom(path(args.operands.get(1)));
                }
            }
            changes = TreeSnapshot.diff(before, after);
        } catch (IOException e) {
            s.fail(e);
            return TROUBLE;
        } catch (IllegalArgumentException e) {  // snapshots of two roots
            err.println("fsutil diff: " + Names.visible(e.getMessage()));
            return TROUBLE;
        }
        for (TreeChange c : changes) {
            line(out, c);
        }
        return s.unreadable ? TROUBLE : changes.isEmpty() ? 0 : 1;
    }

    /** The line of one change, as {@code fsutil diff} and {@code fsutil watch} show it. */
    static void line(Out out, TreeChange c) {
        out.ch(c.kind().letter()).ascii(c.possiblyModified() ? "? " : " ");
        if (c.kind() == TreeChange.Kind.RENAMED) {
            out.name(c.oldPathBytes()).ascii(" -> ");
        }
        out.name(c.pathBytes()).nl();
    }

    static Path path(byte[] bytes) {
        return FsFileSystem.get().getPath(bytes);
    }

    /** The snapshot of {@code root}; a directory below it that cannot be read is reported and left out. */
    private TreeSnapshot take(byte[] root, int threads) throws IOException {
        return TreeSnapshot.take(path(root), WalkOptions.builder().threads(threads).onError(e -> {
            err.println(who + ": " + Lookup.unreadableDirectory(e));
            unreadable = true;
        }).build());
    }

    private void fail(IOException e) {
        err.println(who + ": " + Lookup.failure(e));
    }
}
