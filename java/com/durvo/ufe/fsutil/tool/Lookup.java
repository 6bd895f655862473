package com.durvo.ufe.fsutil.tool;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.FolderListing;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.net.URI;
import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.Charset;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.NotDirectoryException;
import java.nio.file.Path;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.Set;

/** Files by the bytes of their paths: a directory's entries, one path's attributes, a link's target. */
final class Lookup {
    private static final byte[] DOT = {'.'};
    private static final byte[] DOT_DOT = {'.', '.'};
    private static final byte[] ROOT = {'/'};

    private Lookup() {
    }

    /** The entries of {@code dir}, in the order the file system gives them. */
    static List<Entry> list(byte[] dir) throws IOException {
        List<Entry> entries = new ArrayList<>();
        try (FolderListing listing = FolderListing.open(dir)) {
            for (ChildFile f : listing) {
                entries.add(Entry.of(f, f.nameBytes()));
            }
        } catch (UncheckedIOException e) {
            throw e.getCause();
        }
        return entries;
    }

    /**
     * The attributes of {@code path} itself (a link is not followed), named
     * {@code path}. The file-system root has no entry in any directory: its
     * figures come from java.nio, which does not give its blocks (read as 0).
     */
    static Entry lstat(byte[] path) throws IOException {
        int end = path.length;
        while (end > 1 && path[end - 1] == '/') {
            end--;
        }
        byte[] trimmed = Arrays.copyOf(path, end);
        int slash = lastSlash(trimmed);
        byte[] base = Arrays.copyOfRange(trimmed, slash + 1, trimmed.length);
        if (Arrays.equals(trimmed, ROOT)) {
            return root().named(path);
        }
        if (Arrays.equals(base, DOT) || Arrays.equals(base, DOT_DOT)) {
            byte[] real = canonical(trimmed);
            return (Arrays.equals(real, ROOT) ? root() : lstat(real)).named(path);
        }
        byte[] parent = slash < 0 ? DOT : slash == 0 ? ROOT : Arrays.copyOf(trimmed, slash);
        for (Entry e : list(parent)) {
            if (Arrays.equals(e.name(), base)) {
                return e.named(path);
            }
        }
        throw new NoSuchFileException(FileNames.display(path));
    }

    private static Entry root() throws IOException {
        Path root = Path.of("/");
        Map<String, Object> a = Files.readAttributes(root, "unix:*", LinkOption.NOFOLLOW_LINKS);
        @SuppressWarnings("unchecked")
        Set<PosixFilePermission> perms = (Set<PosixFilePermission>) a.get("permissions");
        return new Entry(ROOT, (Long) a.get("dev"), (Long) a.get("ino"), (Integer) a.get("mode"),
                (Integer) a.get("nlink"), (Integer) a.get("uid"), (Integer) a.get("gid"), (Long) a.get("rdev"),
                (Long) a.get("size"), 0, ((FileTime) a.get("lastModifiedTime")).toInstant(),
                "d" + PosixFilePermissions.toString(perms));
    }

    /** The target of the symbolic link {@code path}, byte for byte. */
    static byte[] readLink(byte[] path) throws IOException {
        Path target = Files.readSymbolicLink(nioPath(path));
        // A Path keeps the bytes it was made from, and its URI spells each of them out.
        Path absolute = target.isAbsolute() ? target : Path.of("/").resolve(target);
        byte[] bytes = percentDecode(absolute.toUri().getRawPath());
        if (bytes.length > 1 && bytes[bytes.length - 1] == '/' && !target.toString().endsWith("/")) {
            bytes = Arrays.copyOf(bytes, bytes.length - 1);  // toUri marks a directory with a slash
        }
        return target.isAbsolute() ? bytes : Arrays.copyOfRange(bytes, 1, bytes.length);
    }

