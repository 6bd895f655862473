package com.durvo.ufe.fsutil.internal.loader;

import java.net.URI;
import java.nio.file.FileSystem;
import java.nio.file.FileSystems;
import java.nio.file.spi.FileSystemProvider;

/**
 * The JDK's own file system, for the library's own files (its copy of the
 * native library, {@code /proc}): when the {@code fsstat:} provider is the
 * JVM's default, its operations need the native library, and reopening
 * through {@code /proc/self/fd} would come back to it.
 */
public final class JdkFileSystem {
    private static volatile FileSystemProvider builtin;

    private JdkFileSystem() {
    }

    /** Called by the provider made to be the default, with the JDK's provider it replaces. */
    public static void replacedBy(FileSystemProvider jdk) {
        builtin = jdk;
    }

    /** The JDK's own file system, whichever provider is the default. */
    public static FileSystem get() {
        FileSystem fs = FileSystems.getDefault();  // makes the default provider first
        FileSystemProvider jdk = builtin;
        return jdk == null ? fs : jdk.getFileSystem(URI.create("file:///"));
    }
}
