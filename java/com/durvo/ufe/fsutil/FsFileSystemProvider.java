package com.durvo.ufe.fsutil;

import java.io.IOException;
import java.net.URI;
import java.nio.channels.AsynchronousFileChannel;
import java.nio.channels.FileChannel;
import java.nio.channels.SeekableByteChannel;
import java.nio.file.AccessMode;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.CopyOption;
import java.nio.file.DirectoryNotEmptyException;
import java.nio.file.DirectoryStream;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileStore;
import java.nio.file.FileSystem;
import java.nio.file.FileSystemAlreadyExistsException;
import java.nio.file.LinkOption;
import java.nio.file.NotLinkException;
import java.nio.file.OpenOption;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.FileAttributeView;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.spi.FileSystemProvider;
import java.util.Map;
import java.util.Objects;
import java.util.Set;
import java.util.concurrent.ExecutorService;

/**
 * The provider of the {@code fsstat} file system (see {@link FsFileSystem}):
 * every operation of {@code java.nio.file.Files} on a path's exact bytes,
 * failing with the exceptions the default provider throws, each naming the
 * path with bytes not valid in the default charset as {@code \xNN}.
 *
 * <p>Channels are the JDK's own {@link FileChannel}: the file is opened by its
 * bytes with exactly the options asked for, and the JDK's channel is made over
 * that descriptor (on a JVM without the JDK's factory for that, the open file
 * is reached through its descriptor's {@code /proc/self/fd} entry, whatever
 * its name); closing, interrupting and mapping behave as on the default file
 * system. An {@code AsynchronousFileChannel} runs each operation on its
 * executor over such a channel, as the JDK's does on Unix.
 *
 * <p>{@code Files.newDirectoryStream} gives a {@link java.nio.file.SecureDirectoryStream}:
 * its operations on relative paths work relative to the open directory, so
 * they reach files past the system's path length limit, and a directory
 * renamed or replaced meanwhile does not redirect them.
 *
 * <p>{@code newWatchService()} gives a watch service on inotify that behaves as
 * the default provider's on Linux; each event's context is the entry's name
 * as its exact bytes.
 *
 * <p>The {@code user} attribute view ({@code UserDefinedFileAttributeView},
 * {@code user:name} by name) reads and writes a file's extended attributes in
 * the {@code user.} namespace through a descriptor, as the default provider
 * does; an attribute's name travels as a file name does, so a listed name
 * reads back. The {@code dos} view keeps its flags in {@code user.DOSATTRIB},
 * where the JDK keeps them on Linux.
 */
public final class FsFileSystemProvider extends FileSystemProvider {
    private static final int TYPE_MASK = 0xF000;
    private static final int DIRECTORY = 0x4000;
    private static final int SYMLINK = 0xA000;
    private static final int REGULAR = 0x8000;

    /** The JDK's own provider once this one has been made the JVM's default. */
    private static volatile FileSystemProvider builtin;

    private final FsFileSystem fileSystem;
    private final String scheme;

    /** The provider for the scheme {@code fsstat}, as the service loader makes it. */
    public FsFileSystemProvider() {
        this.scheme = "fsstat";
        this.fileSystem = new FsFileSystem(this);
    }

    /**
     * This provider as the JVM's default, for the scheme {@code file}: the
     * JDK makes it so when started with
     * {@code -Djava.nio.file.spi.DefaultFileSystemProvider=com.durvo.ufe.fsutil.FsFileSystemProvider}.
     * {@code Path.of(String)} then reads a string as the JDK's own provider
     * does, and {@code toString()} is the JDK's string, so programs behave as
     * before; paths from directory streams and from bytes keep their exact
     * bytes, and every operation on them reaches the file they name.
     *
     * @param jdk the JDK's own default provider, which the library keeps
     *            using for its own files
     */
    public FsFileSystemProvider(FileSystemProvider jdk) {
        // Nothing here may use the default file system: it is being made.
        builtin = Objects.requireNonNull(jdk, "jdk");
        this.scheme = "file";
        this.fileSystem = new FsFileSystem(this);
    }

    /** Whether this is the provider of the JVM's default file system, scheme {@code file}. */
    boolean isDefault() {
        return scheme.equals("file");
    }

    /**
     * The JDK's own file system, for the library's own files (its copy of the
     * native library, {@code /proc}): when this provider is the default, its
     * operations need the native library, and reopening through
     * {@code /proc/self/fd} would come back to it.
     */
    static FileSystem jdkFileSystem() {
        FileSystem fs = java.nio.file.FileSystems.getDefault();  // makes the default provider first
        FileSystemProvider jdk = builtin;
        return jdk == null ? fs : jdk.getFileSystem(URI.create("file:///"));
    }

