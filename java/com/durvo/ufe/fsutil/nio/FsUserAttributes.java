package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.internal.names.NameBytes;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileSystemException;
import java.nio.file.InvalidPathException;
import java.nio.file.attribute.UserDefinedFileAttributeView;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Objects;

/**
 * The {@code user} view: a file's extended attributes in the {@code user.}
 * namespace. Each call opens the file for reading (not through a final link
 * when links are not followed) and works on the descriptor, as the default
 * provider does, so the answers and exceptions are that provider's.
 *
 * <p>A name's bytes are read from its string as a path's are (its
 * default-charset bytes with the library's escapes undone, else its ISO-8859-1
 * bytes; a string with neither is refused, never sent as {@code ?}), and a
 * listed name is the library's string of its bytes, so a listed name reads
 * back (under UTF-8, one holding an encoded surrogate reads as the bytes of
 * its natural look-alike).
 */
final class FsUserAttributes implements UserDefinedFileAttributeView {
    private static final byte[] PREFIX = "user.".getBytes(StandardCharsets.US_ASCII);
    private static final int NAME_MAX = 255;  // XATTR_NAME_MAX, the prefix counted
    private static final int ENODATA = 61;  // the file has no attribute of that name

    private final FsPlace place;
    private final boolean follow;

    FsUserAttributes(FsPlace place, boolean follow) {
        this.place = place;
        this.follow = follow;
    }

    /** A call of an extended-attribute native on the open file. */
    private interface Call<T> {
        T apply(int fd) throws NativeErrno;
    }

    /**
     * What {@code c} gives on the file, opened as the default provider opens
     * it: a failed open as the provider's exception for the path, a failed
     * call as a {@link FileSystemException} saying {@code what} failed.
     */
    private <T> T onFile(String what, Call<T> c) throws IOException {
        int options = NativeConstants.READ | NativeConstants.NONBLOCK | (follow ? 0 : NativeConstants.NOFOLLOW);
        int fd = (int) (long) place.call((dfd, p) -> Natives.open(dfd, p, options, 0));
        try {
            return c.apply(fd);
        } catch (NativeErrno e) {
            throw new FileSystemException(place.display(), null, what + ": " + e.getMessage());
        } finally {
            Natives.close(fd);
        }
    }

    /** The name on disk: {@code user.} and the name's bytes. */
    private byte[] key(String name) throws FileSystemException {
        Objects.requireNonNull(name, "'name' is null");
        byte[][] readings;
        try {
            readings = NameBytes.readings(name);
        } catch (InvalidPathException e) {
            throw new IllegalArgumentException("'" + name + "': " + e.getReason());
        }
        byte[] bytes = readings[0] != null ? readings[0] : readings[1];
        if (PREFIX.length + bytes.length > NAME_MAX) {
            throw new FileSystemException(place.display(), null, "'user." + name + "' is too big");
        }
        byte[] key = Arrays.copyOf(PREFIX, PREFIX.length + bytes.length);
        System.arraycopy(bytes, 0, key, PREFIX.length, bytes.length);
        return key;
    }

    @Override
    public String name() {
        return "user";
    }

    @Override
    public List<String> list() throws IOException {
        byte[] all = onFile("Unable to get list of extended attributes", Natives::listxattr);
        List<String> names = new ArrayList<>();
        for (int start = 0, end; start < all.length; start = end + 1) {
            end = start;
            while (end < all.length && all[end] != 0) {
                end++;
            }
            int from = start + PREFIX.length;
            if (from <= end && Arrays.equals(all, start, from, PREFIX, 0, PREFIX.length)) {
                names.add(NameBytes.string(all, from, end - from));
            }
        }
        return List.copyOf(names);
    }

    /**
     * Copies every {@code user.} attribute of the open file {@code from} to the
     * open file {@code to}, as the default provider's copy with
     * {@code COPY_ATTRIBUTES} does: by their bytes, and what cannot be read or
     * written is left out.
     */
    static void copy(int from, int to) {
        byte[] all;
        try {
            all = Natives.listxattr(from);
        } catch (NativeErrno e) {
            return;  // nothing to copy from here
        }
        for (int start = 0, end; start < all.length; start = end + 1) {
            end = start;
            while (end < all.length && all[end] != 0) {
                end++;
            }
            byte[] key = Arrays.copyOfRange(all, start, end);
            if (key.length > PREFIX.length && Arrays.equals(key, 0, PREFIX.length, PREFIX, 0, PREFIX.length)) {
                try {
                    Natives.setxattr(to, key, Natives.getxattr(from, key));
                } catch (NativeErrno e) {
                    // this one is left out
                }
            }
        }
    }

    @Override
    public int size(String name) throws IOException {
        return value(name).length;
    }

    /** The whole value, in one read: it cannot change between asking its size and reading it. */
    private byte[] value(String name) throws IOException {
        byte[] key = key(name);
        return onFile("Unable to get size of extended attribute '" + name + "'", fd -> Natives.getxattr(fd, key));
    }

    @Override
    public int read(String name, ByteBuffer dst) throws IOException {
        if (dst.isReadOnly()) {
            throw new IllegalArgumentException("Read-only buffer");
        }
        byte[] key = key(name);
        String what = "Error reading extended attribute '" + name + "'";
        byte[] value = onFile(what, fd -> Natives.getxattr(fd, key));
        if (value.length > dst.remaining()) {
            throw new FileSystemException(place.display(), null, what + ": Insufficient space in buffer");
        }
        dst.put(value);
        return value.length;
    }

    @Override
    public int write(String name, ByteBuffer src) throws IOException {
        byte[] key = key(name);
        byte[] value = new byte[src.remaining()];
        src.duplicate().get(value);  // the position moves only once written
        onFile("Error writing extended attribute '" + name + "'", fd -> {
            Natives.setxattr(fd, key, value);
            return null;
        });
        src.position(src.position() + value.length);
        return value.length;
    }

    @Override
    public void delete(String name) throws IOException {
        byte[] key = key(name);
        onFile("Unable to delete extended attribute '" + name + "'", fd -> {
            Natives.removexattr(fd, key);
            return null;
        });
    }

    /** {@code user:a,b} or {@code user:*}: each name and its value as a {@code byte[]}. */
    Map<String, Object> readAttributes(String[] names) throws IOException {
        List<String> wanted = new ArrayList<>();
        for (String n : names) {
            if (n.equals("*")) {
                wanted = list();
                break;
            }
            if (n.isEmpty()) {
                throw new IllegalArgumentException();
            }
            wanted.add(n);
        }
        Map<String, Object> out = new HashMap<>();
        for (String n : wanted) {
            out.put(n, value(n));
        }
        return out;
    }

    /** {@code user:name} set to a {@code byte[]} or a {@code ByteBuffer}'s remaining bytes. */
    void set(String name, Object value) throws IOException {
        write(name, value instanceof byte[] ? ByteBuffer.wrap((byte[]) value) : (ByteBuffer) value);
    }

    /** Whether the file system of {@code file} keeps user attributes: asked for one that the file lacks, it says so. */
    static boolean supported(FsPath file) {
        try {
            int fd = (int) Natives.open(NativeConstants.CWD, file.bytes(), NativeConstants.READ | NativeConstants.NONBLOCK, 0);
            try {
                Natives.getxattr(fd, "user.fsstat-probe".getBytes(StandardCharsets.US_ASCII));
                return true;
            } catch (NativeErrno e) {
                return e.errno == ENODATA;
            } finally {
                Natives.close(fd);
            }
        } catch (NativeErrno e) {
            return false;
        }
    }
}
