package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import java.net.URI;
import java.nio.file.InvalidPathException;
import java.util.Arrays;

/** A path's URI and back: the path's bytes percent-encoded, so a URI names the file whatever its bytes. */
final class FsUris {
    private FsUris() {
    }

    /** Refuses a URI other than {@code scheme:///}, the one file system's. */
    static void checkFileSystemUri(String scheme, URI uri) {
        if (!scheme.equalsIgnoreCase(uri.getScheme())) {
            throw new IllegalArgumentException("URI does not match this provider");
        }
        if (uri.getRawAuthority() != null) {
            throw new IllegalArgumentException("Authority component present");
        }
        String path = uri.getPath();
        if (path == null) {
            throw new IllegalArgumentException("Path component is undefined");
        }
        if (!path.equals("/")) {
            throw new IllegalArgumentException("Path component should be '/'");
        }
        if (uri.getRawQuery() != null) {
            throw new IllegalArgumentException("Query component present");
        }
        if (uri.getRawFragment() != null) {
            throw new IllegalArgumentException("Fragment component present");
        }
    }

    /** The path of {@code fs} whose bytes the URI's path spells, percent-encoded bytes taken as they are. */
    static FsPath fromUri(FsFileSystem fs, URI uri) {
        String scheme = fs.provider().getScheme();
        if (!uri.isAbsolute()) {
            throw new IllegalArgumentException("URI is not absolute");
        }
        if (uri.isOpaque()) {
            throw new IllegalArgumentException("URI is not hierarchical");
        }
        if (!scheme.equalsIgnoreCase(uri.getScheme())) {
            throw new IllegalArgumentException("URI scheme is not \"" + scheme + "\"");
        }
        if (uri.getRawAuthority() != null) {
            throw new IllegalArgumentException("URI has an authority component");
        }
        if (uri.getRawFragment() != null) {
            throw new IllegalArgumentException("URI has a fragment component");
        }
        if (uri.getRawQuery() != null) {
            throw new IllegalArgumentException("URI has a query component");
        }
        String p = uri.getRawPath();
        if (p.isEmpty()) {
            throw new IllegalArgumentException("URI path component is empty");
        }
        byte[] bytes = new byte[p.length()];
        int n = 0;
        for (int i = 0; i < p.length(); i++) {
            char c = p.charAt(i);
            int b;
            if (c == '%') {
                if (i + 2 >= p.length()) {
                    throw new IllegalArgumentException("Bad escape");
                }
                int hi = Character.digit(p.charAt(i + 1), 16);
                int lo = Character.digit(p.charAt(i + 2), 16);
                if (hi < 0 || lo < 0) {
                    throw new IllegalArgumentException("Bad escape");
                }
                b = hi << 4 | lo;
                i += 2;
            } else if (c >= 0x80) {
                throw new IllegalArgumentException("Bad escape");  // a URI's path spells bytes in ASCII
            } else {
                b = c;
            }
            if (b == 0) {
                throw new InvalidPathException(FileNames.display(Arrays.copyOf(bytes, n)),
                        "Nul character not allowed");
            }
            bytes[n++] = (byte) b;
        }
        return new FsPath(fs, Arrays.copyOf(bytes, n));
    }

    /** The URI of {@code path} made absolute: its scheme's, each byte outside the URI's characters as %XX. */
    static URI toUri(FsPath path) {
        FsPath absolute = (FsPath) path.toAbsolutePath();
        byte[] abs = absolute.exactBytes();
        StringBuilder uri = new StringBuilder(path.getFileSystem().provider().getScheme()).append("://");
        for (byte b : abs) {
            int c = b & 0xFF;
            if (c < 0x80 && (Character.isLetterOrDigit(c) || "/-_.!~*'():@&=+$,;".indexOf(c) >= 0)) {
                uri.append((char) c);
            } else {
                uri.append('%').append(Character.toUpperCase(Character.forDigit(c >> 4, 16)))
                        .append(Character.toUpperCase(Character.forDigit(c & 15, 16)));
            }
        }
        // As the default provider: a directory's URI ends with a slash.
        if (abs.length > 1 && isDirectory(path)) {
            uri.append('/');
        }
        return URI.create(uri.toString());
    }

    private static boolean isDirectory(FsPath p) {
        try {
            return StatValues.type(Natives.stat(p.bytes(), true)) == ChildFile.Type.DIRECTORY;
        } catch (NativeErrno e) {
            return false;
        }
    }
}
