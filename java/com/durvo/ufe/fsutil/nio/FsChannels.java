package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.internal.loader.JdkFileSystem;
import com.durvo.ufe.fsutil.internal.natives.DescriptorChannels;
import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import java.io.FileDescriptor;
import java.io.IOException;
import java.lang.invoke.MethodHandle;
import java.lang.invoke.MethodHandles;
import java.lang.invoke.MethodType;
import java.lang.reflect.AccessibleObject;
import java.lang.reflect.Field;
import java.lang.reflect.Method;
import java.nio.channels.FileChannel;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.OpenOption;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.FileAttribute;
import java.util.EnumSet;
import java.util.Map;
import java.util.Objects;
import java.util.Set;

/**
 * File channels of paths' bytes: open options turned into the system's flags,
 * the file opened with them, and the JDK's own channel made over the
 * descriptor, or where the JDK has no factory for that, reached through the
 * descriptor's {@code /proc/self/fd} entry.
 */
final class FsChannels {
    private FsChannels() {
    }

    /** The JDK's channel of the file at {@code place}, as {@link FsFileSystemProvider#newFileChannel} makes it. */
    static FileChannel open(FsPlace place, Set<? extends OpenOption> options, FileAttribute<?>... attrs)
            throws IOException {
        return open(place, options, DescriptorChannels.direct(), attrs);
    }

    /**
     * {@link #open}, the JDK's channel made over the descriptor if
     * {@code direct} (only where there is a {@link ChannelFactory}), else
     * reached by a reopen through {@code /proc/self/fd}.
     */
    static FileChannel open(FsPlace place, Set<? extends OpenOption> options, boolean direct,
            FileAttribute<?>... attrs) throws IOException {
        int flags = 0;
        boolean deleteOnClose = false;
        for (OpenOption o : options) {
            if (o == StandardOpenOption.READ) {
                flags |= NativeConstants.READ;
            } else if (o == StandardOpenOption.WRITE) {
                flags |= NativeConstants.WRITE;
            } else if (o == StandardOpenOption.APPEND) {
                flags |= NativeConstants.APPEND;
            } else if (o == StandardOpenOption.CREATE) {
                flags |= NativeConstants.CREATE;
            } else if (o == StandardOpenOption.CREATE_NEW) {
                flags |= NativeConstants.CREATE_NEW;
            } else if (o == StandardOpenOption.TRUNCATE_EXISTING) {
                flags |= NativeConstants.TRUNCATE;
            } else if (o == StandardOpenOption.SYNC) {
                flags |= NativeConstants.SYNC;
            } else if (o == StandardOpenOption.DSYNC) {
                flags |= NativeConstants.DSYNC;
            } else if (o == LinkOption.NOFOLLOW_LINKS) {
                flags |= NativeConstants.NOFOLLOW;
            } else if (o == StandardOpenOption.DELETE_ON_CLOSE) {
                deleteOnClose = true;
            } else if (o != StandardOpenOption.SPARSE) {
                throw new UnsupportedOperationException(Objects.requireNonNull(o) + " not supported");
            }
        }
        if (deleteOnClose && (flags & NativeConstants.CREATE_NEW) == 0) {
            flags |= NativeConstants.NOFOLLOW;  // as the JDK: what is deleted is never a link's target
        }
        boolean write = (flags & (NativeConstants.WRITE | NativeConstants.APPEND)) != 0;
        if ((flags & NativeConstants.READ) != 0 && (flags & NativeConstants.APPEND) != 0) {
            throw new IllegalArgumentException("READ + APPEND not allowed");
        }
        if ((flags & NativeConstants.APPEND) != 0 && (flags & NativeConstants.TRUNCATE) != 0) {
            throw new IllegalArgumentException("APPEND + TRUNCATE_EXISTING not allowed");
        }
        if (!write) {
            flags &= ~(NativeConstants.CREATE | NativeConstants.CREATE_NEW | NativeConstants.TRUNCATE);  // as the JDK: ignored for reading
            flags |= NativeConstants.READ;
        }
        int mode = FsFileMode.initial(0666, attrs);
        FileChannel channel = direct ? overDescriptor(place, flags, mode) : reopen(place, flags, mode);
        if (deleteOnClose) {
            // As the JDK on Unix: removed now, gone for good once closed.
            try {
                place.call((dfd, p) -> {
                    Natives.unlink(dfd, p, false);
                    return null;
                });
            } catch (IOException e) {
                // the file stays; the channel is still good
            }
        }
        return channel;
    }

    /**
     * What a failed open becomes: as the JDK says it, a link refused by
     * {@code NOFOLLOW_LINKS} (or {@code DELETE_ON_CLOSE}) names no file.
     */
    private static FsPlace.Failure openFailure(int flags) {
        return (e, file) -> e.errno == NativeErrno.ELOOP && (flags & NativeConstants.NOFOLLOW) != 0
                ? new IOException(e.getMessage() + " (NOFOLLOW_LINKS specified)") : e.forFile(file);
    }

    /** The file at {@code place} opened with {@code flags}, and the JDK's channel made over its descriptor. */
    private static FileChannel overDescriptor(FsPlace place, int flags, int mode) throws IOException {
        int fd = (int) (long) place.call((dfd, p) -> Natives.open(dfd, p, flags, mode), openFailure(flags));
        return DescriptorChannels.over(fd, flags, place.toString());
    }

    /**
     * The file at {@code place} opened with {@code flags}, its channel reached
     * through the descriptor's {@code /proc/self/fd} entry; a file created
     * here is given {@code mode}.
     */
    private static FileChannel reopen(FsPlace place, int flags, int mode) throws IOException {
        // The reopen checks permissions again: a file created here is made
        // with owner read and write, and given its own mode after.
        long opened = place.call((dfd, p) -> Natives.open(dfd, p, flags | NativeConstants.REOPEN, mode | 0600),
                openFailure(flags));
        int fd = (int) opened;
        try {
            FileChannel channel = DescriptorChannels.throughProc(fd, flags, place.display());
            if ((opened >>> 32) != 0 && (mode | 0600) != mode) {
                try {
                    Natives.fchmod(fd, mode & ~FsFileMode.umask());
                } catch (NativeErrno e) {
                    channel.close();
                    throw e.forFile(place.display());
                }
            }
            return channel;
        } finally {
            Natives.close(fd);
        }
    }
}
