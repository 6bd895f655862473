package com.durvo.ufe.fsutil.change;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.channels.FileChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.util.Arrays;
import java.util.concurrent.ThreadLocalRandom;
import java.util.zip.CRC32C;

/**
 * A snapshot's file (the format is in {@link TreeSnapshot}'s comment): the
 * columns go through one buffer, in bulk, checksummed on the way.
 */
final class SnapshotFormat {
    private static final byte[] MAGIC = "FSSTTREE".getBytes(StandardCharsets.US_ASCII);
    static final int VERSION = 1;
    private static final int HEADER = 40;
    private static final int TRAILER = 4;
    private static final int BUFFER = 1 << 20;

    private SnapshotFormat() {
    }

    static void write(TreeSnapshot snapshot, Path file) throws IOException {
        Path temporary = file.resolveSibling("." + file.getFileName() + ".tmp"
                + Long.toHexString(ThreadLocalRandom.current().nextLong()));
        try {
            try (FileChannel out = FileChannel.open(temporary, StandardOpenOption.CREATE_NEW,
                    StandardOpenOption.WRITE)) {
                Sink sink = new Sink(out);
                EntryColumns c = snapshot.columns;
                byte[] root = snapshot.rootBytes();
                sink.buf.put(MAGIC).putInt(VERSION).putInt(c.count).putInt(c.devices.length).putInt(root.length)
                        .putLong(c.names.length).putLong(snapshot.takenAtNanos());
                sink.longs(c.devices);
                for (int[] column : new int[][] {c.parent, c.nameEnd, c.kind, c.uid, c.gid, c.links}) {
                    sink.ints(column);
                }
                for (long[] column : new long[][] {c.size, c.inode, c.mtime, c.ctime, c.btime}) {
                    sink.longs(column);
                }
                sink.bytes(root);
                sink.bytes(c.names);
                sink.flush();
                ByteBuffer crc = ByteBuffer.allocate(TRAILER).order(ByteOrder.LITTLE_ENDIAN);
                crc.putInt((int) sink.crc.getValue()).flip();
                while (crc.hasRemaining()) {
                    out.write(crc);
                }
                out.force(true);
            }
            Files.move(temporary, file, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
        } catch (IOException | RuntimeException | Error e) {
            try {
                Files.deleteIfExists(temporary);
            } catch (IOException again) {
                e.addSuppressed(again);
            }
            throw e;
        }
    }

    static TreeSnapshot read(Path file) throws IOException {
        try (FileChannel in = FileChannel.open(file, StandardOpenOption.READ)) {
            long length = in.size();
            Source source = new Source(in, file, Math.max(0, length - TRAILER));
            if (length < MAGIC.length + 4 || !source.fill(MAGIC.length + 4)) {
                throw source.refused("not a snapshot file (too short)");
            }
            byte[] magic = new byte[MAGIC.length];
            source.buf.get(magic);
            if (!Arrays.equals(magic, MAGIC)) {
                throw source.refused("not a snapshot file");
            }
            int version = source.buf.getInt();
            if (version != VERSION) {
                throw source.refused("a snapshot file of version " + Integer.toUnsignedString(version)
                        + "; this library reads version " + VERSION);
            }
            if (length < HEADER + TRAILER || !source.fill(HEADER - MAGIC.length - 4)) {
                throw source.refused("truncated snapshot file");
            }
            int n = source.buf.getInt();
            int d = source.buf.getInt();
            int r = source.buf.getInt();
            long m = source.buf.getLong();
            long takenAt = source.buf.getLong();
            if (n < 0 || d < 0 || d > EntryColumns.MAX_DEVICES || r < 1 || m < 0 || m > Integer.MAX_VALUE - 8) {
                throw source.refused("corrupt snapshot file (impossible counts)");
            }
            long expected = HEADER + 8L * d + 64L * n + r + m + TRAILER;
            if (length != expected) {
                throw source.refused(length < expected ? "truncated snapshot file" : "corrupt snapshot file ("
                        + (length - expected) + " bytes past its end)");
            }
            long[] devices = source.longs(d);
            int[][] ints = new int[6][];
            for (int k = 0; k < ints.length; k++) {
                ints[k] = source.ints(n);
            }
            long[][] longs = new long[5][];
            for (int k = 0; k < longs.length; k++) {
                longs[k] = source.longs(n);
            }
            byte[] root = source.bytes(r);
            byte[] names = source.bytes((int) m);
            if (!source.checksumMatches()) {
                throw source.refused("corrupt snapshot file (checksum mismatch)");
            }
            EntryColumns c = new EntryColumns(n, ints[0], ints[1], ints[2], ints[3], ints[4], ints[5], longs[0],
                    longs[1], longs[2], longs[3], longs[4], names, devices);
            String wrong = inconsistency(c);
            if (wrong != null) {
                throw source.refused("corrupt snapshot file (" + wrong + ")");
            }
            return new TreeSnapshot(root, takenAt, c);
        }
    }

    /**
     * What makes columns no snapshot (a file with a right checksum made by something else): a parent that
     * does not come first, names out of order, a device index past the table. Null when they are sound.
     */
    private static String inconsistency(EntryColumns c) {
        int[] lastChild = new int[c.count + 1];  // of each parent, shifted by one for the root
        Arrays.fill(lastChild, -1);
        for (int i = 0; i < c.count; i++) {
            int p = c.parent[i];
            if (p < -1 || p >= i) {
                return "entry " + i + " has parent " + p;
            }
            if (c.nameStart(i) >= c.nameEnd[i] || c.nameEnd[i] > c.names.length) {
                return "entry " + i + " has no name";
            }
            if (((c.kind[i] & EntryColumns.COMPARED) >>> EntryColumns.DEVICE_SHIFT) >= c.devices.length
                    && (c.kind[i] & EntryColumns.UNREAD) == 0) {
                return "entry " + i + " has no device";
            }
            int previous = lastChild[p + 1];
            if (previous >= 0 && c.compareNames(previous, c, i) >= 0) {
                return "entry " + i + " is out of order";
            }
            lastChild[p + 1] = i;
        }
        return c.count == 0 || c.nameEnd[c.count - 1] == c.names.length ? null : "names past the last entry";
    }

    /** Writes through the buffer, checksumming what goes out. */
    private static final class Sink {
        final ByteBuffer buf = ByteBuffer.allocate(BUFFER).order(ByteOrder.LITTLE_ENDIAN);
        final CRC32C crc = new CRC32C();
        private final FileChannel out;

        Sink(FileChannel out) {
            this.out = out;
        }

        void ints(int[] a) throws IOException {
            for (int off = 0; off < a.length; ) {
                int k = Math.min(a.length - off, roomFor(4));
                buf.asIntBuffer().put(a, off, k);
                buf.position(buf.position() + 4 * k);
                off += k;
            }
        }

        void longs(long[] a) throws IOException {
            for (int off = 0; off < a.length; ) {
                int k = Math.min(a.length - off, roomFor(8));
                buf.asLongBuffer().put(a, off, k);
                buf.position(buf.position() + 8 * k);
                off += k;
            }
        }

        void bytes(byte[] a) throws IOException {
            for (int off = 0; off < a.length; ) {
                int k = Math.min(a.length - off, roomFor(1));
                buf.put(a, off, k);
                off += k;
            }
        }

        /** How many values of {@code size} bytes fit, after writing out a full buffer. */
        private int roomFor(int size) throws IOException {
            if (buf.remaining() < size) {
                flush();
            }
            return buf.remaining() / size;
        }

        void flush() throws IOException {
            buf.flip();
            crc.update(buf.duplicate());
            while (buf.hasRemaining()) {
                out.write(buf);
            }
            buf.clear();
        }
    }

    /** Reads the body (all but the checksum) through the buffer, checksumming what comes in. */
    private static final class Source {
        final ByteBuffer buf = ByteBuffer.allocate(BUFFER).order(ByteOrder.LITTLE_ENDIAN);
        private final CRC32C crc = new CRC32C();
        private final FileChannel in;
        private final Path file;
        private long left;

        Source(FileChannel in, Path file, long body) {
            this.in = in;
            this.file = file;
            this.left = body;
            buf.limit(0);
        }

        IOException refused(String why) {
            return new IOException(file + ": " + why);
        }

        /** Makes at least {@code size} bytes ready; false at the end of the body. */
        boolean fill(int size) throws IOException {
            if (buf.remaining() >= size) {
                return true;
            }
            buf.compact();
            while (buf.position() < size && left > 0) {
                int from = buf.position();
                buf.limit((int) Math.min(buf.capacity(), from + left));
                int got = in.read(buf);
                if (got < 0) {
                    throw refused("truncated snapshot file (it shrank while read)");
                }
                crc.update(buf.duplicate().flip().position(from));
                left -= got;
            }
            buf.flip();
            return buf.remaining() >= size;
        }

        int[] ints(int n) throws IOException {
            int[] a = new int[n];
            for (int off = 0; off < n; ) {
                if (!fill(4)) {
                    throw refused("truncated snapshot file");
                }
                int k = Math.min(n - off, buf.remaining() / 4);
                buf.asIntBuffer().get(a, off, k);
                buf.position(buf.position() + 4 * k);
                off += k;
            }
            return a;
        }

        long[] longs(int n) throws IOException {
            long[] a = new long[n];
            for (int off = 0; off < n; ) {
                if (!fill(8)) {
                    throw refused("truncated snapshot file");
                }
                int k = Math.min(n - off, buf.remaining() / 8);
                buf.asLongBuffer().get(a, off, k);
                buf.position(buf.position() + 8 * k);
                off += k;
            }
            return a;
        }

        byte[] bytes(int n) throws IOException {
            byte[] a = new byte[n];
            for (int off = 0; off < n; ) {
                if (!fill(1)) {
                    throw refused("truncated snapshot file");
                }
                int k = Math.min(n - off, buf.remaining());
                buf.get(a, off, k);
                off += k;
            }
            return a;
        }

        /** Whether the body is all read and its checksum is the one that follows it. */
        boolean checksumMatches() throws IOException {
            if (buf.hasRemaining() || left != 0) {
                return false;
            }
            ByteBuffer stored = ByteBuffer.allocate(TRAILER).order(ByteOrder.LITTLE_ENDIAN);
            while (stored.hasRemaining()) {
                if (in.read(stored) < 0) {
                    throw refused("truncated snapshot file (it shrank while read)");
                }
            }
            return stored.flip().getInt() == (int) crc.getValue();
        }
    }
}
