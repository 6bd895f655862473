/**
 * The {@code fsstat:} file system: a {@code java.nio.file} provider whose
 * {@code Path} holds a name's exact bytes, so that every {@code Files}
 * operation reaches the file the name names, whatever the locale.
 *
 * <pre>{@code
 * Path p = Path.of(URI.create("fsstat:///tmp/caf%E9"));    // the bytes 2F 74 6D 70 2F 63 61 66 E9
 * Files.writeString(p, "latin-1 name");
 * Path ours = FsFileSystem.toFsPath(Path.of("/tmp"));      // any default Path, on the same bytes
 * }</pre>
 *
 * <p>{@link com.durvo.ufe.fsutil.nio.FsFileSystem} is the file system and
 * {@link com.durvo.ufe.fsutil.nio.FsFileSystemProvider} its provider, which
 * the JVM finds as an installed provider, or takes as its default with
 * {@code -Djava.nio.file.spi.DefaultFileSystemProvider=com.durvo.ufe.fsutil.nio.FsFileSystemProvider}.
 * Failures are the default provider's exceptions, class and message alike.
 */
package com.durvo.ufe.fsutil.nio;
