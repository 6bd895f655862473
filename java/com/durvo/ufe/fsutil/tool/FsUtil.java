package com.durvo.ufe.fsutil.tool;

import com.durvo.ufe.fsutil.FileSysStatUnix;
import com.durvo.ufe.fsutil.FileSystemStat;

import java.io.IOException;
import java.io.PrintStream;
import java.util.Arrays;
import java.util.List;

/** The fsutil command line: file-system statistics from the native library. */
public final class FsUtil {
    private static final String USAGE = "usage: fsutil df [-v] PATH...\n       fsutil ls [-l] DIR...";

    private FsUtil() {
    }

    public static void main(String[] args) {
        System.exit(run(Arrays.asList(args), System.out, System.err));
    }

    /** Runs one command line and answers the exit status. */
    static int run(List<String> args, PrintStream out, PrintStream err) {
        if (args.isEmpty()) {
            err.println(USAGE);
            return 2;
        }
        String command = args.get(0);
        List<String> rest = args.subList(1, args.size());
        switch (command) {
            case "df":
                return df(rest, out, err);
            case "ls":
                return Ls.run(rest, out, err);
            case "-h":
            case "--help":
                out.println(USAGE);
                return 0;
            default:
                err.println("fsutil: unknown command '" + command + "'");
                err.println(USAGE);
                return 2;
        }
    }

    /**
     * The index of the first operand after the leading options, all of which
     * must be {@code flag}; -1 (after printing usage) for another option or no operand.
     */
    static int operands(String command, String flag, List<String> args, PrintStream err) {
        int first = 0;
        while (first < args.size() && args.get(first).startsWith("-") && args.get(first).length() > 1) {
            if (!args.get(first).equals(flag)) {
                err.println("fsutil " + command + ": unknown option '" + args.get(first) + "'");
                err.println(USAGE);
                return -1;
            }
            first++;
        }
        if (first == args.size()) {
            err.println(USAGE);
            return -1;
        }
        return first;
    }

    private static int df(List<String> args, PrintStream out, PrintStream err) {
        int first = operands("df", "-v", args, err);
        if (first < 0) {
            return 2;
        }
        boolean verbose = first > 0;
        List<String> paths = args.subList(first, args.size());
        FileSystemStat stat = FileSystemStat.forCurrentOs();
        int status = 0;
        out.printf("%6s %6s %6s %5s %10s %10s %5s  %s%n", "Size", "Used", "Avail", "Use%", "Inodes", "IFree",
                "IUse%", "Path");
        for (String path : paths) {
            FileSysStatUnix st;
            try {
                st = stat.getFileSysStat(path);
            } catch (IOException e) {
                err.println(e.getMessage());
                status = 1;
                continue;
            }
            out.printf("%6s %6s %6s %4d%% %10s %10s %4s  %s%n", human(st.totalBytes()), human(st.usedBytes()),
                    human(st.availableBytes()), st.usedPercent(), Long.toUnsignedString(st.files()),
                    Long.toUnsignedString(st.ffree()), st.files() == 0 ? "-" : st.usedFilesPercent() + "%", path);
            if (verbose) {
                out.printf("       bsize=%d frsize=%d blocks=%s bfree=%s bavail=%s files=%s ffree=%s favail=%s"
                        + " fsid=0x%x flag=0x%x namemax=%d%n", st.bsize(), st.frsize(),
                        Long.toUnsignedString(st.blocks()), Long.toUnsignedString(st.bfree()),
                        Long.toUnsignedString(st.bavail()), Long.toUnsignedString(st.files()),
                        Long.toUnsignedString(st.ffree()), Long.toUnsignedString(st.favail()), st.fsid(), st.flag(),
                        st.namemax());
            }
        }
        return status;
    }

    /** Bytes in powers of 1024, rounded up to one decimal below 10 as {@code df -h} shows them. */
    static String human(long bytes) {
        if (bytes < 1024) {
            return Long.toString(bytes);
        }
        String units = "KMGTPE";
        double value = bytes;
        int unit = -1;
        do {
            value /= 1024;
            unit++;
        } while (value >= 1024 && unit < units.length() - 1);
        if (value < 10) {
            double up = Math.ceil(value * 10) / 10;
            if (up < 10) {
                return String.format("%.1f%c", up, units.charAt(unit));
            }
            value = up;
        }
        return String.format("%d%c", (long) Math.ceil(value), units.charAt(unit));
    }
}
