package com.durvo.ufe.fsutil.internal.natives;

import com.durvo.ufe.fsutil.internal.loader.JdkFileSystem;
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
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.EnumSet;
import java.util.Map;

/**
 * The JDK's own {@link FileChannel} of a file this library opened: made over
 * the descriptor where the JDK has a factory for that, else reached through
 * the descriptor's {@code /proc/self/fd} entry. Whoever opens a file checks
 * what it opened on the descriptor, then gets its channel here, so nothing
 * acts on a name after checking it.
 */
public final class DescriptorChannels {
    private DescriptorChannels() {
    }

    /** The JDK's factory of its channels over a descriptor, looked up once. */
    private static final class Factory {
        /** (descriptor, path, readable, writable, sync) to the JDK's channel; null where there is none. */
        static final MethodHandle OPEN;
        /** Setters of a descriptor's {@code fd} and {@code append} fields. */
        static final MethodHandle SET_FD;
        static final MethodHandle SET_APPEND;

        static {
            MethodHandle[] found = find();
            OPEN = found[0];
            SET_FD = found[1];
            SET_APPEND = found[2];
        }

        private static MethodHandle[] find() {
            AccessibleObject[] members = Natives.channelFactory();
            if (members == null) {
                return new MethodHandle[3];
            }
            try {
                Method m = (Method) members[0];
                MethodHandles.Lookup lookup = MethodHandles.lookup();
                MethodHandle open = lookup.unreflect(m);
                // After readable and writable: (direct, parent), or (sync, direct, parent).
                open = m.getParameterCount() == 6
                        ? MethodHandles.dropArguments(MethodHandles.insertArguments(open, 4, false, null), 4,
                                boolean.class)
                        : MethodHandles.insertArguments(open, 5, false, null);
                return new MethodHandle[] {
                    open.asType(MethodType.methodType(FileChannel.class, FileDescriptor.class, String.class,
                            boolean.class, boolean.class, boolean.class)),
                    lookup.unreflectSetter((Field) members[1]), lookup.unreflectSetter((Field) members[2])};
            } catch (IllegalAccessException | RuntimeException e) {
                return new MethodHandle[3];  // the reopen serves
            }
        }
    }

    /**
     * Whether {@link #over} can be used; where not, open with
     * {@link NativeConstants#REOPEN} and use {@link #throughProc}.
     */
    public static boolean direct() {
        return Factory.OPEN != null;
    }

    /**
     * The JDK's channel over {@code fd}, opened with {@code flags}; the
     * channel owns the descriptor, which is closed if no channel is made.
     */
    public static FileChannel over(int fd, int flags, String path) {
        try {
            FileDescriptor holder = new FileDescriptor();
            Factory.SET_FD.invokeExact(holder, fd);
            // The JDK's channel keeps an APPEND descriptor's position at the end by this flag.
            Factory.SET_APPEND.invokeExact(holder, (flags & NativeConstants.APPEND) != 0);
            return (FileChannel) Factory.OPEN.invokeExact(holder, path,
                    (flags & NativeConstants.READ) != 0, (flags & (NativeConstants.WRITE | NativeConstants.APPEND)) != 0,
                    (flags & (NativeConstants.SYNC | NativeConstants.DSYNC)) != 0);
        } catch (Throwable e) {
            Natives.close(fd);  // no channel owns it
            if (e instanceof RuntimeException r) {
                throw r;
            }
            if (e instanceof Error err) {
                throw err;
            }
            throw new IllegalStateException(e);  // the factory declares nothing checked
        }
    }

    /**
     * A channel of the open file {@code fd} through {@code /proc/self/fd},
     * with the access that {@code flags} ask; {@code fd} stays the caller's.
     * Failures name {@code display}.
     */
    public static FileChannel throughProc(int fd, int flags, String display) throws IOException {
        EnumSet<StandardOpenOption> reopen = EnumSet.noneOf(StandardOpenOption.class);
        if ((flags & NativeConstants.READ) != 0) {
            reopen.add(StandardOpenOption.READ);
        }
        if ((flags & NativeConstants.WRITE) != 0) {
            reopen.add(StandardOpenOption.WRITE);
        }
        if ((flags & NativeConstants.APPEND) != 0) {
            reopen.add(StandardOpenOption.APPEND);
        }
        if ((flags & NativeConstants.SYNC) != 0) {
            reopen.add(StandardOpenOption.SYNC);
        }
        if ((flags & NativeConstants.DSYNC) != 0) {
            reopen.add(StandardOpenOption.DSYNC);
        }
        FileChannel channel;
        Path proc = JdkFileSystem.get().getPath("/proc/self/fd/" + fd);
        try {
            channel = FileChannel.open(proc, reopen);
        } catch (AccessDeniedException e) {
            throw new AccessDeniedException(display);
        } catch (FileSystemException e) {
            throw new FileSystemException(display, null, e.getReason());
        }
        try {
            if (!sameFile(fd, proc)) {
                throw new FileSystemException(display, null,
                        "/proc/self/fd does not lead to the open file (is procfs mounted on /proc?)");
            }
        } catch (IOException | RuntimeException e) {
            channel.close();
            throw e;
        }
        return channel;
    }

    /** Whether the open file of {@code fd} is what {@code proc} leads to: procfs, not a look-alike tree. */
    private static boolean sameFile(int fd, Path proc) throws IOException {
        long[] open = fstat(fd, proc.toString());
        Map<String, Object> reached = Files.readAttributes(proc, "unix:dev,ino");
        return (Long) reached.get("dev") == StatValues.dev(open, 0) && (Long) reached.get("ino") == StatValues.ino(open, 0);
    }

    /** The attributes of the open file {@code fd}; a failure names {@code display}. */
    public static long[] fstat(int fd, String display) throws IOException {
        long[] open = new long[NativeConstants.STATX_LONGS];
        try {
            Natives.stat(fd, new byte[0], true, open);
        } catch (NativeErrno e) {
            throw e.forFile(display);
        }
        return open;
    }
}
