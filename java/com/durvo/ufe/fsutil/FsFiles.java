package com.durvo.ufe.fsutil;

import com.durvo.ufe.fsutil.internal.names.NameBytes;
import com.durvo.ufe.fsutil.internal.natives.DescriptorChannels;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import com.durvo.ufe.fsutil.nio.FsFileSystem;
import java.io.IOException;
import java.io.InputStream;
import java.nio.channels.Channels;
import java.nio.channels.FileChannel;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.NotLinkException;
import java.nio.file.Path;
import java.util.Objects;

/**
 * Single files by the names the library delivers: read them, examine them and
 * read their links, whatever the bytes of their names. Where
 * {@code java.nio.file.Files} needs a {@link java.nio.file.Path}, which cannot
 * name every file (see {@link FileNames#toPath(String)}), these methods take
 * the library's string for a path, its exact bytes, a {@link ChildFile}
 * of a listing, or a {@link Path} of the default or the {@code fsstat:} file
 * system (by the bytes {@link FsFileSystem#toFsPath(Path)} gives it).
 *
 * <pre>{@code
 * try (FolderListing listing = FolderListing.open(dir)) {
 *     for (ChildFile f : listing) {
 *         if (f.type() == ChildFile.Type.REGULAR) {
 *             try (InputStream in = FsFiles.newInputStream(f)) {
 *                 in.transferTo(out);
 *             }
 *         }
 *     }
 * }
 * }</pre>
 *
 * <p>A path given as a string is read as {@link FileNames#toBytes(String)}
 * reads it; one given as bytes is used as it is. Every method refuses null,
 * and a path with a NUL character or an unpaired surrogate
 * ({@link java.nio.file.InvalidPathException}), before the file system is
 * asked. The empty path is the working directory, as for {@code java.nio.file}.
 * Failures name the path in the form of {@link FileNames#display(byte[])}.
 */
public final class FsFiles {
    private FsFiles() {
    }

    /**
     * Opens a file for reading: {@code Files.newInputStream} of its
     * {@code fsstat:} path. The stream reads, skips and transfers the file's
     * bytes (a pipe or a device skips by reading);
     * {@link InputStream#close()} may be called from any thread and more than
     * once: a read waiting on an empty pipe then ends as at the end of the
     * file, and every later read throws a
     * {@link java.nio.channels.ClosedChannelException}. A stream left
     * unclosed is closed once unreachable.
     *
     * @param path the file, as the library delivers names and paths
     * @return the open stream
     * @throws java.nio.file.NoSuchFileException   when there is no such file (not
     *                                              {@link java.io.FileNotFoundException}: as
     *                                              {@code Files.newInputStream})
     * @throws java.nio.file.NotDirectoryException when a component of the path is not a directory
     * @throws java.nio.file.AccessDeniedException when it may not be read
     * @throws java.nio.file.FileSystemException   for any other failure, with the system's text
     *                                              ("Is a directory" for a directory)
     * @throws java.nio.file.InvalidPathException  for a NUL or an unpaired surrogate
     * @throws IOException                          if the file cannot be opened
     */
    public static InputStream newInputStream(String path) throws IOException {
        return open(FileNames.toBytes(path));
    }

    /**
     * Opens the file whose path has these bytes, as {@link #newInputStream(String)}.
     *
     * @param path the path's bytes
     * @return the open stream
     * @throws java.nio.file.InvalidPathException for a NUL byte
     * @throws IOException                         as {@link #newInputStream(String)}
     */
    public static InputStream newInputStream(byte[] path) throws IOException {
        NameBytes.checkPath(path);
        return open(path.clone());
    }

    /**
     * Opens the file at a {@link Path}, as {@link #newInputStream(String)}.
     *
     * @param path a path of the default or the {@code fsstat:} file system
     * @return the open stream
     * @throws java.nio.file.ProviderMismatchException for a path of another file system
     * @throws IOException                              as {@link #newInputStream(String)}
     */
    public static InputStream newInputStream(Path path) throws IOException {
        return newInputStream(NameBytes.exactBytesOf(path));
    }

