package com.durvo.ufe.fsutil.internal.names;

import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.internal.engine.DirStream;
import com.durvo.ufe.fsutil.internal.loader.NativeLibrary;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import com.durvo.ufe.fsutil.nio.FsFileSystem;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileSystems;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.ProviderMismatchException;
import java.util.ArrayList;
import java.util.List;

/**
 * The exact bytes behind names and paths: a string's readings and the one
 * taken, a default path's bytes, the checks every entry point makes, and the
 * library's string for bytes. {@link FileNames} is the public face.
 */
public final class NameBytes {
    private NameBytes() {
    }

    /**
     * Whether names travel in UTF-8 mode: exactly when the default charset is UTF-8.
     */
    public static boolean utf8Mode() {
        return StandardCharsets.UTF_8.equals(Charset.defaultCharset());
    }

    /** {@link FileNames#toBytes(String)}: the bytes a string stands for. */
    public static byte[] toBytes(String name) {
        byte[][] readings = readings(name);
        byte[] natural = readings[0];
        byte[] iso = readings[1];
        if (iso == null) {
            return lookAlike(name, natural);
        }
        if (natural != null && java.util.Arrays.equals(natural, iso)) {
            return natural;
        }
        if (natural == null) {
            return iso;
        }
        long[] first = Natives.statOrNull(natural);
        long[] second = Natives.statOrNull(iso);
        if (first != null && second != null && !StatValues.sameFile(first, second)) {
            // Two files: the one whose own string this is, when the library delivers it for only one.
            boolean naturalIsIts = name.equals(string(natural, 0, natural.length));
            boolean isoIsIts = name.equals(string(iso, 0, iso.length));
            if (naturalIsIts != isoIsIts) {
                return naturalIsIts ? natural : iso;
            }
            throw twoFiles(name, natural, iso);
        }
        return first == null && second != null ? iso : natural;
    }

    private static InvalidPathException twoFiles(String name, byte[] one, byte[] other) {
        return new InvalidPathException(name, "the string names two existing files, " + spelled(one) + " and "
                + spelled(other) + ": give the path as bytes (FsFileSystem.getPath(byte[])), as a listed entry"
                + " (ChildFile.toPath()) or as an fsstat: URI");
    }

    private static final byte[] REPLACEMENT = {(byte) 0xEF, (byte) 0xBF, (byte) 0xBD};

    /**
     * The bytes of {@code name} (whose UTF-8 reading is {@code natural}) among
     * its look-alikes: where a component holds U+FFFD and the string carries
     * the escape mark, the existing entry of its directory that the library
     * delivers this string for, in place of the natural component; none
     * existing, the natural one; two that are not the same file, refused.
     */
    private static byte[] lookAlike(String name, byte[] natural) {
        if (!utf8Mode() || name.indexOf('\uFFFD') < 0 || name.indexOf('\u00B6') < 0) {
            return natural;
        }
        byte[] chosen = natural;
        for (int start = 0; start < chosen.length; ) {
            int end = start;
            while (end < chosen.length && chosen[end] != '/') {
                end++;
            }
            if (indexOf(chosen, start, end, REPLACEMENT) >= 0) {
                List<byte[]> found = lookAlikes(name, chosen, start, end);
                if (found.isEmpty()) {
                    return chosen;  // nothing below a missing directory exists either
                }
                byte[] first = splice(chosen, start, end, found.get(0));
                for (byte[] other : found.subList(1, found.size())) {
                    byte[] second = splice(chosen, start, end, other);
                    long[] a = Natives.statOrNull(first);
                    long[] b = Natives.statOrNull(second);
                    if (a == null || b == null || !StatValues.sameFile(a, b)) {
                        throw twoFiles(name, first, second);
                    }
                }
                chosen = first;
                end = start + found.get(0).length;
            }
            start = end + 1;
        }
        return chosen;
    }

