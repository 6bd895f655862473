package com.durvo.ufe.fsutil.internal.natives;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.Arrays;

/** The {@code struct inotify_event}s that {@link Natives#inotifyRead} gives, taken apart. */
public final class InotifyEvents {
    private static final int HEADER = 16;  // wd, mask, cookie, len; then the name, NUL-padded to len

    /** What takes the events one by one. */
    public interface Handler {
        /** One event, {@code name} null for one of the watched directory itself; false to take no more. */
        boolean event(int wd, int mask, int cookie, byte[] name);
    }

    private InotifyEvents() {
    }

    /**
     * Hands each event of the first {@code n} bytes of {@code buf} to {@code handler}, in order, until it
     * answers false.
     */
    public static void forEach(byte[] buf, int n, Handler handler) {
        ByteBuffer events = ByteBuffer.wrap(buf, 0, n).order(ByteOrder.nativeOrder());
        for (int at = 0; at < n;) {
            int length = events.getInt(at + 12);
            int name = at + HEADER;
            int end = name + length;
            while (end > name && buf[end - 1] == 0) {
                end--;
            }
            if (!handler.event(events.getInt(at), events.getInt(at + 4), events.getInt(at + 8),
                    end > name ? Arrays.copyOfRange(buf, name, end) : null)) {
                return;
            }
            at = name + length;
        }
    }
}
