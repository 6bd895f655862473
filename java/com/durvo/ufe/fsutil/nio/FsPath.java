package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.internal.names.NameBytes;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import java.io.IOException;
import java.net.URI;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.ProviderMismatchException;
import java.nio.file.WatchEvent;
import java.nio.file.WatchKey;
import java.nio.file.WatchService;
import java.util.Arrays;
import java.util.Objects;

/**
 * A path of the {@code fsstat} file system: its exact bytes. Equality,
 * order, hashing and every path operation work on the bytes; the string is
 * only the library's view of them for people and for other APIs. The bytes
 * are kept as {@code Path} keeps a name: no slash repeated, none at the end
 * but the root's.
 */
final class FsPath implements Path {
    private static final byte[] EMPTY = {};

    private final FsFileSystem fs;
    private final byte[] path;
    /** Where each name starts; made on first use. */
    private volatile int[] offsets;
    private volatile String string;

    /** A path of {@code fs} with these bytes, which hold no NUL and are owned by the path from now on. */
    FsPath(FsFileSystem fs, byte[] path) {
        this(fs, normal(path), true);
    }

    /** A path of bytes that are normal already (see {@link #normal}). */
    private FsPath(FsFileSystem fs, byte[] path, boolean normal) {
        this.fs = fs;
        this.path = path;
    }

    private static byte[] normal(byte[] p) {
        int n = p.length;
        while (n > 1 && p[n - 1] == '/') {
            n--;
        }
        byte[] out = null;
        int o = 0;
        for (int i = 0; i < n; i++) {
            if (p[i] == '/' && i > 0 && p[i - 1] == '/') {
                if (out == null) {
                    out = Arrays.copyOf(p, n);
                    o = i;
                }
                continue;
            }
            if (out != null) {
                out[o] = p[i];
            }
            o++;
        }
        return out != null ? Arrays.copyOf(out, o) : n == p.length ? p : Arrays.copyOf(p, n);
    }

    /**
     * The bytes for the system calls; callers never change them. The empty
     * path names the working directory there, as with the JDK's provider.
     */
    byte[] bytes() {
        return Natives.sysPath(path);
    }

    /** The exact bytes; callers never change them. */
    byte[] exactBytes() {
        return path;
    }

    /** {@return the path for people: bytes not valid in the default charset as \xNN} */
    String display() {
        return FileNames.display(path);
    }

    static FsPath of(Path p) {
        Objects.requireNonNull(p, "path");
        if (!(p instanceof FsPath)) {
            throw mismatch("a path of the fsstat: file system", p);
        }
        return (FsPath) p;
    }

    /** The failure for {@code given} where {@code needed} is: it names the converter. */
    static ProviderMismatchException mismatch(String needed, Path given) {
        return new ProviderMismatchException(needed + " is needed, not " + given + " of "
                + given.getClass().getName() + ": FsFileSystem.toFsPath(Path) converts a default one");
    }

    private FsPath with(byte[] p) {
        return new FsPath(fs, p);
    }

    private boolean isEmpty() {
        return path.length == 0;
    }

    private int[] offsets() {
        int[] o = offsets;
        if (o == null) {
            if (isEmpty()) {
                o = new int[] {0};  // the empty path has one name, the empty one
            } else {
                int count = 0;
                for (int i = 0; i < path.length; i++) {
                    if (path[i] != '/' && (i == 0 || path[i - 1] == '/')) {
                        count++;
                    }
                }
                o = new int[count];
                count = 0;
                for (int i = 0; i < path.length; i++) {
                    if (path[i] != '/' && (i == 0 || path[i - 1] == '/')) {
                        o[count++] = i;
                    }
                }
            }
            offsets = o;
        }
        return o;
    }

    private int nameEnd(int i) {
        int[] o = offsets();
        return i + 1 < o.length ? o[i + 1] - 1 : path.length;
    }

    private byte[] name(int i) {
        return Arrays.copyOfRange(path, offsets()[i], nameEnd(i));
    }

    @Override
    public FsFileSystem getFileSystem() {
        return fs;
    }

    @Override
    public boolean isAbsolute() {
        return path.length > 0 && path[0] == '/';
    }

    @Override
    public Path getRoot() {
        return isAbsolute() ? fs.root() : null;
    }

    @Override
    public Path getFileName() {
        int count = offsets().length;
        if (count == 0) {
            return null;  // the root
        }
        if (count == 1 && !isAbsolute()) {
            return this;
        }
        return with(name(count - 1));
    }

