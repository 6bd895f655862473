package com.durvo.ufe.fsutil.tool;

import com.durvo.ufe.fsutil.ChildFile;

import java.time.Instant;

/**
 * A file's name and {@code lstat} attributes, as the tool prints them: from a
 * listing, or for a path the user named.
 */
record Entry(byte[] name, long device, long inode, int mode, int links, int uid, int gid, long rdev, long size,
        long blocks, Instant modified, String modeString) {

    static final int TYPE_MASK = 0xF000;
    static final int DIRECTORY = 0x4000;
    static final int SYMLINK = 0xA000;

    static Entry of(ChildFile f, byte[] name) {
        return new Entry(name, f.device(), f.inode(), f.mode(), f.links(), f.uid(), f.gid(), f.rdev(), f.size(),
                f.blocks(), f.modifiedTime(), f.modeString());
    }

    Entry named(byte[] newName) {
        return new Entry(newName, device, inode, mode, links, uid, gid, rdev, size, blocks, modified, modeString);
    }

    boolean isDirectory() {
        return (mode & TYPE_MASK) == DIRECTORY;
    }

    boolean isSymlink() {
        return (mode & TYPE_MASK) == SYMLINK;
    }

    boolean isDevice() {
        int type = mode & TYPE_MASK;
        return type == 0x2000 || type == 0x6000;
    }
}
