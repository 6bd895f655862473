package com.durvo.ufe.fsutil.tool;

import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.List;

/** The fsutil command line: file-system tools on the native library, in the manner of the GNU tools. */
public final class FsUtil {
    private static final String HELP = String.join("\n",
            "Usage: fsutil COMMAND [OPTION]... [PATH]...",
            "File-system tools on the fsstat library; every PATH may hold any bytes, and",
            "names are shown as 'fsutil ls --help' says.",
            "",
            "Commands:",
            "  df    space and inodes of mounted file systems",
            "  ls    list directories",
            "  du    disk usage of trees",
            "  cat   files' bytes to standard output",
            "  snap  record a tree in a file, for diff",
            "  diff  what changed in a tree since snap",
            "  watch changes in a tree as they come",
            "",
            "  fsutil COMMAND --help   the options of a command",
            "  fsutil --help           this help",
            "  fsutil --version        the version of fsutil");

    private FsUtil() {
    }

    public static void main(String[] args) {
        Out out = Out.stdout();
        // Messages hold names as shown, in the locale's charset like the output.
        PrintStream err = new PrintStream(new FileOutputStream(FileDescriptor.err), true, Names.CHARSET);
        System.setErr(err);
        int status = run(Args.rawArguments(args), out, err);
        out.flush();
        System.exit(status);
    }

    /** Runs one command line and answers the exit status. */
    static int run(List<byte[]> args, Out out, PrintStream err) {
        if (args.isEmpty()) {
            err.println(HELP);
            return 2;
        }
        String command = new String(args.get(0), StandardCharsets.ISO_8859_1);
        List<byte[]> rest = args.subList(1, args.size());
        // GNU ls answers 2 for serious trouble, a bad option or a write error among it, and diff 2 since 1
        // says that something changed; the others 1.
        int trouble = command.equals("ls") || command.equals("diff") ? 2 : 1;
        out.onWriteError(command.startsWith("-") ? "fsutil" : "fsutil " + Names.shown(args.get(0)), trouble);
        try {
            switch (command) {
                case "df":
                    return Df.run(rest, out, err);
                case "ls":
                    return Ls.run(rest, out, err);
                case "du":
                    return Du.run(rest, out, err);
                case "cat":
                    return Cat.run(rest, out, err);
                case "snap":
                    return Snap.snap(rest, out, err);
                case "diff":
                    return Snap.diff(rest, out, err);
                case "watch":
                    return Watch.run(rest, out, err);
                case "--help":
                    out.ascii(HELP).nl();
                    return 0;
                case "--version":
                    out.ascii("fsutil " + version()).nl();
                    return 0;
                default:
                    err.println("fsutil: unknown command '" + Names.shown(args.get(0)) + "'");
                    err.println("Try 'fsutil --help' for more information.");
                    return 2;
            }
        } catch (Args.UsageException e) {
            err.println("fsutil " + command + ": " + e.getMessage());
            err.println("Try 'fsutil " + command + " --help' for more information.");
            return trouble;
        }
    }

    /** The jar's Implementation-Version, or "unknown" when run from classes without one. */
    static String version() {
        String version = FsUtil.class.getPackage().getImplementationVersion();
        return version != null ? version : "unknown";
    }
}