    /** A java.nio path with exactly these bytes, whatever the file-name charset can decode. */
    static Path nioPath(byte[] path) {
        byte[] absolute = path.length > 0 && path[0] == '/' ? path : join(cwd(), path);
        StringBuilder uri = new StringBuilder("file://");
        for (byte b : absolute) {
            int c = b & 0xFF;
            if (c >= 'a' && c <= 'z' || c >= 'A' && c <= 'Z' || c >= '0' && c <= '9' || "/-_.~".indexOf(c) >= 0) {
                uri.append((char) c);
            } else {
                uri.append('%').append(Character.forDigit(c >> 4, 16)).append(Character.forDigit(c & 15, 16));
            }
        }
        return Path.of(URI.create(uri.toString()));
    }

    private static byte[] percentDecode(String raw) {
        ByteArrayOutputStream out = new ByteArrayOutputStream(raw.length());
        for (int i = 0; i < raw.length(); i++) {
            char c = raw.charAt(i);
            if (c == '%' && i + 2 < raw.length()) {
                out.write(Integer.parseInt(raw.substring(i + 1, i + 3), 16));
                i += 2;
            } else {
                out.write(c);
            }
        }
        return out.toByteArray();
    }

    /**
     * The absolute path with links resolved, where the name can be handed to
     * java.io as it is; otherwise made absolute with "." and ".." taken out.
     */
    static byte[] canonical(byte[] path) {
        Charset jnu = fileNameCharset();
        try {
            String name = jnu.newDecoder().decode(ByteBuffer.wrap(path)).toString();
            return new File(name).getCanonicalPath().getBytes(jnu);
        } catch (CharacterCodingException e) {
            return normalize(path.length > 0 && path[0] == '/' ? path : join(cwd(), path));
        } catch (IOException e) {
            return path;
        }
    }

    private static byte[] normalize(byte[] absolute) {
        List<byte[]> parts = new ArrayList<>();
        int start = 0;
        for (int i = 0; i <= absolute.length; i++) {
            if (i == absolute.length || absolute[i] == '/') {
                byte[] part = Arrays.copyOfRange(absolute, start, i);
                start = i + 1;
                if (Arrays.equals(part, DOT_DOT)) {
                    if (!parts.isEmpty()) {
                        parts.remove(parts.size() - 1);
                    }
                } else if (part.length > 0 && !Arrays.equals(part, DOT)) {
                    parts.add(part);
                }
            }
        }
        byte[] result = ROOT;
        for (byte[] part : parts) {
            result = join(result, part);
        }
        return result;
    }

    /** {@code dir/name}, without doubling a slash that ends {@code dir}. */
    static byte[] join(byte[] dir, byte[] name) {
        boolean slash = dir.length > 0 && dir[dir.length - 1] == '/';
        byte[] joined = Arrays.copyOf(dir, dir.length + (slash ? 0 : 1) + name.length);
        if (!slash) {
            joined[dir.length] = '/';
        }
        System.arraycopy(name, 0, joined, joined.length - name.length, name.length);
        return joined;
    }

    private static int lastSlash(byte[] path) {
        for (int i = path.length - 1; i >= 0; i--) {
            if (path[i] == '/') {
                return i;
            }
        }
        return -1;
    }

    private static byte[] cwd() {
        return System.getProperty("user.dir").getBytes(fileNameCharset());
    }

    static Charset fileNameCharset() {
        try {
            return Charset.forName(System.getProperty("sun.jnu.encoding"));
        } catch (RuntimeException e) {
            return Charset.defaultCharset();
        }
    }

    /** What went wrong, in the words the GNU tools use. */
    static String reason(IOException e) {
        if (e instanceof NoSuchFileException) {
            return "No such file or directory";
        }
        if (e instanceof NotDirectoryException) {
            return "Not a directory";
        }
        if (e instanceof AccessDeniedException) {
            return "Permission denied";
        }
        if (e instanceof FileSystemException && ((FileSystemException) e).getReason() != null) {
            return ((FileSystemException) e).getReason();
        }
        return String.valueOf(e.getMessage());
    }
}
