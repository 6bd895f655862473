package com.durvo.ufe.fsutil;

import com.durvo.ufe.fsutil.internal.names.NameBytes;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import java.io.IOException;

/** The one reader of statistics: {@code statvfs} of a path by its bytes; a string is read as {@link FileNames#toBytes} reads it. */
final class Statistics implements FileSystemStat {
    static final Statistics INSTANCE = new Statistics();

    private Statistics() {
    }

    @Override
    public FileSysStatUnix getFileSysStat(String path) throws IOException {
        return of(FileNames.toBytes(path));
    }

    /** The statistics of the file system holding the path with exactly these bytes. */
    static FileSysStatUnix of(byte[] path) throws IOException {
        NameBytes.checkPath(path);
        long[] v = new long[11];
        try {
            Natives.statvfs(path, v);
        } catch (NativeErrno e) {
            throw e.forFile(path);
        }
        return new FileSysStatUnix(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10]);
    }
}
