package com.durvo.ufe.fsutil;

import com.durvo.ufe.fsutil.internal.natives.NativeConstants;

/**
 * An attribute a listing or walk can read for each entry (see
 * {@link WalkOptions.Builder#read}). Reading fewer spares system calls: with
 * {@link #TYPE} alone most file systems need none beyond reading the
 * directory. An entry's accessor for an attribute that was not read throws
 * {@link IllegalStateException} naming it.
 */
public enum EntryAttribute {
    /** The file type ({@link ChildFile#type()}, {@link ChildFile#isDirectory()}); always read. */
    TYPE(NativeConstants.TYPE),
    /** The type and permission bits ({@link ChildFile#mode()}). */
    MODE(NativeConstants.MODE),
    /** The number of hard links ({@link ChildFile#links()}). */
    LINKS(NativeConstants.NLINK),
    /** The owner ({@link ChildFile#uid()}). */
    OWNER(NativeConstants.UID),
    /** The group ({@link ChildFile#gid()}). */
    GROUP(NativeConstants.GID),
    /** The time of last access ({@link ChildFile#accessTime()}). */
    ACCESS_TIME(NativeConstants.ATIME),
    /** The time of last modification ({@link ChildFile#modifiedTime()}). */
    MODIFIED_TIME(NativeConstants.MTIME),
    /** The time of the last status change ({@link ChildFile#changeTime()}). */
    CHANGE_TIME(NativeConstants.CTIME),
    /** The inode number ({@link ChildFile#inode()}). */
    INODE(NativeConstants.INO),
    /** The size ({@link ChildFile#size()}). */
    SIZE(NativeConstants.SIZE),
    /** The allocated blocks ({@link ChildFile#blocks()}). */
    BLOCKS(NativeConstants.BLOCKS),
    /** The device, the device id of a device file, and the block size ({@link ChildFile#device()},
     * {@link ChildFile#rdev()}, {@link ChildFile#blockSize()}): every attribute but the type brings them. */
    DEVICE(NativeConstants.DEV),
    /** The creation time ({@link ChildFile#creationTime()}), where the file system keeps one; not part of
     * {@link WalkOptions.Builder#readAll()}. */
    CREATION_TIME(NativeConstants.BTIME_BIT),
    /** The id of the mount holding the entry ({@link ChildFile#mountId()}), where the system gives it; not part
     * of {@link WalkOptions.Builder#readAll()}. */
    MOUNT_ID(NativeConstants.MOUNT_ID_BIT);

    final int bit;

    EntryAttribute(int bit) {
        this.bit = bit;
    }
}
