package com.durvo.ufe.fsutil.nio;

import static com.durvo.ufe.fsutil.nio.PathChecks.*;

import java.io.*;
import java.nio.*;
import java.nio.channels.*;
import java.nio.charset.*;
import java.nio.file.*;
import java.nio.file.attribute.*;
import java.util.*;

/** Channels of the fsstat: file system: open options, blocked reads ended by close and interrupt, mapping. */
public final class ChannelChecks {
    private ChannelChecks() {
    }

    /**
     * Opens path with options (StandardOpenOption names and NOFOLLOW_LINKS, comma-separated; "perms=rw-------"
     * for an initial mode), writes text if any, then reads what the channel reads from 0 if it can: "at P wrote
     * N read R" (P its position when opened: the end with APPEND), or the exception's "Class: message". With
     * reopen, the channel is reached through /proc/self/fd, as on a JVM whose channels cannot be made over a
     * descriptor.
     */
    public static String open(byte[] path, String options, String text, boolean reopen) {
        Set<OpenOption> opts = new HashSet<>();
        List<java.nio.file.attribute.FileAttribute<?>> attrs = new ArrayList<>();
        for (String o : options.split(",")) {
            if (o.startsWith("perms=")) {
                attrs.add(PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString(o.substring(6))));
            } else if (o.equals("NOFOLLOW_LINKS")) {
                opts.add(LinkOption.NOFOLLOW_LINKS);
            } else if (!o.isEmpty()) {
                opts.add(StandardOpenOption.valueOf(o));
            }
        }
        try (SeekableByteChannel ch = channel(FS.getPath(path), opts, reopen,
                attrs.toArray(new java.nio.file.attribute.FileAttribute<?>[0]))) {
            long at = ch.position();
            int wrote = text.isEmpty() ? 0 : ch.write(ByteBuffer.wrap(text.getBytes(StandardCharsets.ISO_8859_1)));
            String read = "";
            if (opts.contains(StandardOpenOption.READ) || !opts.contains(StandardOpenOption.WRITE)
                    && !opts.contains(StandardOpenOption.APPEND)) {
                ByteBuffer b = ByteBuffer.allocate(100);
                ch.position(0).read(b);
                read = new String(b.array(), 0, b.position(), StandardCharsets.ISO_8859_1);
            }
            return "at " + at + " wrote " + wrote + " read " + read;
        } catch (Exception e) {
            return e.getClass().getName() + ": " + e.getMessage();
        }
    }

    private static FileChannel channel(Path p, Set<OpenOption> options, boolean reopen,
            java.nio.file.attribute.FileAttribute<?>... attrs) throws IOException {
        if (!reopen && !com.durvo.ufe.fsutil.internal.natives.DescriptorChannels.direct()) {
            throw new IllegalStateException("the JDK's channel could not be made over a descriptor");
        }
        return reopen ? FsChannels.open(FsPlace.of(FsPath.of(p)), options, false, attrs)
                : FileChannel.open(p, options, attrs);
    }

    /**
     * A channel's life as the JDK's channels live it: a read waiting on an empty FIFO (whose writer the test
     * holds open) ends with AsynchronousCloseException when another thread closes the channel, and with
     * ClosedByInterruptException when the reader is interrupted; a regular file maps, locks and transfers.
     * With reopen, through /proc/self/fd (see open).
     */
    public static String channels(byte[] fifo, byte[] file, boolean reopen) throws Exception {
        StringBuilder out = new StringBuilder();
        for (boolean close : new boolean[] {true, false}) {
            SeekableByteChannel ch = channel(FS.getPath(fifo), Set.of(StandardOpenOption.READ), reopen);
            Thread reader = Thread.currentThread();
            Thread other = new Thread(() -> {
                try {
                    Thread.sleep(200);
                    if (close) {
                        ch.close();
                    } else {
                        reader.interrupt();
                    }
                } catch (InterruptedException | IOException e) {
                    // told by the reader's outcome
                }
            });
            other.start();
            out.append(outcome(() -> ch.read(ByteBuffer.allocate(8)))).append(' ').append(ch.isOpen()).append(' ');
            Thread.interrupted();
            other.join();
        }
        Path p = FS.getPath(file);
        try (FileChannel ch = channel(p, Set.of(StandardOpenOption.READ, StandardOpenOption.WRITE), reopen);
                FileLock lock = ch.lock()) {
            MappedByteBuffer m = ch.map(FileChannel.MapMode.READ_WRITE, 0, ch.size());
            m.put(0, (byte) 'M');
            java.io.ByteArrayOutputStream sink = new java.io.ByteArrayOutputStream();
            ch.transferTo(0, ch.size(), java.nio.channels.Channels.newChannel(sink));
            out.append(lock.isValid()).append(' ').append(sink.toString(StandardCharsets.ISO_8859_1));
        }
        return out.toString();
    }
}