    /** The installed provider; one of this class's own where the service loader did not install one. */
    static FsFileSystemProvider installed() {
        return Installed.PROVIDER;
    }

    private static final class Installed {
        static final FsFileSystemProvider PROVIDER = find();

        private static FsFileSystemProvider find() {
            for (FileSystemProvider p : FileSystemProvider.installedProviders()) {
                if (p instanceof FsFileSystemProvider) {
                    return (FsFileSystemProvider) p;
                }
            }
            return new FsFileSystemProvider();
        }
    }

    FsFileSystem fileSystem() {
        return fileSystem;
    }

    @Override
    public String getScheme() {
        return scheme;
    }

    /** As the default provider: the one file system exists already. */
    @Override
    public FileSystem newFileSystem(URI uri, Map<String, ?> env) {
        FsUris.checkFileSystemUri(scheme, uri);
        throw new FileSystemAlreadyExistsException();
    }

    @Override
    public FileSystem getFileSystem(URI uri) {
        FsUris.checkFileSystemUri(scheme, uri);
        return fileSystem;
    }

    /** The path whose bytes the URI's path spells, percent-encoded bytes taken as they are. */
    @Override
    public Path getPath(URI uri) {
        return FsUris.fromUri(fileSystem, uri);
    }

    // ---- Channels and streams

    @Override
    public SeekableByteChannel newByteChannel(Path path, Set<? extends OpenOption> options, FileAttribute<?>... attrs)
            throws IOException {
        return newFileChannel(path, options, attrs);
    }

    /**
     * A {@link FileChannel} of the file with the path's bytes: the JDK's own,
     * so {@code map}, {@code transferTo}, {@code lock}, asynchronous close and
     * interrupts work as on the default file system.
     */
    @Override
    public FileChannel newFileChannel(Path path, Set<? extends OpenOption> options, FileAttribute<?>... attrs)
            throws IOException {
        return FsChannels.open(FsPlace.of(FsPath.of(path)), options, attrs);
    }

    /** The JDK's kind of asynchronous channel: each operation a task for the executor, on the channel above. */
    @Override
    public AsynchronousFileChannel newAsynchronousFileChannel(Path path, Set<? extends OpenOption> options,
            ExecutorService executor, FileAttribute<?>... attrs) throws IOException {
        return FsAsynchronousFileChannel.open(FsPlace.of(FsPath.of(path)), options, executor, attrs);
    }

    // ---- Directories

    @Override
    public DirectoryStream<Path> newDirectoryStream(Path dir, DirectoryStream.Filter<? super Path> filter)
            throws IOException {
        return FsDirectoryStream.open(FsPath.of(dir), Objects.requireNonNull(filter, "filter"));
    }

    @Override
    public void createDirectory(Path dir, FileAttribute<?>... attrs) throws IOException {
        FsPath p = FsPath.of(dir);
        int mode = FsAttributes.initialMode(0777, attrs);
        try {
            SysCalls.mkdir(SysCalls.CWD, p.bytes(), mode);
        } catch (NativeErrno e) {
            throw e.forFile(p.display());
        }
    }

    @Override
    public void createSymbolicLink(Path link, Path target, FileAttribute<?>... attrs) throws IOException {
        FsPath l = FsPath.of(link);
        FsPath t = FsPath.of(target);
        if (attrs.length > 0) {
            FsAttributes.initialMode(0777, attrs);  // refuses what no file takes
            throw new UnsupportedOperationException("Initial file attributes not supported when creating symbolic link");
        }
        try {
            SysCalls.symlink(t.bytes(), SysCalls.CWD, l.bytes());
        } catch (NativeErrno e) {
            throw e.forFile(l.display());
        }
    }

    @Override
    public void createLink(Path link, Path existing) throws IOException {
        FsPath l = FsPath.of(link);
        FsPath x = FsPath.of(existing);
        try {
            SysCalls.link(x.bytes(), l.bytes());
        } catch (NativeErrno e) {
            throw e.forFiles(l.display(), x.display());
        }
    }

    @Override
    public Path readSymbolicLink(Path link) throws IOException {
        FsPath l = FsPath.of(link);
        try {
            return new FsPath(fileSystem, SysCalls.readlink(SysCalls.CWD, l.bytes()));
        } catch (NativeErrno e) {
            if (e.errno == NativeErrno.EINVAL) {  // readlink's answer for a file that is no link
                throw new NotLinkException(l.display());
            }
            throw e.forFile(l.display());
        }
    }

