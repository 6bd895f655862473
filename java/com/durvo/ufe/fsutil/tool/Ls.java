package com.durvo.ufe.fsutil.tool;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.FolderListing;

import java.io.File;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.time.Instant;
import java.time.ZoneId;
import java.time.format.DateTimeFormatter;
import java.time.temporal.ChronoUnit;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;
import java.util.Locale;

/** {@code fsutil ls [-l] DIR...}: the entries of each directory, sorted by the bytes of their names. */
final class Ls {
    private static final DateTimeFormatter RECENT = DateTimeFormatter.ofPattern("MMM dd HH:mm", Locale.ROOT);
    private static final DateTimeFormatter OLD = DateTimeFormatter.ofPattern("MMM dd  yyyy", Locale.ROOT);

    private Ls() {
    }

    static int run(List<String> args, PrintStream out, PrintStream err) {
        int first = FsUtil.operands("ls", "-l", args, err);
        if (first < 0) {
            return 2;
        }
        boolean longFormat = first > 0;
        List<String> dirs = args.subList(first, args.size());
        int status = 0;
        boolean printed = false;
        for (String dir : dirs) {
            String problem = problem(dir);
            if (problem != null) {
                err.println("fsutil ls: cannot list '" + dir + "': " + problem);
                status = 1;
                continue;
            }
            if (dirs.size() > 1) {
                out.print((printed ? "\n" : "") + dir + ":\n");
            }
            printed = true;
            List<ChildFile> entries = new ArrayList<>();
            try (FolderListing listing = FolderListing.open(dir)) {
                listing.forEach(entries::add);
            } catch (IOException e) {
                err.println("fsutil ls: cannot list '" + dir + "': " + e.getMessage());
                status = 1;
                continue;
            }
            entries.sort(Comparator.comparing((ChildFile f) -> FileNames.toBytes(f.name()), Arrays::compareUnsigned));
            if (longFormat) {
                printLong(dir, entries, out);
            } else {
                entries.forEach(f -> out.println(FileNames.display(f.name())));
            }
        }
        return status;
    }

    // The library lists an unreadable directory as empty; say why instead.
    private static String problem(String dir) {
        File f = new File(dir);
        if (!f.exists()) {
            return "No such file or directory";
        }
        if (!f.isDirectory()) {
            return "Not a directory";
        }
        if (!f.canRead() || !f.canExecute()) {
            return "Permission denied";
        }
        return null;
    }

    private static void printLong(String dir, List<ChildFile> entries, PrintStream out) {
        int linkWidth = 1;
        int uidWidth = 1;
        int gidWidth = 1;
        int sizeWidth = 1;
        for (ChildFile f : entries) {
            linkWidth = Math.max(linkWidth, Integer.toUnsignedString(f.links()).length());
            uidWidth = Math.max(uidWidth, Integer.toUnsignedString(f.uid()).length());
            gidWidth = Math.max(gidWidth, Integer.toUnsignedString(f.gid()).length());
            sizeWidth = Math.max(sizeWidth, Long.toString(f.size()).length());
        }
        String format = "%s %" + linkWidth + "s %" + uidWidth + "s %" + gidWidth + "s %" + sizeWidth + "d %s %s%n";
        Instant halfYearAgo = Instant.now().minus(182, ChronoUnit.DAYS);
        for (ChildFile f : entries) {
            Instant mtime = f.modifiedTime();
            String when = (mtime.isAfter(halfYearAgo) ? RECENT : OLD).format(mtime.atZone(ZoneId.systemDefault()));
            String name = FileNames.display(f.name());
            if (f.type() == ChildFile.Type.SYMLINK) {
                name += " -> " + linkTarget(dir, f);
            }
            out.printf(format, f.modeString(), Integer.toUnsignedString(f.links()), Integer.toUnsignedString(f.uid()),
                    Integer.toUnsignedString(f.gid()), f.size(), when, name);
        }
    }

    private static String linkTarget(String dir, ChildFile link) {
        try {
            return Files.readSymbolicLink(FileNames.resolve(Path.of(dir), link.name())).toString();
        } catch (IOException | InvalidPathException e) {
            return "?";
        }
    }
}
