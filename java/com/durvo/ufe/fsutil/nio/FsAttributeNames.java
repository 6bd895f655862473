package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.internal.natives.StatValues;
import java.io.IOException;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.GroupPrincipal;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.UserPrincipal;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;

/**
 * Attributes by name ({@code Files.readAttributes(path, "view:names")} and
 * {@code Files.setAttribute}): the names each view has, and which view reads
 * or sets each one. {@code basic}, {@code posix}, {@code owner} and
 * {@code unix} read one {@link FsAttributes} and change with one system call
 * each; {@code user} ({@link FsUserAttributes}) and {@code dos}
 * ({@link FsDosAttributes}) have their own.
 *
 * <p>The {@code unix} view's names: the {@code posix} view's, and {@code dev},
 * {@code ino}, {@code mode}, {@code nlink}, {@code uid}, {@code gid},
 * {@code rdev}, {@code blksize}, {@code blocks} and {@code ctime}; its
 * {@code creationTime} is present only where the file system keeps one
 * (the {@code basic} view gives the modification time there, as the default
 * provider does). {@code mode}, {@code uid} and {@code gid} can be set.
 */
final class FsAttributeNames {
    private static final List<String> BASIC = List.of("lastModifiedTime", "lastAccessTime", "creationTime", "size",
            "isRegularFile", "isDirectory", "isSymbolicLink", "isOther", "fileKey");
    private static final List<String> POSIX = List.of("permissions", "owner", "group");
    private static final List<String> UNIX = List.of("dev", "ino", "mode", "nlink", "uid", "gid", "rdev", "size",
            "blksize", "blocks", "lastAccessTime", "lastModifiedTime", "ctime");

    private FsAttributeNames() {
    }

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
        return named(FsAttributes.read(path, follow), view, List.of(attributes.substring(colon + 1).split(",", -1)));
    }

    /** The attributes of {@code view} named in {@code names} ({@code *} for all of them). */
    static Map<String, Object> named(FsAttributes a, String view, List<String> names) {
        List<String> all = names(view);
        Map<String, Object> out = new LinkedHashMap<>();
        for (String name : names) {
            if (name.equals("*")) {
                for (String n : all) {
                    put(out, a, view, n);
                }
            } else if (all.contains(name)) {
                put(out, a, view, name);
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

    private static void put(Map<String, Object> out, FsAttributes a, String view, String name) {
        Object v;
        switch (name) {
            case "lastModifiedTime": v = a.lastModifiedTime(); break;
            case "lastAccessTime": v = a.lastAccessTime(); break;
            case "creationTime":
                // The unix view never makes one up: absent where the file system keeps none.
                v = view.equals("unix") ? a.birthTime() : a.creationTime();
                if (v == null) {
                    return;
                }
                break;
            case "size": v = a.size(); break;
            case "isRegularFile": v = a.isRegularFile(); break;
            case "isDirectory": v = a.isDirectory(); break;
            case "isSymbolicLink": v = a.isSymbolicLink(); break;
            case "isOther": v = a.isOther(); break;
            case "fileKey": v = a.fileKey(); break;
            case "permissions": v = a.permissions(); break;
            case "owner": v = a.owner(); break;
            case "group": v = a.group(); break;
            case "dev": v = StatValues.dev(a.values(), 0); break;
            case "ino": v = StatValues.ino(a.values(), 0); break;
            case "mode": v = StatValues.mode(a.values(), 0); break;
            case "nlink": v = StatValues.links(a.values(), 0); break;
            case "uid": v = StatValues.uid(a.values(), 0); break;
            case "gid": v = StatValues.gid(a.values(), 0); break;
            case "rdev": v = StatValues.rdev(a.values(), 0); break;
            case "blksize": v = StatValues.blockSize(a.values(), 0); break;
            case "blocks": v = StatValues.blocks(a.values(), 0); break;
            case "ctime": v = a.ctime(); break;
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