    @Override
    public Path getParent() {
        int count = offsets().length;
        if (count == 0) {
            return null;
        }
        int end = offsets()[count - 1] - 1;
        if (end <= 0) {
            return getRoot();
        }
        return with(Arrays.copyOf(path, end));
    }

    @Override
    public int getNameCount() {
        return offsets().length;
    }

    @Override
    public Path getName(int index) {
        return subpath(index, index + 1);
    }

    @Override
    public Path subpath(int beginIndex, int endIndex) {
        int[] o = offsets();
        if (beginIndex < 0 || beginIndex >= o.length || endIndex > o.length || beginIndex >= endIndex) {
            throw new IllegalArgumentException();
        }
        return with(Arrays.copyOfRange(path, o[beginIndex], nameEnd(endIndex - 1)));
    }

    @Override
    public boolean startsWith(Path other) {
        if (!(Objects.requireNonNull(other, "other") instanceof FsPath)) {
            return false;
        }
        FsPath that = (FsPath) other;
        if (that.isAbsolute() != isAbsolute() || that.getNameCount() > getNameCount()) {
            return false;
        }
        for (int i = 0; i < that.getNameCount(); i++) {
            if (!Arrays.equals(that.name(i), name(i))) {
                return false;
            }
        }
        return true;
    }

    @Override
    public boolean endsWith(Path other) {
        if (!(Objects.requireNonNull(other, "other") instanceof FsPath)) {
            return false;
        }
        FsPath that = (FsPath) other;
        if (that.isAbsolute()) {
            return equals(that);
        }
        int skip = getNameCount() - that.getNameCount();
        if (skip < 0 || that.isEmpty() && !isEmpty()) {
            return false;
        }
        for (int i = 0; i < that.getNameCount(); i++) {
            if (!Arrays.equals(that.name(i), name(skip + i))) {
                return false;
            }
        }
        return true;
    }

    private static boolean isDot(byte[] n) {
        return n.length == 1 && n[0] == '.';
    }

    private static boolean isDotDot(byte[] n) {
        return n.length == 2 && n[0] == '.' && n[1] == '.';
    }

    @Override
    public Path normalize() {
        int count = getNameCount();
        byte[][] kept = new byte[count][];
        int k = 0;
        for (int i = 0; i < count; i++) {
            byte[] n = name(i);
            if (isDot(n)) {
                continue;
            }
            if (isDotDot(n)) {
                if (k > 0 && !isDotDot(kept[k - 1])) {
                    k--;
                    continue;
                }
                if (isAbsolute()) {
                    continue;  // the root's parent is the root
                }
            }
            kept[k++] = n;
        }
        return with(join(isAbsolute(), kept, k));
    }

    private static byte[] join(boolean absolute, byte[][] names, int count) {
        int length = absolute ? 1 : 0;
        for (int i = 0; i < count; i++) {
            length += names[i].length + (i > 0 ? 1 : 0);
        }
        byte[] out = new byte[length];
        int at = 0;
        if (absolute) {
            out[at++] = '/';
        }
        for (int i = 0; i < count; i++) {
            if (i > 0) {
                out[at++] = '/';
            }
            System.arraycopy(names[i], 0, out, at, names[i].length);
            at += names[i].length;
        }
        return out;
    }

    /** This path with {@code child}'s bytes appended as a relative path. */
    FsPath resolve(byte[] child) {
        if (child.length > 0 && child[0] == '/') {
            return with(child.clone());
        }
        if (child.length == 0) {
            return this;
        }
        if (isEmpty()) {
            return with(child.clone());
        }
        boolean slash = path[path.length - 1] != '/';
        byte[] out = Arrays.copyOf(path, path.length + (slash ? 1 : 0) + child.length);
        if (slash) {
            out[path.length] = '/';
        }
        System.arraycopy(child, 0, out, out.length - child.length, child.length);
        return with(out);
    }

    /**
     * This path with a directory entry's name appended: {@code length} bytes of {@code names} from
     * {@code from}, which hold no '/', so the result is normal as it is.
     */
    FsPath child(byte[] names, int from, int length) {
        int at = isEmpty() ? 0 : path[path.length - 1] == '/' ? path.length : path.length + 1;
        byte[] out = Arrays.copyOf(path, at + length);
        if (at > path.length) {
            out[path.length] = '/';
        }
        System.arraycopy(names, from, out, at, length);
        return new FsPath(fs, out, true);
    }

    @Override
    public Path resolve(Path other) {
        return resolve(of(other).path);
    }

    private boolean hasDotOrDotDot() {
        for (int i = 0; i < getNameCount(); i++) {
            byte[] n = name(i);
            if (isDot(n) || isDotDot(n)) {
                return true;
            }
        }
        return false;
    }

