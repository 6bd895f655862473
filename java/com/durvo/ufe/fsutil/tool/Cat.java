package com.durvo.ufe.fsutil.tool;

import com.durvo.ufe.fsutil.FsFiles;

import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.util.List;
import java.util.Set;

/** {@code fsutil cat}: files' bytes to standard output, unchanged. */
final class Cat {
    static final String HELP = String.join("\n",
            "Usage: fsutil cat [OPTION]... FILE...",
            "Write the bytes of each FILE to standard output, one after another, unchanged.",
            "A FILE that cannot be read gets a line on standard error; the others are",
            "still written.",
            "",
            "      --help   show this help",
            "",
            "Exit status: 0 if every FILE was read, 1 otherwise.");

    private Cat() {
    }

    static int run(List<byte[]> argv, Out out, PrintStream err) throws Args.UsageException {
        Args args = Args.parse(argv, "", Set.of("--help"), Set.of());
        if (args.has("--help")) {
            out.ascii(HELP).nl();
            return 0;
        }
        if (args.operands.isEmpty()) {
            throw new Args.UsageException("missing file operand");
        }
        int status = 0;
        byte[] buf = new byte[1 << 16];
        for (byte[] file : args.operands) {
            try (InputStream in = FsFiles.newInputStream(file)) {
                for (int n; (n = in.read(buf)) > 0;) {
                    out.bytes(buf, 0, n);
                }
            } catch (IOException e) {
                out.flush();
                err.println("fsutil cat: " + Ls.shown(file) + ": " + Lookup.reason(e));
                status = 1;
            }
        }
        return status;
    }
}
