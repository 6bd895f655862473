package com.durvo.ufe.fsutil;

import com.durvo.ufe.fsutil.internal.names.NameBytes;
import java.io.IOException;

/**
 * Statistics of the file system that holds a path.
 *
 * <pre>{@code
 * FileSysStatUnix st = FileSystemStat.forCurrentOs().getFileSysStat("/var");
 * System.out.println(st.availableBytes() + " bytes free");
 * }</pre>
 */
public interface FileSystemStat {

    /**
     * The statistics ({@code statvfs}) of the file system holding {@code path}.
     *
     * @param path a path, as the library delivers names
     * @return the statistics
     * @throws IOException for a path that cannot be examined, as
     *                     {@link java.nio.file.NoSuchFileException} and the other
     *                     {@code java.nio.file} exceptions, naming the path
     */
    FileSysStatUnix getFileSysStat(String path) throws IOException;

    /**
     * The statistics ({@code statvfs}) of the file system holding the path with exactly these bytes, which
     * need not be text.
     *
     * @param path the path's bytes
     * @return the statistics
     * @throws IOException as {@link #getFileSysStat(String)}
     */
    default FileSysStatUnix getFileSysStat(byte[] path) throws IOException {
        return Statistics.of(path);
    }

    /**
     * The statistics ({@code statvfs}) of the file system holding {@code path}: a path of the {@code fsstat:}
     * file system, by its exact bytes, or of the default file system.
     *
     * @param path the path
     * @return the statistics
     * @throws IOException as {@link #getFileSysStat(String)}
     * @throws java.nio.file.ProviderMismatchException for a path of another file system
     */
    default FileSysStatUnix getFileSysStat(java.nio.file.Path path) throws IOException {
        return Statistics.of(NameBytes.bytesOf(path));
    }

    /**
     * The statistics of this library. Every path the library delivers is
     * accepted, whatever its bytes; failures name the path in display form.
     *
     * @return the implementation, the same object every time
     */
    static FileSystemStat forCurrentOs() {
        return Statistics.INSTANCE;
    }
}