    /**
     * As the default provider relativizes: both paths normalized when either
     * holds "." or "..", a ".." for each name of this path past the common
     * ones, and refused where those names hold a "..".
     */
    @Override
    public Path relativize(Path other) {
        FsPath child = of(other);
        if (equals(child)) {
            return with(EMPTY);
        }
        if (child.isAbsolute() != isAbsolute()) {
            throw new IllegalArgumentException("'other' is different type of Path");
        }
        if (isEmpty()) {
            return child;
        }
        FsPath base = this;
        if (base.hasDotOrDotDot() || child.hasDotOrDotDot()) {
            base = (FsPath) base.normalize();
            child = (FsPath) child.normalize();
        }
        if (base.isEmpty()) {
            return child;
        }
        int baseCount = base.getNameCount();
        int childCount = child.getNameCount();
        int common = 0;
        while (common < Math.min(baseCount, childCount) && Arrays.equals(base.name(common), child.name(common))) {
            common++;
        }
        byte[][] names = new byte[baseCount - common + childCount - common][];
        int k = 0;
        for (int i = common; i < baseCount; i++) {
            byte[] n = base.name(i);
            if (isDotDot(n) || isDot(n)) {
                throw new IllegalArgumentException("Unable to compute relative path from " + this + " to " + other);
            }
            names[k++] = new byte[] {'.', '.'};
        }
        for (int i = common; i < childCount; i++) {
            names[k++] = child.name(i);
        }
        return with(join(false, names, k));
    }

    @Override
    public URI toUri() {
        return FsUris.toUri(this);
    }

    /**
     * This path resolved against the working directory.
     *
     * @throws java.io.IOError when there is no working directory (it was removed)
     */
    @Override
    public Path toAbsolutePath() {
        try {
            return absolute();
        } catch (IOException e) {
            throw new java.io.IOError(e);
        }
    }

    private FsPath absolute() throws IOException {
        if (isAbsolute()) {
            return this;
        }
        try {
            return with(Natives.getcwd()).resolve(path);
        } catch (NativeErrno e) {
            throw e.forFile(".");
        }
    }

    @Override
    public Path toRealPath(LinkOption... options) throws IOException {
        boolean follow = FsFileSystemProvider.follows(options);
        FsPath abs = absolute();
        if (follow) {
            try {
                return with(Natives.realpath(abs.path));
            } catch (NativeErrno e) {
                throw e.forFile(display());
            }
        }
        // Without following links: "." dropped, ".." taken back only over a
        // name that is no link, and every name must exist.
        FsPath real = fs.root();
        for (int i = 0; i < abs.getNameCount(); i++) {
            byte[] n = abs.name(i);
            if (isDot(n)) {
                continue;
            }
            if (isDotDot(n) && real.getNameCount() > 0) {
                long[] st;
                try {
                    st = Natives.stat(real.bytes(), false);
                } catch (NativeErrno e) {
                    throw e.forFile(real.display());
                }
                if (StatValues.type(st) != ChildFile.Type.SYMLINK) {
                    real = (FsPath) (real.getParent() != null ? real.getParent() : fs.root());
                    continue;
                }
            }
            real = real.resolve(n);
        }
        try {
            Natives.stat(real.bytes(), false);
        } catch (NativeErrno e) {
            throw e.forFile(display());
        }
        return real;
    }

    @Override
    public WatchKey register(WatchService watcher, WatchEvent.Kind<?>[] events, WatchEvent.Modifier... modifiers)
            throws IOException {
        if (!(Objects.requireNonNull(watcher, "watcher") instanceof FsWatchService)) {
            throw new ProviderMismatchException("a watch service of the fsstat: file system is needed, not "
                    + watcher.getClass().getName());
        }
        return ((FsWatchService) watcher).register(this, events, modifiers);
    }

    @Override
    public int compareTo(Path other) {
        return Arrays.compareUnsigned(path, ((FsPath) other).path);
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof FsPath && ((FsPath) other).fs == fs && Arrays.equals(((FsPath) other).path, path);
    }

    @Override
    public int hashCode() {
        return Arrays.hashCode(path);
    }

    /**
     * {@return the library's string for the bytes: handing it back to {@code getPath} finds this file; the
     * JDK's string where this is the default file system, which {@code Path.of} reads as the JDK does}
     */
    @Override
    public String toString() {
        String s = string;
        if (s == null) {
            s = fs.provider().isDefault() ? new String(path, NameBytes.jnuCharset())
                    : NameBytes.string(path, 0, path.length);
            string = s;
        }
        return s;
    }
}
