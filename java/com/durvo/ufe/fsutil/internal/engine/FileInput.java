package com.durvo.ufe.fsutil.internal.engine;

import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.GuardedHandle;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.util.Objects;

/**
 * A file open for reading through the library's descriptor routines, its
 * descriptor guarded against a close from another thread (see
 * {@link GuardedHandle}): a read never reaches a descriptor number that the
 * process has since given to another file.
 */
public final class FileInput extends InputStream {
    private static final int TRANSFER_BUFFER = 64 * 1024;

    /** The path's bytes, for messages. */
    private final byte[] path;
    /** A regular file can seek and knows its size; anything else is read in order. */
    private final boolean regular;
    private final GuardedHandle descriptor;

    private FileInput(int fd, byte[] path, boolean regular) {
        this.path = path;
        this.regular = regular;
        this.descriptor = new GuardedHandle(this, fd, h -> Natives.closeRead((int) h));
    }

    /** Opens the file at {@code path}, which the caller has checked and no one else changes. */
    public static FileInput open(byte[] path) throws IOException {
        long[] stat = new long[NativeConstants.STAT_LONGS];
        int fd;
        try {
            fd = Natives.openRead(Natives.sysPath(path), stat);
        } catch (NativeErrno e) {
            throw e.forFile(path);
        }
        return new FileInput(fd, path, (stat[2] & 0xF000) == 0x8000);
    }

    @Override
    public int read() throws IOException {
        byte[] one = new byte[1];
        return read(one, 0, 1) < 0 ? -1 : one[0] & 0xFF;
    }

    @Override
    public int read(byte[] b, int off, int len) throws IOException {
        Objects.checkFromIndexSize(off, len, b.length);
        if (len == 0) {
            return 0;
        }
        return whileOpen(fd -> Natives.read(fd, b, off, len));
    }

    /**
     * Skips up to {@code n} bytes. A regular file moves its position, never
     * past the end, so the count is what was skipped; a pipe or device is
     * read and the bytes dropped.
     */
    @Override
    public long skip(long n) throws IOException {
        if (!regular) {
            return super.skip(n);
        }
        if (n <= 0) {
            return 0;
        }
        return whileOpen(fd -> {
            long step = Math.min(n, Natives.remaining(fd));
            return step == 0 ? 0 : Natives.skip(fd, step);
        });
    }

    /** For a regular file the bytes left before its end (at most {@link Integer#MAX_VALUE}); 0 for anything else. */
    @Override
    public int available() throws IOException {
        return whileOpen(fd -> regular ? (int) Math.min(Natives.remaining(fd), Integer.MAX_VALUE) : 0);
    }

    // A larger buffer than InputStream's: fewer trips into the library.
    @Override
    public long transferTo(OutputStream out) throws IOException {
        Objects.requireNonNull(out, "out");
        byte[] buffer = new byte[TRANSFER_BUFFER];
        long total = 0;
        for (int n; (n = read(buffer, 0, buffer.length)) >= 0; total += n) {
            out.write(buffer, 0, n);
        }
        return total;
    }

    /** Closes the descriptor; safe from any thread, and later calls do nothing. */
    @Override
    public void close() {
        descriptor.close();
    }

    /** What {@code use} makes of the open descriptor; refuses once closed. */
    private <T> T whileOpen(FdUse<T> use) throws IOException {
        T result;
        try {
            result = descriptor.use(h -> use.apply((int) h), null);
        } catch (NativeErrno e) {
            throw e.forFile(path);
        }
        if (result == null) {
            throw new IOException("Stream closed");
        }
        return result;
    }

    private interface FdUse<T> {
        T apply(int fd) throws NativeErrno;
    }
}