    /** The entries of the directory above {@code path[start..end)} that could stand there for {@code name}. */
    private static List<byte[]> lookAlikes(String name, byte[] path, int start, int end) {
        byte[] dir = start == 0 ? new byte[] {'.'} : java.util.Arrays.copyOf(path, start == 1 ? 1 : start - 1);
        List<byte[]> found = new ArrayList<>();
        try (DirStream listing = DirStream.open(dir, 1)) {
            List<byte[]> candidates = new ArrayList<>();
            while (listing.nextNames((names, from, length) -> {
                if (length == end - start && alike(path, start, names, from, length)) {
                    candidates.add(java.util.Arrays.copyOfRange(names, from, from + length));
                }
            })) {
                // the names are gathered as they come
            }
            for (byte[] c : candidates) {
                byte[] whole = splice(path, start, end, c);
                if (name.equals(string(whole, 0, whole.length))) {
                    found.add(c);
                }
            }
        } catch (NativeErrno e) {
            // no directory to read: no look-alike in it
        }
        return found;
    }

    /** Whether {@code entry} has the component's bytes, save an encoded surrogate where it holds U+FFFD. */
    private static boolean alike(byte[] path, int start, byte[] names, int from, int length) {
        for (int i = 0; i < length; i++) {
            byte want = path[start + i];
            byte got = names[from + i];
            if (want == got) {
                continue;
            }
            boolean slot = i + 3 <= length && indexOf(path, start + i, start + i + 3, REPLACEMENT) == start + i;
            if (!slot || got != (byte) 0xED || (names[from + i + 1] & 0xE0) != 0xA0
                    || (names[from + i + 2] & 0xC0) != 0x80) {
                return false;
            }
            i += 2;
        }
        return true;
    }

    private static int indexOf(byte[] b, int from, int to, byte[] what) {
        outer:
        for (int i = from; i + what.length <= to; i++) {
            for (int j = 0; j < what.length; j++) {
                if (b[i + j] != what[j]) {
                    continue outer;
                }
            }
            return i;
        }
        return -1;
    }

    private static byte[] splice(byte[] path, int start, int end, byte[] component) {
        byte[] out = new byte[path.length - (end - start) + component.length];
        System.arraycopy(path, 0, out, 0, start);
        System.arraycopy(component, 0, out, start, component.length);
        System.arraycopy(path, end, out, start + component.length, path.length - end);
        return out;
    }

    /**
     * A string's exact readings: its default-charset bytes (the library's
     * escapes undone) and its ISO-8859-1 bytes, each null where the string has
     * none, never both; the same array twice for ASCII.
     *
     * @param name a name or path as the library's string
     * @return the default-charset reading, then the ISO-8859-1 one
     * @throws InvalidPathException for a NUL, an unpaired surrogate, or a string with no exact reading
     */
    public static byte[][] readings(String name) {
        checkPath(name);
        boolean ascii = true;
        boolean latin1 = true;
        for (int i = 0; i < name.length(); i++) {
            char c = name.charAt(i);
            ascii &= c < 0x80;
            latin1 &= c <= 0xFF;
        }
        if (ascii) {
            byte[] only = name.getBytes(StandardCharsets.US_ASCII);
            return new byte[][] {only, only};
        }
        byte[][] readings = Natives.readings(name);
        // A reading is exact or not taken at all: no '?' for a character the charset lacks.
        byte[] natural = Charset.defaultCharset().newEncoder().canEncode(name) ? readings[0] : null;
        byte[] iso = latin1 ? readings[1] : null;
        if (natural == null && iso == null) {
            throw new InvalidPathException(name, "Malformed input or input contains unmappable characters");
        }
        return new byte[][] {natural, iso};
    }

    /** Bytes with everything but printable ASCII as \xNN, so that two spellings can be told apart. */
    static String spelled(byte[] bytes) {
        StringBuilder sb = new StringBuilder();
        for (byte b : bytes) {
            if (b >= 0x20 && b < 0x7F && b != '\\') {
                sb.append((char) b);
            } else {
                sb.append(String.format("\\x%02X", b & 0xFF));
            }
        }
        return sb.toString();
    }

    /**
     * {@link FileNames#fromBytes(byte[])} of {@code bytes[from..from+length)}, which hold no NUL.
     */
    public static String string(byte[] bytes, int from, int length) {
        for (int i = from; i < from + length; i++) {
            if (bytes[i] < 0) {
                byte[] name = new byte[length];
                System.arraycopy(bytes, from, name, 0, length);
                return Natives.nameString(name);
            }
        }
        // Every ASCII-compatible charset reads ASCII bytes as themselves, and
        // they hold no mark: the library's string is the bytes as characters.
        return new String(bytes, from, length, StandardCharsets.ISO_8859_1);
    }

