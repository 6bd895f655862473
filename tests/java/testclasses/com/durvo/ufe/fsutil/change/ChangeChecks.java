package com.durvo.ufe.fsutil.change;

import com.durvo.ufe.fsutil.WalkOptions;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.zip.CRC32C;

/** Snapshots as a user takes, keeps and compares them; the native tests make the changes with system calls. */
public final class ChangeChecks {
    private ChangeChecks() {
    }

    /** Takes the snapshot of root and writes it to file; answers "". */
    public static String snap(String root, String file) throws IOException {
        TreeSnapshot.take(Path.of(root)).writeTo(Path.of(file));
        return "";
    }

    /** The changes from the snapshot in file to root now, one line each: letter, "?" if only possible, path(s). */
    public static String diff(String file, String root) throws IOException {
        List<String> lines = new ArrayList<>();
        for (TreeChange c : TreeSnapshot.diff(TreeSnapshot.readFrom(Path.of(file)), TreeSnapshot.take(Path.of(root)))) {
            String old = c.kind() == TreeChange.Kind.RENAMED ? hex(c.oldPathBytes()) + " -> " : "";
            lines.add(c.kind().letter() + (c.possiblyModified() ? "? " : " ") + old + hex(c.pathBytes()));
        }
        return String.join("\n", lines);
    }

    /**
     * A snapshot read back equals the one written, when and what was uncertain included, and writes the same
     * bytes; the walk with one thread and with four give equal snapshots. One line per failed case.
     */
    public static String roundTrip(String root, String dir) throws IOException {
        List<String> failed = new ArrayList<>();
        TreeSnapshot many = TreeSnapshot.take(Path.of(root), WalkOptions.builder().threads(4).build());
        TreeSnapshot one = TreeSnapshot.take(Path.of(root), WalkOptions.builder().threads(1).build());
        Path first = Path.of(dir, "first");
        Path second = Path.of(dir, "second");
        many.writeTo(first);
        TreeSnapshot read = TreeSnapshot.readFrom(first);
        read.writeTo(second);
        boolean[] uncertain = new boolean[2];
        for (TreeEntry e : read.entries()) {
            uncertain[e.uncertain() ? 1 : 0] = true;
        }
        Object[][] cases = {
            {"read back equals", read.equals(many) && read.root().equals(many.root())},
            {"read back keeps when", read.takenAt().equals(many.takenAt())},
            {"read back keeps both certain and uncertain entries", uncertain[0] && uncertain[1]},
            {"written again, the same bytes", Arrays.equals(Files.readAllBytes(first), Files.readAllBytes(second))},
            {"one thread and four take equal snapshots", one.equals(many) && many.size() > 0},
            {"each entry found by its path", read.entry(read.entries().get(read.size() - 1).pathBytes()) != null},
            {"no file left beside", Path.of(dir).toFile().list().length == 2},
        };
        for (Object[] c : cases) {
            if (!(Boolean) c[1]) {
                failed.add((String) c[0]);
            }
        }
        return String.join("\n", failed);
    }

    /**
     * Files that are no whole snapshot of this version are refused with a message saying which; a failed
     * write leaves the target as it was and nothing beside it. One line per failed case.
     */
    public static String refusals(String root, String dir) throws IOException {
        List<String> failed = new ArrayList<>();
        Path good = Path.of(dir, "good");
        TreeSnapshot.take(Path.of(root)).writeTo(good);
        byte[] bytes = Files.readAllBytes(good);
        byte[] otherVersion = bytes.clone();
        otherVersion[8] = 2;
        byte[] validSum = Arrays.copyOf(bytes, bytes.length);  // a checksum that fits a wrong parent index
        ByteBuffer.wrap(validSum).order(ByteOrder.LITTLE_ENDIAN).putInt(40 + 8 * deviceCount(bytes), 0);
        CRC32C crc = new CRC32C();
        crc.update(validSum, 0, validSum.length - 4);
        ByteBuffer.wrap(validSum).order(ByteOrder.LITTLE_ENDIAN).putInt(validSum.length - 4, (int) crc.getValue());
        Object[][] cases = {
            {"empty", new byte[0], "not a snapshot"},
            {"foreign", "#!/bin/sh\necho this is no snapshot at all, only a script\n".getBytes(), "not a snapshot"},
            {"other version", otherVersion, "version 2"},
            {"cut in the header", Arrays.copyOf(bytes, 20), "truncated"},
            {"cut in the columns", Arrays.copyOf(bytes, bytes.length / 2), "truncated"},
            {"cut before the checksum", Arrays.copyOf(bytes, bytes.length - 1), "truncated"},
            {"one byte more", Arrays.copyOf(bytes, bytes.length + 1), "corrupt"},
            {"a bit flipped in the columns", flipped(bytes, bytes.length / 2), "checksum"},
            {"a bit flipped in the names", flipped(bytes, bytes.length - 6), "checksum"},
            {"a bit flipped in the checksum", flipped(bytes, bytes.length - 1), "checksum"},
            {"a right checksum over an entry its own parent", validSum, "corrupt"},
        };
        Path bad = Path.of(dir, "bad");
        for (Object[] c : cases) {
            Files.write(bad, (byte[]) c[1]);
            try {
                TreeSnapshot.readFrom(bad);
                failed.add(c[0] + ": read");
            } catch (IOException e) {
                if (!e.getMessage().contains((String) c[2])) {
                    failed.add(c[0] + ": " + e.getMessage());
                }
            }
        }
        Path busy = Path.of(dir, "busy");
        Files.createDirectories(busy.resolve("inside"));
        try {
            TreeSnapshot.readFrom(good).writeTo(busy);
            failed.add("written over a directory that is not empty");
        } catch (IOException e) {
            if (!Files.isDirectory(busy.resolve("inside")) || Path.of(dir).toFile().list().length != 3) {
                failed.add("a failed write left a change: " + Arrays.toString(Path.of(dir).toFile().list()));
            }
        }
        return String.join("\n", failed);
    }

