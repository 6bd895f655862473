package com.durvo.ufe.fsutil;

/**
 * The eleven {@code statvfs} figures of a file system, as the native library
 * reports them. Counts are unsigned: a value of 2^63 or more reads as negative
 * here (use {@link Long#toUnsignedString(long)} to print such a value).
 *
 * @param bsize   file-system block size
 * @param frsize  fundamental block (fragment) size; the unit of the block counts
 * @param blocks  total blocks, in units of {@code frsize}
 * @param bfree   free blocks
 * @param bavail  free blocks available to unprivileged users
 * @param files   total file nodes (inodes)
 * @param ffree   free file nodes
 * @param favail  free file nodes available to unprivileged users
 * @param fsid    file-system id
 * @param flag    mount flags, a bit mask
 * @param namemax maximum length of a file name
 */
public record FileSysStatUnix(long bsize, long frsize, long blocks, long bfree, long bavail, long files,
        long ffree, long favail, long fsid, long flag, long namemax) {

    /**
     * Size of the file system in bytes.
     *
     * @return {@code blocks * frsize}
     */
    public long totalBytes() {
        return blocks * frsize;
    }

    /**
     * Free bytes, including those reserved for the superuser.
     *
     * @return {@code bfree * frsize}
     */
    public long freeBytes() {
        return bfree * frsize;
    }

    /**
     * Bytes available to unprivileged users.
     *
     * @return {@code bavail * frsize}
     */
    public long availableBytes() {
        return bavail * frsize;
    }

    /**
     * Bytes in use.
     *
     * @return {@code (blocks - bfree) * frsize}
     */
    public long usedBytes() {
        return (blocks - bfree) * frsize;
    }

    /**
     * Percentage of the space usable by unprivileged users that is in use,
     * rounded up as {@code df} does; 0 for a file system without blocks.
     *
     * @return 0 to 100
     */
    public int usedPercent() {
        return percentUp(blocks - bfree, blocks - bfree + bavail);
    }

    /**
     * File nodes in use.
     *
     * @return {@code files - ffree}
     */
    public long usedFiles() {
        return files - ffree;
    }

    /**
     * Percentage of file nodes in use, rounded up; 0 where the file system has no fixed count.
     *
     * @return 0 to 100
     */
    public int usedFilesPercent() {
        return percentUp(files - ffree, files);
    }

    private static int percentUp(long part, long whole) {
        if (whole <= 0 || part <= 0) {
            return 0;
        }
        return (int) Math.ceil(100.0 * part / whole);
    }

    @Override
    public String toString() {
        return "FileSysStatUnix[size=" + totalBytes() + " B, used=" + usedBytes() + " B, available="
                + availableBytes() + " B (" + usedPercent() + "% used), inodes=" + Long.toUnsignedString(files)
                + ", inodes free=" + Long.toUnsignedString(ffree) + ", bsize=" + bsize + ", frsize=" + frsize
                + ", blocks=" + Long.toUnsignedString(blocks) + ", bfree=" + Long.toUnsignedString(bfree)
                + ", bavail=" + Long.toUnsignedString(bavail) + ", favail=" + Long.toUnsignedString(favail)
                + ", fsid=0x" + Long.toHexString(fsid) + ", flag=0x" + Long.toHexString(flag) + ", namemax="
                + namemax + "]";
    }
}
