package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.internal.loader.JdkFileSystem;
import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import java.io.IOException;
import java.net.URI;
import java.nio.channels.AsynchronousFileChannel;
import java.nio.channels.FileChannel;
import java.nio.channels.SeekableByteChannel;
import java.nio.file.AccessMode;
import java.nio.file.CopyOption;
import java.nio.file.DirectoryNotEmptyException;
import java.nio.file.DirectoryStream;
import java.nio.file.FileStore;
import java.nio.file.FileSystem;
import java.nio.file.FileSystemAlreadyExistsException;
import java.nio.file.LinkOption;
import java.nio.file.NotLinkException;
import java.nio.file.OpenOption;
import java.nio.file.Path;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.FileAttributeView;
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
    /** The JDK's own provider once this one has been made the JVM's default. */

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
     * {@code -Djava.nio.file.spi.DefaultFileSystemProvider=com.durvo.ufe.fsutil.nio.FsFileSystemProvider}.
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
        JdkFileSystem.replacedBy(Objects.requireNonNull(jdk, "jdk"));
        this.scheme = "file";
        this.fileSystem = new FsFileSystem(this);
    }

    /** Whether this is the provider of the JVM's default file system, scheme {@code file}. */
    boolean isDefault() {
        return scheme.equals("file");
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
        int mode = FsFileMode.initial(0777, attrs);
        try {
            Natives.mkdir(NativeConstants.CWD, p.bytes(), mode);
        } catch (NativeErrno e) {
            throw e.forFile(p.display());
        }
    }

    @Override
    public void createSymbolicLink(Path link, Path target, FileAttribute<?>... attrs) throws IOException {
        FsPath l = FsPath.of(link);
        FsPath t = FsPath.of(target);
        if (attrs.length > 0) {
            FsFileMode.initial(0777, attrs);  // refuses what no file takes
            throw new UnsupportedOperationException("Initial file attributes not supported when creating symbolic link");
        }
        try {
            Natives.symlink(t.bytes(), NativeConstants.CWD, l.bytes());
        } catch (NativeErrno e) {
            throw e.forFile(l.display());
        }
    }

    @Override
    public void createLink(Path link, Path existing) throws IOException {
        FsPath l = FsPath.of(link);
        FsPath x = FsPath.of(existing);
        try {
            Natives.link(x.bytes(), l.bytes());
        } catch (NativeErrno e) {
            throw e.forFiles(l.display(), x.display());
        }
    }

    @Override
    public Path readSymbolicLink(Path link) throws IOException {
        FsPath l = FsPath.of(link);
        try {
            return new FsPath(fileSystem, Natives.readlink(NativeConstants.CWD, l.bytes()));
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
        long[] st = FsAttributes.stat(p, false, NativeErrno::forFile);
        boolean dir = StatValues.type(st) == ChildFile.Type.DIRECTORY;
        try {
            Natives.unlink(NativeConstants.CWD, p.bytes(), dir);
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
        FsCopy.copy(FsPath.of(source), FsPath.of(target), options);
    }

    @Override
    public void move(Path source, Path target, CopyOption... options) throws IOException {
        FsCopy.move(FsPath.of(source), FsPath.of(target), options);
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
        long[] x = FsAttributes.stat(a, true, NativeErrno::forFile);
        long[] y = FsAttributes.stat((FsPath) path2, true, NativeErrno::forFile);
        return StatValues.sameFile(x, y);
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
        FsAttributes.stat(p, true, NativeErrno::forFile);
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
            Natives.access(p.bytes(), mode);
        } catch (NativeErrno e) {
            throw e.forFile(p.display());
        }
    }

    // ---- Attributes

    @Override
    public <V extends FileAttributeView> V getFileAttributeView(Path path, Class<V> type, LinkOption... options) {
        return FsAttributeViews.view(FsPath.of(path), type, follows(options));
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
        return FsAttributeNames.readMap(FsPath.of(path), attributes, follows(options));
    }

    @Override
    public void setAttribute(Path path, String attribute, Object value, LinkOption... options) throws IOException {
        FsAttributeNames.set(FsPath.of(path), attribute, value, follows(options));
    }

    /** Whether {@code options} leave links followed: no {@code NOFOLLOW_LINKS} among them, and no null. */
    static boolean follows(LinkOption... options) {
        boolean follow = true;
        for (LinkOption o : options) {
            if (Objects.requireNonNull(o) == LinkOption.NOFOLLOW_LINKS) {
                follow = false;
            }
        }
        return follow;
    }
}
