package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.internal.loader.JdkFileSystem;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFilePermission;
import java.util.EnumSet;
import java.util.Set;

/** A file's mode bits: of permissions, of a new file's initial attributes, and the process's umask that trims them. */
final class FsFileMode {
    private FsFileMode() {
    }

    /** Permissions as a mode's bits. */
    static int of(Set<PosixFilePermission> perms) {
        int mode = 0;
        for (PosixFilePermission p : perms) {
            mode |= bit(p);
        }
        return mode;
    }

    /** A mode's permission bits as permissions. */
    static Set<PosixFilePermission> permissions(int mode) {
        Set<PosixFilePermission> perms = EnumSet.noneOf(PosixFilePermission.class);
        for (PosixFilePermission p : PosixFilePermission.values()) {
            if ((mode & bit(p)) != 0) {
                perms.add(p);
            }
        }
        return perms;
    }

    // PosixFilePermission lists owner, group, others, each read, write, execute: the order of a mode's bits.
    private static int bit(PosixFilePermission p) {
        return 0400 >> p.ordinal();
    }

    /** The mode a new file is made with: {@code dflt}, or the {@code posix:permissions} among attrs. */
    static int initial(int dflt, FileAttribute<?>... attrs) {
        int mode = dflt;
        for (FileAttribute<?> a : attrs) {
            String name = a.name();
            if (name.equals("posix:permissions") || name.equals("unix:permissions")) {
                @SuppressWarnings("unchecked")
                Set<PosixFilePermission> perms = (Set<PosixFilePermission>) a.value();
                mode = of(perms);
            } else {
                throw new UnsupportedOperationException("'" + name + "' not supported as initial attribute");
            }
        }
        return mode;
    }

    /** The process's umask, from its status (umask(2) would change it for a moment); read each time, as it may change. */
    static int umask() {
        int u = 022;
        try {
            for (String line : Files.readAllLines(JdkFileSystem.get().getPath("/proc/self/status"))) {
                if (line.startsWith("Umask:")) {
                    u = Integer.parseInt(line.substring(6).trim(), 8);
                }
            }
        } catch (IOException | NumberFormatException e) {
            // the usual value stands
        }
        return u;
    }
}
