package com.durvo.ufe.fsutil;

import java.io.IOException;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.GroupPrincipal;
import java.nio.file.attribute.PosixFileAttributes;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.UserPrincipal;
import java.util.EnumSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;

/**
 * The attribute views of the {@code fsstat} file system: {@code basic},
 * {@code posix}, {@code owner} and {@code unix}, read with one {@code statx}
 * and changed with one system call each, and {@code user}
 * ({@link FsUserAttributes}).
 *
 * <p>The {@code unix} view's names: the {@code posix} view's, and {@code dev},
 * {@code ino}, {@code mode}, {@code nlink}, {@code uid}, {@code gid},
 * {@code rdev}, {@code blksize}, {@code blocks} and {@code ctime}; its
 * {@code creationTime} is present only where the file system keeps one
 * (the {@code basic} view gives the modification time there, as the default
 * provider does). {@code mode}, {@code uid} and {@code gid} can be set.
 */
final class FsAttributes implements PosixFileAttributes {
    private static final List<String> BASIC = List.of("lastModifiedTime", "lastAccessTime", "creationTime", "size",
            "isRegularFile", "isDirectory", "isSymbolicLink", "isOther", "fileKey");
    private static final List<String> POSIX = List.of("permissions", "owner", "group");
    private static final List<String> UNIX = List.of("dev", "ino", "mode", "nlink", "uid", "gid", "rdev", "size",
            "blksize", "blocks", "lastAccessTime", "lastModifiedTime", "ctime");

    /** A mode's file type bits, and the types the library tells apart. */
    static final int TYPE_MASK = 0xF000;
    static final int DIRECTORY = 0x4000;
    static final int SYMLINK = 0xA000;
    static final int REGULAR = 0x8000;

    private final long[] st;

    private FsAttributes(long[] st) {
        this.st = st;
    }

    static FsAttributes read(FsPath p, boolean follow) throws IOException {
        return read(FsPlace.of(p), follow);
    }

    static FsAttributes read(FsPlace place, boolean follow) throws IOException {
        return new FsAttributes(place.call((dfd, path) -> {
            long[] out = new long[SysCalls.STATX_LONGS];
            SysCalls.stat(dfd, path, follow, out);
            return out;
        }, NativeErrno::forAttributesOf));
    }

    /** The statx values of a path (see {@link SysCalls#stat}). */
    static long[] stat(byte[] path, boolean follow) throws NativeErrno {
        long[] out = new long[SysCalls.STATX_LONGS];
        SysCalls.stat(SysCalls.CWD, path, follow, out);
        return out;
    }

    /** The values of the file itself at {@code path}, or null when there is none or it cannot be examined. */
    static long[] statOrNull(byte[] path) {
        try {
            return stat(path, false);
        } catch (NativeErrno e) {
            return null;
        }
    }

    private static FileTime time(long seconds, long nanos) {
        return FileTime.from(java.time.Instant.ofEpochSecond(seconds, nanos));
    }

    private int type() {
        return (int) st[2] & TYPE_MASK;
    }

    @Override
    public FileTime lastModifiedTime() {
        return time(st[12], st[13]);
    }

    @Override
    public FileTime lastAccessTime() {
        return time(st[10], st[11]);
    }

    /** The birth time where the file system keeps one; else, as the default provider, the modification time. */
    @Override
    public FileTime creationTime() {
        return st[18] != 0 ? time(st[16], st[17]) : lastModifiedTime();
    }

    /** {@return the birth time, or null where the file system keeps none} */
    FileTime birthTime() {
        return st[18] != 0 ? time(st[16], st[17]) : null;
    }

    @Override
    public boolean isRegularFile() {
        return type() == REGULAR;
    }

    @Override
    public boolean isDirectory() {
        return type() == DIRECTORY;
    }

    @Override
    public boolean isSymbolicLink() {
        return type() == SYMLINK;
    }

    @Override
    public boolean isOther() {
        return !isRegularFile() && !isDirectory() && !isSymbolicLink();
    }

    @Override
    public long size() {
        return st[7];
    }

    /** The device and inode, equal for two paths of the same file. */
    @Override
    public Object fileKey() {
        return new FileKey(st[0], st[1]);
    }

    /** What {@link BasicFileAttributes#fileKey()} gives. */
    record FileKey(long dev, long ino) {
        @Override
        public String toString() {
            return "(dev=" + Long.toHexString(dev) + ",ino=" + ino + ")";
        }
    }

    @Override
    public UserPrincipal owner() {
        return new FsPrincipals.Principal((int) st[4], false);
    }

    @Override
    public GroupPrincipal group() {
        return new FsPrincipals.Group((int) st[5]);
    }

    @Override
    public Set<PosixFilePermission> permissions() {
        Set<PosixFilePermission> perms = EnumSet.noneOf(PosixFilePermission.class);
        for (PosixFilePermission p : PosixFilePermission.values()) {
            if ((st[2] & (0400 >> p.ordinal())) != 0) {
                perms.add(p);
            }
        }
        return perms;
    }

    /** These attributes as basic ones only, for the basic view. */
    BasicFileAttributes basic() {
        FsAttributes a = this;
        return new BasicFileAttributes() {
            @Override public FileTime lastModifiedTime() { return a.lastModifiedTime(); }
            @Override public FileTime lastAccessTime() { return a.lastAccessTime(); }
            @Override public FileTime creationTime() { return a.creationTime(); }
            @Override public boolean isRegularFile() { return a.isRegularFile(); }
            @Override public boolean isDirectory() { return a.isDirectory(); }
            @Override public boolean isSymbolicLink() { return a.isSymbolicLink(); }
            @Override public boolean isOther() { return a.isOther(); }
            @Override public long size() { return a.size(); }
            @Override public Object fileKey() { return a.fileKey(); }
        };
    }

