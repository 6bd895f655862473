package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.internal.natives.Natives;
import com.durvo.ufe.fsutil.internal.natives.StatValues;
import java.io.IOException;
import java.nio.file.attribute.BasicFileAttributeView;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.FileAttributeView;
import java.nio.file.attribute.FileOwnerAttributeView;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.GroupPrincipal;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFileAttributes;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.UserDefinedFileAttributeView;
import java.nio.file.attribute.UserPrincipal;
import java.util.Objects;
import java.util.Set;

/**
 * The attribute views of a file at a place: {@code basic}, {@code posix} and
 * {@code owner} read with one {@code statx} ({@link FsAttributes}) and
 * changed with one system call each; {@code user} ({@link FsUserAttributes})
 * and {@code dos} ({@link FsDosAttributes}) made here as well.
 */
final class FsAttributeViews {
    private FsAttributeViews() {
    }

    /** One class for the standard views; its name is the view asked for. */
    static final class View implements PosixFileAttributeView {
        private final String name;
        private final FsPlace path;
        private final boolean follow;

        View(String name, FsPlace path, boolean follow) {
            this.name = name;
            this.path = path;
            this.follow = follow;
        }

        @Override
        public String name() {
            return name;
        }

        @Override
        public PosixFileAttributes readAttributes() throws IOException {
            return FsAttributes.read(path, follow);
        }

        /** Times to the nanosecond, of a link itself when not following; a creation time cannot be set and is ignored, as the default provider ignores it. */
        @Override
        public void setTimes(FileTime lastModifiedTime, FileTime lastAccessTime, FileTime createTime) throws IOException {
            if (lastModifiedTime == null && lastAccessTime == null) {
                return;
            }
            long[] times = new long[] {0, -1, 0, -1};
            put(times, 0, lastAccessTime);
            put(times, 2, lastModifiedTime);
            path.call((dfd, p) -> {
                Natives.utimens(dfd, p, times, follow);
                return null;
            });
        }

        private static void put(long[] times, int at, FileTime t) {
            if (t != null) {
                java.time.Instant i = t.toInstant();
                times[at] = i.getEpochSecond();
                times[at + 1] = i.getNano();
            }
        }

        @Override
        public void setPermissions(Set<PosixFilePermission> perms) throws IOException {
            setMode(path, FsFileMode.of(perms), follow);
        }

        @Override
        public void setOwner(UserPrincipal owner) throws IOException {
            Objects.requireNonNull(owner, "owner");
            chown(path, FsPrincipals.idOf(owner, false), -1, follow);
        }

        @Override
        public void setGroup(GroupPrincipal group) throws IOException {
            Objects.requireNonNull(group, "group");
            chown(path, -1, FsPrincipals.idOf(group, true), follow);
        }

        @Override
        public UserPrincipal getOwner() throws IOException {
            return FsAttributes.read(path, follow).owner();
        }
    }

    /**
     * Sets a file's mode bits, set-id and sticky bits included, as chmod does. Not following links, on the file
     * opened without following, so a link swapped in meanwhile leads nowhere; a link itself has no mode, and is
     * refused as the JDK refuses it.
     */
    static void setMode(FsPlace path, int mode, boolean follow) throws IOException {
        path.call((dfd, p) -> {
            Natives.chmod(dfd, p, StatValues.permissionBits(mode), follow);
            return null;
        });
    }

    static void chown(FsPlace path, int uid, int gid, boolean follow) throws IOException {
        path.call((dfd, p) -> {
            Natives.chown(dfd, p, uid, gid, follow);
            return null;
        });
    }

    static <V extends FileAttributeView> V view(FsPath path, Class<V> type, boolean follow) {
        return view(FsPlace.of(path), type, follow);
    }

    static <V extends FileAttributeView> V view(FsPlace path, Class<V> type, boolean follow) {
        Objects.requireNonNull(type, "type");
        if (type == BasicFileAttributeView.class) {
            return type.cast(new BasicView(new View("basic", path, follow)));
        }
        if (type == PosixFileAttributeView.class) {
            return type.cast(new View("posix", path, follow));
        }
        if (type == FileOwnerAttributeView.class) {
            return type.cast(new View("owner", path, follow));
        }
        if (type == UserDefinedFileAttributeView.class) {
            return type.cast(new FsUserAttributes(path, follow));
        }
        if (type == java.nio.file.attribute.DosFileAttributeView.class) {
            return type.cast(new FsDosAttributes(path, follow));
        }
        return null;
    }

    /**
     * The basic view: as the JDK's, neither it nor what it reads can be cast
     * to the posix view or attributes, so code handed it changes no mode.
     */
    private static final class BasicView implements BasicFileAttributeView {
        private final View view;

        BasicView(View view) {
            this.view = view;
        }

        @Override
        public String name() {
            return "basic";
        }

        @Override
        public BasicFileAttributes readAttributes() throws IOException {
            return FsAttributes.read(view.path, view.follow).basic();
        }

        @Override
        public void setTimes(FileTime lastModifiedTime, FileTime lastAccessTime, FileTime createTime)
                throws IOException {
            view.setTimes(lastModifiedTime, lastAccessTime, createTime);
        }
    }
}
