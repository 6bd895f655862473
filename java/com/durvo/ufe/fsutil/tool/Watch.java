package com.durvo.ufe.fsutil.tool;

import com.durvo.ufe.fsutil.change.TreeChange;
import com.durvo.ufe.fsutil.change.TreeWatcher;

import java.io.IOException;
import java.io.PrintStream;
import java.time.Duration;
import java.util.List;

/** {@code fsutil watch}: a tree's changes as they come. */
final class Watch {
    static final String HELP = String.join("\n",
            "Usage: fsutil watch ROOT",
            "Show the changes in the tree below the directory ROOT as they come, one line",
            "per change as 'fsutil diff' shows them, until interrupted. Symbolic links are",
            "not followed, and no other file system is entered. Changes found by reading",
            "directories again, after the system dropped events, are shown all the same.",
            "",
            "      --help  show this help",
            "",
            "Exit status: 1 when the tree cannot be watched, or ROOT was removed or moved.");

    /** The longest wait without a sync: directories beyond the system's watch limit are read at each. */
    private static final Duration IDLE = Duration.ofSeconds(2);

    private Watch() {
    }

    static int run(List<byte[]> argv, Out out, PrintStream err) throws Args.UsageException {
        Args args = Args.parse(argv, "", List.of("--help"));
        if (args.has("--help")) {
            out.ascii(HELP).nl();
            return 0;
        }
        if (args.operands.size() != 1) {
            throw new Args.UsageException(args.operands.isEmpty() ? "missing operand" : "one ROOT, please");
        }
        try (TreeWatcher w = TreeWatcher.open(Snap.path(args.operands.get(0)))) {
            TreeWatcher.Clock last = w.clock();
            int warned = 0;
            while (true) {
                w.awaitChange(last, IDLE);
                TreeWatcher.Clock next = w.clock();
                for (TreeChange c : w.changesBetween(last, next)) {
                    Snap.line(out, c);
                }
                out.flush();
                last = next;
                List<String> warnings = w.warnings();
                for (; warned < warnings.size(); warned++) {
                    err.println("fsutil watch: " + Names.visible(warnings.get(warned)));
                }
            }
        } catch (IOException e) {
            err.println("fsutil watch: " + Lookup.failure(e));
            return 1;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return 1;
        }
    }
}