    @Override
    public void delete(Path path) throws IOException {
        FsPath p = FsPath.of(path);
        long[] st = statFor(p, false);
        boolean dir = (st[2] & TYPE_MASK) == DIRECTORY;
        try {
            SysCalls.unlink(SysCalls.CWD, p.bytes(), dir);
        } catch (NativeErrno e) {
            // EEXIST: some systems' word for a directory that is not empty
            if (dir && (e.errno == NativeErrno.ENOTEMPTY || e.errno == NativeErrno.EEXIST)) {
                throw new DirectoryNotEmptyException(p.display());
            }
            throw e.forFile(p.display());
        }
    }

    // ---- Copy and move

    @Override
    public void copy(Path source, Path target, CopyOption... options) throws IOException {
        FsPath s = FsPath.of(source);
        FsPath t = FsPath.of(target);
        boolean replace = false;
        boolean attributes = false;
        boolean follow = true;
        for (CopyOption o : options) {
            if (o == StandardCopyOption.REPLACE_EXISTING) {
                replace = true;
            } else if (o == StandardCopyOption.COPY_ATTRIBUTES) {
                attributes = true;
            } else if (o == LinkOption.NOFOLLOW_LINKS) {
                follow = false;
            } else {
                throw new UnsupportedOperationException("Unsupported copy option: " + Objects.requireNonNull(o));
            }
        }
        long[] st = sourceStat(s, follow);
        if (!prepareTarget(s, st, t, replace)) {
            return;
        }
        copyFile(s, st, t, follow, attributes);
    }

    @Override
    public void move(Path source, Path target, CopyOption... options) throws IOException {
        FsPath s = FsPath.of(source);
        FsPath t = FsPath.of(target);
        boolean replace = false;
        boolean atomic = false;
        for (CopyOption o : options) {
            if (o == StandardCopyOption.REPLACE_EXISTING) {
                replace = true;
            } else if (o == StandardCopyOption.ATOMIC_MOVE) {
                atomic = true;
            } else if (o != StandardCopyOption.COPY_ATTRIBUTES && o != LinkOption.NOFOLLOW_LINKS) {
                throw new UnsupportedOperationException("Unsupported copy option: " + Objects.requireNonNull(o));
            }
        }
        if (atomic) {
            try {
                SysCalls.rename(SysCalls.CWD, s.bytes(), SysCalls.CWD, t.bytes());
                return;
            } catch (NativeErrno e) {
                if (e.errno == NativeErrno.EXDEV) {
                    throw new AtomicMoveNotSupportedException(s.display(), t.display(), e.getMessage());
                }
                throw e.forFiles(s.display(), t.display());
            }
        }
        long[] st = sourceStat(s, false);
        if (!prepareTarget(s, st, t, replace)) {
            return;
        }
        try {
            SysCalls.rename(SysCalls.CWD, s.bytes(), SysCalls.CWD, t.bytes());
            return;
        } catch (NativeErrno e) {
            if (e.errno != NativeErrno.EXDEV) {
                throw e.forFiles(s.display(), t.display());
            }
        }
        // Another file system: a copy with every attribute, then the source goes.
        if ((st[2] & TYPE_MASK) == DIRECTORY) {
            try (DirectoryStream<Path> entries = newDirectoryStream(s, e -> true)) {
                if (entries.iterator().hasNext()) {
                    throw new DirectoryNotEmptyException(s.display());
                }
            }
        }
        copyFile(s, st, t, false, true);
        try {
            delete(s);
        } catch (IOException e) {
            try {
                delete(t);
            } catch (IOException again) {
                e.addSuppressed(again);
            }
            throw e;
        }
    }

    private long[] statFor(FsPath p, boolean follow) throws IOException {
        try {
            return stat(p.bytes(), follow);
        } catch (NativeErrno e) {
            throw e.forFile(p.display());
        }
    }

    /** The values of a copy's or move's source, failing as the JDK's attribute read does. */
    private long[] sourceStat(FsPath p, boolean follow) throws IOException {
        try {
            return stat(p.bytes(), follow);
        } catch (NativeErrno e) {
            throw e.forAttributesOf(p.display());
        }
    }

    /** Clears the way to {@code t}; false when {@code s} and {@code t} are the same file, so nothing is to be done. */
    private boolean prepareTarget(FsPath s, long[] st, FsPath t, boolean replace) throws IOException {
        long[] tt = statOrNull(t.bytes());
        if (tt == null) {
            return true;
        }
        if (tt[0] == st[0] && tt[1] == st[1]) {
            return false;
        }
        if (!replace) {
            throw new FileAlreadyExistsException(t.display());
        }
        delete(t);
        return true;
    }