    /**
     * Opens a listed entry by its exact bytes, as {@link #newInputStream(String)}.
     *
     * @param file an entry of a listing or walk, or a result of {@link #stat(String)}
     * @return the open stream
     * @throws IOException as {@link #newInputStream(String)}
     */
    public static InputStream newInputStream(ChildFile file) throws IOException {
        Objects.requireNonNull(file, "file");
        return open(file.pathBytes());
    }

    /**
     * The attributes of a file, following symbolic links. The result's
     * {@link ChildFile#name()} and {@link ChildFile#path()} are the path.
     *
     * @param path the file, as the library delivers names and paths
     * @return its attributes, with nanosecond times
     * @throws java.nio.file.InvalidPathException for a NUL or an unpaired surrogate
     * @throws java.nio.file.NoSuchFileException  when there is no such file
     * @throws java.nio.file.NotDirectoryException when a component of the path is not a directory
     * @throws java.nio.file.AccessDeniedException when a directory on the way may not be searched
     * @throws IOException                         for any other failure, a {@code FileSystemException}
     *                                             naming the path with the system's text
     */
    public static ChildFile stat(String path) throws IOException {
        return stat(FileNames.toBytes(path), true);
    }

    /**
     * The attributes of a file; of a symbolic link, the link's own.
     *
     * @param path the file, as the library delivers names and paths
     * @return its attributes, with nanosecond times
     * @throws java.nio.file.InvalidPathException for a NUL or an unpaired surrogate
     * @throws IOException                         as {@link #stat(String)}
     */
    public static ChildFile lstat(String path) throws IOException {
        return stat(FileNames.toBytes(path), false);
    }

    /**
     * {@link #stat(String)} of the path with these bytes.
     *
     * @param path the path's bytes
     * @return its attributes
     * @throws java.nio.file.InvalidPathException for a NUL byte
     * @throws IOException                         as {@link #stat(String)}
     */
    public static ChildFile stat(byte[] path) throws IOException {
        NameBytes.checkPath(path);
        return stat(path.clone(), true);
    }

    /**
     * {@link #lstat(String)} of the path with these bytes.
     *
     * @param path the path's bytes
     * @return its attributes
     * @throws java.nio.file.InvalidPathException for a NUL byte
     * @throws IOException                         as {@link #lstat(String)}
     */
    public static ChildFile lstat(byte[] path) throws IOException {
        NameBytes.checkPath(path);
        return stat(path.clone(), false);
    }

    /**
     * {@link #stat(String)} of a {@link Path}.
     *
     * @param path a path of the default or the {@code fsstat:} file system
     * @return its attributes
     * @throws java.nio.file.ProviderMismatchException for a path of another file system
     * @throws IOException                              as {@link #stat(String)}
     */
    public static ChildFile stat(Path path) throws IOException {
        return stat(NameBytes.exactBytesOf(path));
    }

    /**
     * {@link #lstat(String)} of a {@link Path}.
     *
     * @param path a path of the default or the {@code fsstat:} file system
     * @return its attributes
     * @throws java.nio.file.ProviderMismatchException for a path of another file system
     * @throws IOException                              as {@link #lstat(String)}
     */
    public static ChildFile lstat(Path path) throws IOException {
        return lstat(NameBytes.exactBytesOf(path));
    }

    /**
     * The target of a symbolic link as the library's string: a target with
     * any bytes comes back as a name the library finds again (for a relative
     * target, relative to the link's directory).
     *
     * @param link the link, as the library delivers names and paths
     * @return the target
     * @throws NotLinkException                    when the file is not a symbolic link
     * @throws java.nio.file.NoSuchFileException   when there is no such file
     * @throws java.nio.file.InvalidPathException  for a NUL or an unpaired surrogate
     * @throws IOException                          for any other failure, with the system's text
     */
    public static String readLink(String link) throws IOException {
        return FileNames.fromBytes(readLinkBytes(link));
    }

