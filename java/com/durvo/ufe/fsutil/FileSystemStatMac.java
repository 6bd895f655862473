package com.durvo.ufe.fsutil;

import com.durvo.ufe.fsutil.internal.loader.NativeLibrary;
import java.io.IOException;

/** File-system statistics on macOS. */
final class FileSystemStatMac implements FileSystemStat {
    static {
        NativeLibrary.load();
    }

    @Override
    public native FileSysStatUnix getFileSysStat(String path) throws IOException;
}