    /**
     * Makes {@code t} a copy of {@code s}, whose values {@code st} are (a link
     * followed when {@code follow}): a regular file with its data, a directory
     * empty, a link with the same target, anything else a new node of its kind;
     * with {@code attributes}, given the owner (where this process may give it),
     * mode, times and user attributes. These go to the descriptor of the copy
     * this call made, or where there is none (a link, a device, a directory it
     * may not read) by name without following a link, so nothing swapped in
     * for {@code t} meanwhile takes them.
     */
    private static void copyFile(FsPath s, long[] st, FsPath t, boolean follow, boolean attributes)
            throws IOException {
        int type = (int) st[2] & TYPE_MASK;
        if (type == REGULAR) {
            copyRegular(s, t, follow, attributes);
            return;
        }
        try {
            if (type == DIRECTORY) {
                SysCalls.mkdir(SysCalls.CWD, t.bytes(), (int) st[2] & 07777);
            } else if (type == SYMLINK) {
                SysCalls.symlink(SysCalls.readlink(SysCalls.CWD, s.bytes()), SysCalls.CWD, t.bytes());
            } else {
                // A FIFO, socket or device: a new node of the same kind, as cp makes one.
                SysCalls.mknod(SysCalls.CWD, t.bytes(), (int) st[2], st[6]);
            }
        } catch (NativeErrno e) {
            throw e.forFile(t.display());
        }
        if (!attributes) {
            return;
        }
        int from = -1;
        int to = -1;
        if (type == DIRECTORY) {
            int options = SysCalls.READ | SysCalls.DIRECTORY | SysCalls.NOFOLLOW;
            to = openOrNone(t, options);
            from = to >= 0 ? openOrNone(s, follow ? options & ~SysCalls.NOFOLLOW : options) : -1;
        }
        try {
            copyAttributes(st, from, to, t);
        } finally {
            for (int fd : new int[] {from, to}) {
                if (fd >= 0) {
                    SysCalls.close(fd);
                }
            }
        }
    }

    /** The descriptor of {@code p} opened with {@code options}, or -1 when it cannot be opened. */
    private static int openOrNone(FsPath p, int options) {
        try {
            return (int) SysCalls.open(SysCalls.CWD, p.bytes(), options, 0);
        } catch (NativeErrno e) {
            return -1;
        }
    }

    /**
     * A regular file's copy, as the JDK makes it: the data and every attribute
     * through the descriptors of the two open files, the attributes those of
     * the file opened (a link swapped in for {@code s} is refused when not
     * following); a copy that fails midway is removed.
     */
    private static void copyRegular(FsPath s, FsPath t, boolean follow, boolean attributes) throws IOException {
        long[] st = new long[SysCalls.STATX_LONGS];
        int from;
        try {
            from = (int) SysCalls.open(SysCalls.CWD, s.bytes(), SysCalls.READ | (follow ? 0 : SysCalls.NOFOLLOW), 0);
        } catch (NativeErrno e) {
            throw e.forFile(s.display());
        }
        try {
            int to;
            try {
                SysCalls.stat(from, new byte[0], true, st);
            } catch (NativeErrno e) {
                throw e.forFile(s.display());
            }
            try {
                to = (int) SysCalls.open(SysCalls.CWD, t.bytes(), SysCalls.WRITE | SysCalls.CREATE_NEW,
                        (int) st[2] & 0777);
            } catch (NativeErrno e) {
                throw e.forFile(t.display());
            }
            boolean done = false;
            try {
                try {
                    SysCalls.copyData(from, to);
                } catch (NativeErrno e) {
                    throw e.forFiles(s.display(), t.display());
                }
                if (attributes) {
                    copyAttributes(st, from, to, t);
                }
                done = true;
            } finally {
                SysCalls.close(to);
                if (!done) {
                    try {
                        SysCalls.unlink(SysCalls.CWD, t.bytes(), false);
                    } catch (NativeErrno e) {
                        // gone already
                    }
                }
            }
        } finally {
            SysCalls.close(from);
        }
    }