    /**
     * The builder a watcher fills: entries in any order, a directory after its entries, come out in path
     * order by unsigned bytes, as a sort of the names with Arrays.compareUnsigned puts them; a second entry
     * of one name is left out. A new name for an inode is a rename unless creation times differ. One line
     * per failed case.
     */
    public static String builder() {
        long[] v = new long[NativeConstants.ENTRY_LONGS];
        int all = NativeConstants.LSTAT;
        List<String> failed = new ArrayList<>();
        // Few names and many (sorted another way), sharing up to nine bytes, some above 0x7F.
        for (int count : new int[] {4, 40}) {
            List<byte[]> names = new ArrayList<>();
            for (int k = 0; k < count; k++) {
                byte[] name = ("abcdefghi" + (char) ('0' + k % 10) + "x".repeat(k % 3)).getBytes();
                name[k % name.length] = (byte) (k % 4 == 0 ? 0xE9 : name[k % name.length]);
                if (names.stream().noneMatch(n -> Arrays.equals(n, name))) {
                    names.add(name);
                }
            }
            SnapshotBuilder b = new SnapshotBuilder(0);
            int sub = names.size();  // the directory's index: added after its entries
            for (byte[] name : names) {
                b.add(sub, name, 0, name.length, v, 0, all);
            }
            b.add(-1, "sub".getBytes(), 0, 3, v, 0, all);
            b.add(-1, "z".getBytes(), 0, 1, v, 0, all);
            b.add(-1, "z".getBytes(), 0, 1, v, 0, all);  // a second "z": left out
            b.add(0, "below".getBytes(), 0, 5, v, 0, all);
            List<String> got = new ArrayList<>();
            for (TreeEntry e : b.build("/r".getBytes(), 0, 1).entries()) {
                got.add(hex(e.pathBytes()));
            }
            List<String> expected = new ArrayList<>(List.of("sub"));
            byte[] first = names.get(0);
            names.sort(Arrays::compareUnsigned);
            for (byte[] name : names) {
                expected.add("sub/" + hex(name));
                if (name == first) {
                    expected.add("sub/" + hex(name) + "/below");
                }
            }
            expected.add("z");
            if (!got.equals(expected)) {
                failed.add(count + " names: " + got);
            }
        }
        // One inode, "a" gone and "b" new: a rename only if no creation time tells two files apart.
        for (long bornAgain : new long[] {1, 2}) {
            String changes = TreeSnapshot.diff(one("a", 1), one("b", bornAgain)).toString();
            String want = bornAgain == 1 ? "[R a -> b]" : "[D a, A b]";
            if (!changes.equals(want)) {
                failed.add("born at 1 and " + bornAgain + ": " + changes);
            }
        }
        return String.join("\n", failed);
    }

    /** A snapshot of one regular file: inode 5, born at the second given. */
    private static TreeSnapshot one(String name, long born) {
        long[] v = new long[NativeConstants.ENTRY_LONGS];
        v[NativeConstants.ST_INO] = 5;
        v[NativeConstants.ST_MODE] = 0100644;
        v[NativeConstants.BTIME] = born;
        SnapshotBuilder b = new SnapshotBuilder(10_000_000_000L);  // read long after its time 0
        b.add(-1, name.getBytes(), 0, name.length(), v, 0, NativeConstants.LSTAT
                | NativeConstants.BTIME_BIT);
        return b.build("/r".getBytes(), 0, 1);
    }

    private static int deviceCount(byte[] file) {
        return ByteBuffer.wrap(file).order(ByteOrder.LITTLE_ENDIAN).getInt(16);
    }

    private static byte[] flipped(byte[] bytes, int at) {
        byte[] b = bytes.clone();
        b[at] ^= 0x10;
        return b;
    }

    private static String hex(byte[] path) {
        StringBuilder s = new StringBuilder();
        for (byte b : path) {
            s.append(b >= 0x20 && b < 0x7F ? String.valueOf((char) b) : String.format("\\x%02X", b & 0xFF));
        }
        return s.toString();
    }
}
