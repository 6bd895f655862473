package com.durvo.ufe.fsutil;

import java.io.IOException;
import java.io.InputStream;
import java.lang.reflect.Constructor;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.stream.Stream;

/**
 * "Dump TREE": everything the library tells Java about TREE and about "/", one
 * fact a line in a fixed order, so that two JVMs (one emulated) can be compared
 * by diff. Access times are left out: reading the files changes them.
 */
public final class Dump {
    private static final HexFormat HEX = HexFormat.of();
    private static final List<String> OUT = new ArrayList<>();

    private Dump() {
    }

    public static void main(String[] args) throws Exception {
        String tree = args[0];
        FileSysStatUnix s = FileSystemStat.forCurrentOs().getFileSysStat("/");
        OUT.add("statvfs / " + s.bsize() + " " + s.frsize() + " " + s.blocks() + " " + s.files() + " " + s.fsid()
                + " " + s.flag() + " " + s.namemax());
        oneAtATime(tree);
        try (FolderListing listing = FolderListing.open(tree)) {
            for (ChildFile f : listing) {
                entry("listing", f);
                readBack(tree, f);
            }
        }
        for (int threads = 1; threads <= 2; threads++) {
            try (Stream<ChildFile> walk = FolderListing.walk(tree, WalkOptions.builder().threads(threads).build())) {
                String route = "walk/" + threads;
                walk.forEach(f -> entry(route, f));
            }
        }
        failure("stat of a missing path", () -> FsFiles.stat(tree + "/none"));
        failure("listing of a file", () -> FolderListing.open(tree + "/plain").close());
        failure("statistics of a missing path", () -> FileSystemStat.forCurrentOs().getFileSysStat(tree + "/none"));
        // The listing's order is the directory's; the walk with threads has none.
        OUT.sort(null);
        OUT.forEach(System.out::println);
    }

    // The declaring class's natives, the one-entry-per-call route.
    private static void oneAtATime(String tree) throws ReflectiveOperationException {
        Constructor<ChildFile> empty = ChildFile.class.getDeclaredConstructor();
        empty.setAccessible(true);
        ChildFile child = empty.newInstance();
        long handle = FolderIteratorNix.getFirstFileN(tree, child);
        if (handle == FolderIteratorNix.NO_HANDLE) {
            throw new IllegalStateException("getFirstFileN delivered nothing from " + tree);
        }
        try {
            do {
                OUT.add("one-at-a-time " + text(child.name()) + " " + HEX.formatHex(FileNames.toBytes(child.name()))
                        + " " + values(child, false));
            } while (FolderIteratorNix.getNextFileN(handle, tree, child));
        } finally {
            FolderIteratorNix.closeSearchHandleN(handle);
        }
    }

    private static void entry(String route, ChildFile f) {
        OUT.add(route + " " + HEX.formatHex(f.pathBytes()) + " " + text(f.path()) + " " + f.depth() + " "
                + values(f, true));
    }

    // A file's content by its string, by the entry and by its bytes; stat by string and bytes.
    private static void readBack(String tree, ChildFile f) throws IOException {
        String path = tree + "/" + f.name();
        String line = "read " + HEX.formatHex(f.nameBytes()) + " toBytes=" + HEX.formatHex(FileNames.toBytes(path));
        if (f.type() == ChildFile.Type.REGULAR) {
            try (InputStream byString = FsFiles.newInputStream(path); InputStream byEntry = FsFiles.newInputStream(f);
                 InputStream byBytes = FsFiles.newInputStream(f.pathBytes())) {
                line += " " + text(new String(byString.readAllBytes(), "ISO-8859-1")) + " "
                        + Arrays.equals(byEntry.readAllBytes(), byBytes.readAllBytes());
            }
            line += " " + values(FsFiles.stat(path), true) + " " + values(FsFiles.lstat(f.pathBytes()), true);
        } else if (f.type() == ChildFile.Type.SYMLINK) {
            line += " -> " + HEX.formatHex(FsFiles.readLinkBytes(f.pathBytes())) + " " + text(FsFiles.readLink(path));
        }
        OUT.add(line);
    }

    private static String values(ChildFile f, boolean nanos) {
        return f.device() + " " + f.inode() + " " + f.modeString() + " " + f.links() + " " + f.uid() + " " + f.gid()
                + " " + f.rdev() + " " + f.size() + " " + f.blockSize() + " " + f.blocks() + " "
                + (nanos ? f.modifiedTime() + " " + f.changeTime() : f.modifiedTime().getEpochSecond() + " "
                + f.changeTime().getEpochSecond()) + " " + f.type();
    }

    // A string's UTF-16 units: printable ASCII as itself, the rest as \\uXXXX.
    private static String text(String s) {
        StringBuilder b = new StringBuilder();
        for (char c : s.toCharArray()) {
            b.append(c > ' ' && c < 127 && c != '\\' ? String.valueOf(c) : String.format("\\u%04X", (int) c));
        }
        return b.toString();
    }

    private interface Action {
        void run() throws IOException;
    }

    private static void failure(String what, Action action) {
        try {
            action.run();
            OUT.add("failure " + what + ": none");
        } catch (IOException e) {
            OUT.add("failure " + what + ": " + e.getClass().getName() + ": " + text(e.getMessage()));
        }
    }
}
