package com.durvo.ufe.fsutil.tool;

import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.Charset;

/**
 * Standard output as bytes, gathered into large writes. A reader that has gone
 * away (a closed pipe) ends the process at once with the status a shell shows
 * for a command killed by SIGPIPE, as the GNU tools end; the JVM ignores that
 * signal, so the write fails instead and we exit ourselves. Any other write
 * error ends it too, with the command's status for trouble.
 */
final class Out {
    static final int BROKEN_PIPE_STATUS = 128 + 13;
    private static final int FLUSH_AT = 1 << 16;

    private final OutputStream sink;
    private final Charset charset = Names.CHARSET;
    private String who = "fsutil";
    private int failure = 1;
    private byte[] buf = new byte[FLUSH_AT + 4096];
    private int used;

    Out(OutputStream sink) {
        this.sink = sink;
    }

    static Out stdout() {
        return new Out(new FileOutputStream(FileDescriptor.out));
    }

    /** Who a write error is reported as ("fsutil ls"), and the status it ends the process with. */
    void onWriteError(String who, int status) {
        this.who = who;
        this.failure = status;
    }

    Out bytes(byte[] b) {
        return bytes(b, 0, b.length);
    }

    Out bytes(byte[] b, int off, int len) {
        room(len);
        System.arraycopy(b, off, buf, used, len);
        used += len;
        return this;
    }

    /** A name or path, as {@link Names} shows it. */
    Out name(byte[] name) {
        return Names.plain(name) ? bytes(name) : text(Names.shown(name));
    }

    /** Text in the locale's charset. */
    Out text(String s) {
        if (isAscii(s)) {
            return ascii(s);
        }
        return bytes(s.getBytes(charset));
    }

    /** Text known to be ASCII (figures, fixed words), copied without an encoder. */
    @SuppressWarnings("deprecation")  // the one copy of a string's low bytes that is just an array copy
    Out ascii(String s) {
        int n = s.length();
        room(n);
        s.getBytes(0, n, buf, used);
        used += n;
        return this;
    }

    /** {@code value} (unsigned) in decimal, right-aligned in {@code width} columns. */
    Out number(long value, int width) {
        int digits = digits(value);
        spaces(width - digits);
        room(digits);
        long v = value;
        for (int i = used + digits - 1; i >= used; i--) {
            buf[i] = (byte) ('0' + Long.remainderUnsigned(v, 10));
            v = Long.divideUnsigned(v, 10);
        }
        used += digits;
        return this;
    }

    /** How many decimal digits {@code value} (unsigned) has. */
    static int digits(long value) {
        int n = 1;
        for (long v = Long.divideUnsigned(value, 10); v != 0; v /= 10) {
            n++;
        }
        return n;
    }

    Out ch(char c) {
        room(1);
        buf[used++] = (byte) c;
        return this;
    }

    Out spaces(int n) {
        room(Math.max(n, 0));
        for (int i = 0; i < n; i++) {
            buf[used++] = ' ';
        }
        return this;
    }

    /** {@code s} right-aligned in {@code width} columns. */
    Out right(String s, int width) {
        return spaces(width - s.length()).text(s);
    }

    /** {@code s} left-aligned in {@code width} columns. */
    Out left(String s, int width) {
        return text(s).spaces(width - s.length());
    }

    /** Ends a line; the buffer goes out once it holds a batch of lines. */
    Out nl() {
        ch('\n');
        if (used >= FLUSH_AT) {
            flush();
        }
        return this;
    }

    void flush() {
        if (used == 0) {
            return;
        }
        try {
            sink.write(buf, 0, used);
            sink.flush();
        } catch (IOException e) {
            if (String.valueOf(e.getMessage()).contains("Broken pipe")) {
                Runtime.getRuntime().halt(BROKEN_PIPE_STATUS);
            }
            System.err.println(who + ": write error: " + e.getMessage());
            System.err.flush();
            Runtime.getRuntime().halt(failure);
        }
        used = 0;
    }

    private void room(int n) {
        if (used + n > buf.length) {
            flush();
            if (n > buf.length) {
                buf = new byte[n];
            }
        }
    }

    static boolean isAscii(String s) {
        for (int i = 0; i < s.length(); i++) {
            if (s.charAt(i) >= 0x80) {
                return false;
            }
        }
        return true;
    }
}
