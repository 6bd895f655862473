package com.durvo.ufe.fsutil.tool;

import com.durvo.ufe.fsutil.FsFiles;

import java.io.FileDescriptor;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.util.Arrays;
import java.util.List;

/** {@code fsutil cat}: files' bytes (or standard input's) to standard output, unchanged. */
final class Cat {
    static final String HELP = String.join("\n",
            "Usage: fsutil cat [OPTION]... [FILE]...",
            "Write the bytes of each FILE to standard output, one after another, unchanged.",
            "With no FILE, or when FILE is -, read standard input.",
            "A FILE that cannot be read gets a line on standard error; the others are",
            "still written.",
            "",
            "      --help   show this help",
            "",
            "Exit status: 0 if every FILE was read, 1 otherwise.");

    private static final byte[] STDIN = {'-'};
    // Never closed: "-" may be named again, and reads on where the last one stopped, as with GNU cat.
    private static final InputStream STANDARD_INPUT = new FileInputStream(FileDescriptor.in);

    private Cat() {
    }

    static int run(List<byte[]> argv, Out out, PrintStream err) throws Args.UsageException {
        Args args = Args.parse(argv, "", List.of("--help"));
        if (args.has("--help")) {
            out.ascii(HELP).nl();
            return 0;
        }
        List<byte[]> operands = args.operands.isEmpty() ? List.of(STDIN) : args.operands;
        int status = 0;
        byte[] buf = new byte[1 << 16];
        for (byte[] file : operands) {
            try {
                if (Arrays.equals(file, STDIN)) {
                    copy(STANDARD_INPUT, buf, out, true);
                } else {
                    try (InputStream in = FsFiles.newInputStream(file)) {
                        copy(in, buf, out, false);
                    }
                }
            } catch (IOException e) {
                out.flush();
                err.println("fsutil cat: " + Names.shown(file) + ": " + Lookup.reason(e));
                status = 1;
            }
        }
        return status;
    }

    // Input that may be a person typing goes out as it comes, a file in large writes.
    private static void copy(InputStream in, byte[] buf, Out out, boolean asItComes) throws IOException {
        for (int n; (n = in.read(buf)) > 0;) {
            out.bytes(buf, 0, n);
            if (asItComes) {
                out.flush();
            }
        }
    }
}