    /**
     * Gives the copy {@code t} the owner, mode, times and user attributes of
     * {@code st}: through {@code to}, the copy's descriptor, with the user
     * attributes read from {@code from}, the source's; where there is no
     * {@code to}, by name on {@code t} itself, never through a link (a link
     * keeps its mode, as it has none).
     */
    private static void copyAttributes(long[] st, int from, int to, FsPath t) throws IOException {
        int uid = (int) st[4];
        int gid = (int) st[5];
        int mode = (int) st[2] & 07777;
        long[] times = {st[10], st[11], st[12], st[13]};
        try {
            if (to >= 0) {
                SysCalls.fchown(to, uid, gid);
            } else {
                SysCalls.chown(SysCalls.CWD, t.bytes(), uid, gid, false);
            }
        } catch (NativeErrno e) {
            // As the JDK: an owner this process may not give is left as it is.
        }
        try {
            if (to >= 0) {
                SysCalls.fchmod(to, mode);
                if (from >= 0) {
                    FsUserAttributes.copy(from, to);
                }
                SysCalls.futimens(to, times);
            } else {
                if (((int) st[2] & TYPE_MASK) != SYMLINK) {
                    SysCalls.chmod(SysCalls.CWD, t.bytes(), mode, false);
                }
                SysCalls.utimens(SysCalls.CWD, t.bytes(), times, false);
            }
        } catch (NativeErrno e) {
            throw e.forFile(t.display());
        }
    }

    // ---- Questions about files

    @Override
    public boolean isSameFile(Path path, Path path2) throws IOException {
        FsPath a = FsPath.of(path);
        if (a.equals(path2)) {
            return true;
        }
        if (!(Objects.requireNonNull(path2) instanceof FsPath)) {
            return false;
        }
        long[] x = statFor(a, true);
        long[] y = statFor((FsPath) path2, true);
        return x[0] == y[0] && x[1] == y[1];
    }

    /** As the default provider: a name that starts with a dot. */
    @Override
    public boolean isHidden(Path path) {
        Path name = FsPath.of(path).getFileName();
        if (name == null) {
            return false;
        }
        byte[] b = ((FsPath) name).exactBytes();
        return b.length > 0 && b[0] == '.';
    }

    @Override
    public FileStore getFileStore(Path path) throws IOException {
        FsPath p = FsPath.of(path);
        statFor(p, true);
        return FsFileStore.of(p);
    }

    @Override
    public void checkAccess(Path path, AccessMode... modes) throws IOException {
        FsPath p = FsPath.of(path);
        int mode = 0;
        for (AccessMode m : modes) {
            switch (m) {
                case READ: mode |= 4; break;
                case WRITE: mode |= 2; break;
                default: mode |= 1; break;
            }
        }
        try {
            SysCalls.access(p.bytes(), mode);
        } catch (NativeErrno e) {
            throw e.forFile(p.display());
        }
    }

    // ---- Attributes

    @Override
    public <V extends FileAttributeView> V getFileAttributeView(Path path, Class<V> type, LinkOption... options) {
        return FsAttributes.view(FsPath.of(path), type, follows(options));
    }

    @Override
    public <A extends BasicFileAttributes> A readAttributes(Path path, Class<A> type, LinkOption... options)
            throws IOException {
        FsPath p = FsPath.of(path);
        if (type == java.nio.file.attribute.DosFileAttributes.class) {
            return type.cast(new FsDosAttributes(FsPlace.of(p), follows(options)).readAttributes());
        }
        if (type != BasicFileAttributes.class && type != java.nio.file.attribute.PosixFileAttributes.class) {
            throw new UnsupportedOperationException("readAttributes of " + type.getName());
        }
        FsAttributes a = FsAttributes.read(p, follows(options));
        return type.cast(type == BasicFileAttributes.class ? a.basic() : a);
    }

    @Override
    public Map<String, Object> readAttributes(Path path, String attributes, LinkOption... options) throws IOException {
        return FsAttributes.readMap(FsPath.of(path), attributes, follows(options));
    }

    @Override
    public void setAttribute(Path path, String attribute, Object value, LinkOption... options) throws IOException {
        FsAttributes.set(FsPath.of(path), attribute, value, follows(options));
    }

    private static boolean follows(LinkOption... options) {
        boolean follow = true;
        for (LinkOption o : options) {
            if (Objects.requireNonNull(o) == LinkOption.NOFOLLOW_LINKS) {
                follow = false;
            }
        }
        return follow;
    }

    // ---- Helpers for the other classes

    /** The statx values of a path (see {@link SysCalls#stat}). */
    static long[] stat(byte[] path, boolean follow) throws NativeErrno {
        long[] out = new long[SysCalls.STATX_LONGS];
        SysCalls.stat(SysCalls.CWD, path, follow, out);
        return out;
    }

    /** The values of the file itself at {@code path}, or null when there is none or it cannot be examined. */
    static long[] statOrNull(byte[] path) {
        try {
            return stat(path, false);
        } catch (NativeErrno e) {
            return null;
        }
    }

    /** Permissions as a mode's bits. */
    static int modeOf(Set<PosixFilePermission> perms) {
        int mode = 0;
        for (PosixFilePermission p : perms) {
            mode |= 0400 >> p.ordinal();
        }
        return mode;
    }
}
