package com.durvo.ufe.fsutil;

import java.io.IOException;
import java.util.Locale;

/**
 * Statistics of the file system that holds a path. Every operating-system
 * family has its own declaring class; {@link #forCurrentOs()} picks the one for
 * the running system.
 *
 * <pre>{@code
 * FileSysStatUnix st = FileSystemStat.forCurrentOs().getFileSysStat("/var");
 * System.out.println(st.availableBytes() + " bytes free");
 * }</pre>
 */
public interface FileSystemStat {

    /**
     * The {@code statvfs} figures of the file system holding {@code path}.
     *
     * @throws IOException whose message names the failing step and the path
     */
    FileSysStatUnix getFileSysStat(String path) throws IOException;

    /**
     * The implementation for the running operating system.
     *
     * @throws UnsupportedOperationException on a system the library was not built for
     */
    static FileSystemStat forCurrentOs() {
        String os = System.getProperty("os.name", "").toLowerCase(Locale.ROOT);
        if (os.contains("linux")) {
            return new FileSystemStatLin();
        }
        if (os.contains("freebsd")) {
            return new FileSystemStatFbd();
        }
        if (os.contains("mac") || os.contains("darwin")) {
            return new FileSystemStatMac();
        }
        if (os.contains("sunos") || os.contains("solaris")) {
            return new FileSystemStatSos();
        }
        throw new UnsupportedOperationException("fsstat does not support " + System.getProperty("os.name"));
    }
}