    // ---- By name

    static Map<String, Object> readMap(FsPath path, String attributes, boolean follow) throws IOException {
        return readMap(FsPlace.of(path), attributes, follow);
    }

    static Map<String, Object> readMap(FsPlace path, String attributes, boolean follow) throws IOException {
        int colon = attributes.indexOf(':');
        String view = colon < 0 ? "basic" : attributes.substring(0, colon);
        if (view.equals("user")) {
            return new FsUserAttributes(path, follow).readAttributes(attributes.substring(colon + 1).split(",", -1));
        }
        if (view.equals("dos")) {
            return FsDosAttributes.readMap(path, follow, attributes.substring(colon + 1));
        }
        names(view);
        return read(path, follow).named(view, List.of(attributes.substring(colon + 1).split(",", -1)));
    }

    /** The attributes of {@code view} named in {@code names} ({@code *} for all of them). */
    Map<String, Object> named(String view, List<String> names) {
        List<String> all = names(view);
        Map<String, Object> out = new LinkedHashMap<>();
        for (String name : names) {
            if (name.equals("*")) {
                for (String n : all) {
                    put(out, view, n);
                }
            } else if (all.contains(name)) {
                put(out, view, name);
            } else {
                throw new IllegalArgumentException("'" + name + "' not recognized");
            }
        }
        return out;
    }

    private static List<String> names(String view) {
        switch (view) {
            case "basic": return BASIC;
            case "owner": return List.of("owner");
            case "posix": return concat(BASIC, POSIX);
            case "unix": return concat(concat(BASIC, POSIX), UNIX);
            case "dos": return concat(BASIC, FsDosAttributes.NAMES);
            default: throw new UnsupportedOperationException("View '" + view + "' not available");
        }
    }

    private static List<String> concat(List<String> a, List<String> b) {
        java.util.ArrayList<String> l = new java.util.ArrayList<>(a);
        for (String s : b) {
            if (!l.contains(s)) {
                l.add(s);
            }
        }
        return l;
    }

    private void put(Map<String, Object> out, String view, String name) {
        Object v;
        switch (name) {
            case "lastModifiedTime": v = lastModifiedTime(); break;
            case "lastAccessTime": v = lastAccessTime(); break;
            case "creationTime":
                // The unix view never makes one up: absent where the file system keeps none.
                v = view.equals("unix") ? birthTime() : creationTime();
                if (v == null) {
                    return;
                }
                break;
            case "size": v = size(); break;
            case "isRegularFile": v = isRegularFile(); break;
            case "isDirectory": v = isDirectory(); break;
            case "isSymbolicLink": v = isSymbolicLink(); break;
            case "isOther": v = isOther(); break;
            case "fileKey": v = fileKey(); break;
            case "permissions": v = permissions(); break;
            case "owner": v = owner(); break;
            case "group": v = group(); break;
            case "dev": v = st[0]; break;
            case "ino": v = st[1]; break;
            case "mode": v = (int) st[2]; break;
            case "nlink": v = (int) Math.min(st[3], Integer.MAX_VALUE); break;
            case "uid": v = (int) st[4]; break;
            case "gid": v = (int) st[5]; break;
            case "rdev": v = st[6]; break;
            case "blksize": v = st[8]; break;
            case "blocks": v = st[9]; break;
            case "ctime": v = time(st[14], st[15]); break;
            default: throw new IllegalArgumentException("'" + view + ":" + name + "' not recognized");
        }
        out.put(name, v);
    }

    static void set(FsPath path, String attribute, Object value, boolean follow) throws IOException {
        set(FsPlace.of(path), attribute, value, follow);
    }

    @SuppressWarnings("unchecked")
    static void set(FsPlace path, String attribute, Object value, boolean follow) throws IOException {
        int colon = attribute.indexOf(':');
        String view = colon < 0 ? "basic" : attribute.substring(0, colon);
        String name = attribute.substring(colon + 1);
        if (view.equals("user")) {
            new FsUserAttributes(path, follow).set(name, value);
            return;
        }
        if (view.equals("dos") && FsDosAttributes.NAMES.contains(name)) {
            new FsDosAttributes(path, follow).set(name, value);
            return;
        }
        names(view);
        FsAttributeViews.View v = new FsAttributeViews.View(view, path, follow);
        switch (name) {
            case "lastModifiedTime": v.setTimes((FileTime) value, null, null); return;
            case "lastAccessTime": v.setTimes(null, (FileTime) value, null); return;
            case "creationTime": v.setTimes(null, null, (FileTime) value); return;
            default: break;
        }
        if (!view.equals("basic")) {
            switch (name) {
                case "owner": v.setOwner((UserPrincipal) value); return;
                case "permissions":
                    if (!view.equals("owner")) {
                        v.setPermissions((Set<PosixFilePermission>) value);
                        return;
                    }
                    break;
                case "group":
                    if (!view.equals("owner")) {
                        v.setGroup((GroupPrincipal) value);
                        return;
                    }
                    break;
                default: break;
            }
        }
        if (view.equals("unix")) {
            switch (name) {
                case "mode": FsAttributeViews.setMode(path, (Integer) value, follow); return;
                case "uid": FsAttributeViews.chown(path, (Integer) value, -1, follow); return;
                case "gid": FsAttributeViews.chown(path, -1, (Integer) value, follow); return;
                default: break;
            }
        }
        throw new IllegalArgumentException("'" + attribute + "' not recognized or cannot be set");
    }
}
