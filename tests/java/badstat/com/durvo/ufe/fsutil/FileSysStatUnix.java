package com.durvo.ufe.fsutil;

/** A result class without the eleven-long constructor that the library needs. */
public final class FileSysStatUnix {
    public FileSysStatUnix(long onlyOne) {
    }
}
