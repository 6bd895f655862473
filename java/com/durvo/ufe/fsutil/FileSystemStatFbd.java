package com.durvo.ufe.fsutil;

import java.io.IOException;

/** File-system statistics on FreeBSD. */
final class FileSystemStatFbd implements FileSystemStat {
    static {
        NativeLibrary.load();
    }

    @Override
    public native FileSysStatUnix getFileSysStat(String path) throws IOException;
}