    /**
     * The target of a symbolic link, byte for byte.
     *
     * @param link the link, as the library delivers names and paths
     * @return the target's bytes
     * @throws IOException as {@link #readLink(String)}
     */
    public static byte[] readLinkBytes(String link) throws IOException {
        return readLink(FileNames.toBytes(link));
    }

    /**
     * The target of the symbolic link whose path has these bytes, byte for byte.
     *
     * @param link the path's bytes
     * @return the target's bytes
     * @throws java.nio.file.InvalidPathException for a NUL byte
     * @throws IOException                         as {@link #readLink(String)}
     */
    public static byte[] readLinkBytes(byte[] link) throws IOException {
        NameBytes.checkPath(link);
        return readLink(link.clone());
    }

    /**
     * The target of the symbolic link at a {@link Path}, byte for byte.
     *
     * @param link a path of the default or the {@code fsstat:} file system
     * @return the target's bytes
     * @throws java.nio.file.ProviderMismatchException for a path of another file system
     * @throws IOException                              as {@link #readLink(String)}
     */
    public static byte[] readLinkBytes(Path link) throws IOException {
        return readLinkBytes(NameBytes.exactBytesOf(link));
    }

    // Opened first, then checked on the descriptor (a name checked and then
    // opened could be swapped for a directory or a pipe in between): a
    // directory, which would open and fail at the first read, is refused here
    // as java.io refuses it.
    private static InputStream open(byte[] path) throws IOException {
        boolean direct = DescriptorChannels.direct();
        int flags = NativeConstants.READ | (direct ? 0 : NativeConstants.REOPEN);
        int fd;
        try {
            fd = (int) Natives.open(NativeConstants.CWD, Natives.sysPath(path), flags, 0);
        } catch (NativeErrno e) {
            throw e.forFile(path);
        }
        String display = FileNames.display(path);
        ChildFile.Type type;
        try {
            type = StatValues.type(DescriptorChannels.fstat(fd, display));
            if (type == ChildFile.Type.DIRECTORY) {
                throw new FileSystemException(display, null, "Is a directory");
            }
        } catch (IOException e) {
            Natives.close(fd);
            throw e;
        }
        FileChannel channel;
        if (direct) {
            channel = DescriptorChannels.over(fd, flags, display);  // owns fd from here
        } else {
            try {
                channel = DescriptorChannels.throughProc(fd, flags, display);
            } finally {
                Natives.close(fd);  // the channel has its own
            }
        }
        InputStream in = Channels.newInputStream(channel);
        return type == ChildFile.Type.REGULAR ? in : skippingByReading(in);
    }

    // The JDK's stream may skip by seeking, which a pipe or a device cannot:
    // InputStream's own skip reads.
    private static InputStream skippingByReading(InputStream in) {
        return new InputStream() {
            @Override
            public int read() throws IOException {
                return in.read();
            }

            @Override
            public int read(byte[] b, int off, int len) throws IOException {
                return in.read(b, off, len);
            }

            @Override
            public void close() throws IOException {
                in.close();
            }
        };
    }

    private static ChildFile stat(byte[] path, boolean follow) throws IOException {
        try {
            return new ChildFile(path, Natives.stat(Natives.sysPath(path), follow));
        } catch (NativeErrno e) {
            throw e.forFile(path);
        }
    }

    // The provider's readlink, not Files.readSymbolicLink: a Path would drop
    // the target's repeated and trailing slashes.
    private static byte[] readLink(byte[] path) throws IOException {
        try {
            return Natives.readlink(NativeConstants.CWD, Natives.sysPath(path));
        } catch (NativeErrno e) {
            if (e.errno == NativeErrno.EINVAL) {  // readlink's answer for a file that is no link
                throw new NotLinkException(FileNames.display(path));
            }
            throw e.forFile(path);
        }
    }
}