    /**
     * The charset the JDK turns file names into bytes with, as the JDK picks it.
     */
    public static Charset jnuCharset() {
        String name = System.getProperty("sun.jnu.encoding");
        try {
            return name != null ? Charset.forName(name) : Charset.defaultCharset();
        } catch (IllegalArgumentException e) {
            return Charset.defaultCharset();
        }
    }

    /**
     * The bytes for the system calls of a path: {@link #exactBytesOf}, the empty path as the working
     * directory.
     */
    public static byte[] bytesOf(Path path) {
        return Natives.sysPath(exactBytesOf(path));
    }

    /**
     * The exact bytes of a path: those an {@code fsstat:} path holds, or those the default file system's
     * path passes to the system (read from its URI, which keeps them where its string may not).
     */
    public static byte[] exactBytesOf(Path path) {
        if (path.getFileSystem() instanceof FsFileSystem fs) {
            return fs.bytesOf(path);
        }
        if (path.getFileSystem() != FileSystems.getDefault()) {
            throw new ProviderMismatchException("a path of the default or the fsstat: file system is needed, not "
                    + path + " of " + path.getClass().getName() + ": FsFileSystem.toFsPath(Path) converts a default one");
        }
        if (!path.isAbsolute()) {
            return path.toString().isEmpty() ? new byte[0] : relativeBytes(path);
        }
        return unescape(path.toUri().getRawPath(), path.toString().endsWith("/") || path.getNameCount() == 0);
    }

    // A relative default path: its absolute URI's bytes less those of the working directory's.
    private static byte[] relativeBytes(Path path) {
        byte[] whole = unescape(path.toAbsolutePath().toUri().getRawPath(), false);
        byte[] cwd = unescape(Path.of("").toAbsolutePath().toUri().getRawPath(), false);
        int from = cwd.length + (cwd[cwd.length - 1] == '/' ? 0 : 1);
        return java.util.Arrays.copyOfRange(whole, from, whole.length);
    }

    // A URI's raw path as bytes, its %XX escapes undone, less a trailing "/" the URI adds to a directory.
    private static byte[] unescape(String raw, boolean keepSlash) {
        java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream(raw.length());
        for (int i = 0; i < raw.length(); i++) {
            char c = raw.charAt(i);
            if (c == '%') {
                out.write(Integer.parseInt(raw, i + 1, i + 3, 16));
                i += 2;
            } else {
                out.write(c);
            }
        }
        byte[] b = out.toByteArray();
        return !keepSlash && b.length > 1 && b[b.length - 1] == '/' ? java.util.Arrays.copyOf(b, b.length - 1) : b;
    }

    /**
     * Refuses, as NIO does, a path that no file can have: null, one with a NUL
     * character, or one with an unpaired surrogate (which no charset encodes).
     * Every entry point of the API checks its path first, so the library is
     * loaded here, before any class with natives: a load that fails (out of
     * descriptors, say) then fails this call alone, where a failing class
     * initializer would leave that class unusable for the JVM's life.
     */
    public static void checkPath(String path) {
        if (path == null) {
            throw new NullPointerException("path");
        }
        for (int i = 0; i < path.length(); i++) {
            char c = path.charAt(i);
            if (c == 0) {
                throw new InvalidPathException(path, "Nul character not allowed", i);
            }
            if (Character.isHighSurrogate(c) && i + 1 < path.length() && Character.isLowSurrogate(path.charAt(i + 1))) {
                i++;
            } else if (Character.isSurrogate(c)) {
                throw new InvalidPathException(path, "Unpaired surrogate", i);
            }
        }
        NativeLibrary.load();
    }

    /**
     * Refuses a path given as bytes that holds a NUL.
     */
    public static void checkPath(byte[] path) {
        if (path == null) {
            throw new NullPointerException("path");
        }
        for (int i = 0; i < path.length; i++) {
            if (path[i] == 0) {
                throw new InvalidPathException(FileNames.display(java.util.Arrays.copyOf(path, i)) + "\\x00",
                        "Nul character not allowed", i);
            }
        }
        NativeLibrary.load();
    }
}
