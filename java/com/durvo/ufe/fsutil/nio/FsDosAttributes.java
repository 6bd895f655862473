package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.attribute.BasicFileAttributeView;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.DosFileAttributeView;
import java.nio.file.attribute.DosFileAttributes;
import java.nio.file.attribute.FileTime;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/**
 * The {@code dos} view, as the JDK keeps it on Linux: the four DOS flags in
 * the {@code user.DOSATTRIB} extended attribute, a hexadecimal number
 * written {@code 0x20} and ended by a NUL (Samba's spelling, so the flags it
 * sets read here too). A file without that attribute has no flag set; on a
 * file system without user attributes, reading and setting fail with the
 * system's word for it, as with the JDK. Both the file's values and its
 * flags come from one descriptor, opened as the {@code user} view opens it.
 */
final class FsDosAttributes implements DosFileAttributeView {
    /** The view's own names, beside the basic ones. */
    static final List<String> NAMES = List.of("readonly", "hidden", "system", "archive");
    private static final int[] BITS = {0x01, 0x02, 0x04, 0x20};
    private static final byte[] KEY = "user.DOSATTRIB".getBytes(StandardCharsets.US_ASCII);

    private final FsPlace place;
    private final boolean follow;

    FsDosAttributes(FsPlace place, boolean follow) {
        this.place = place;
        this.follow = follow;
    }

    /** An operation on the open file, given its descriptor as a place too. */
    private interface Use<T> {
        T apply(int fd, FsPlace open) throws NativeErrno, IOException;
    }

    private <T> T onFile(Use<T> use) throws IOException {
        int options = NativeConstants.READ | NativeConstants.NONBLOCK | (follow ? 0 : NativeConstants.NOFOLLOW);
        int fd = (int) (long) place.call((dfd, p) -> Natives.open(dfd, p, options, 0));
        FsPlace open = new FsPlace() {
            @Override
            <R> R call(Call<R> c, Failure failure) throws IOException {
                try {
                    return c.apply(fd, new byte[0]);
                } catch (NativeErrno e) {
                    throw failure.of(e, display());
                }
            }

            @Override
            String display() {
                return place.display();
            }

            @Override
            public String toString() {
                return place.toString();
            }
        };
        try {
            return use.apply(fd, open);
        } catch (NativeErrno e) {
            throw e.forFile(place.display());
        } finally {
            Natives.close(fd);
        }
    }

    /** The flags the open file {@code fd} keeps; none where it has no {@code user.DOSATTRIB}. */
    private int flags(int fd) throws NativeErrno, IOException {
        byte[] v;
        try {
            v = Natives.getxattr(fd, KEY);
        } catch (NativeErrno e) {
            if (e.errno == NativeErrno.ENODATA) {
                return 0;
            }
            throw e;
        }
        int n = v.length > 0 && v[v.length - 1] == 0 ? v.length - 1 : v.length;
        String s = new String(v, 0, n, StandardCharsets.ISO_8859_1);
        if (s.length() >= 3 && s.startsWith("0x")) {
            try {
                return Integer.parseInt(s.substring(2), 16);
            } catch (NumberFormatException e) {
                // refused below
            }
        }
        throw new IOException("Value of user.DOSATTRIB attribute is invalid");
    }

    @Override
    public String name() {
        return "dos";
    }

    @Override
    public DosFileAttributes readAttributes() throws IOException {
        return onFile((fd, open) -> {
            BasicFileAttributes b = FsAttributes.read(open, true).basic();
            int flags = flags(fd);
            return new DosFileAttributes() {
                @Override public FileTime lastModifiedTime() { return b.lastModifiedTime(); }
                @Override public FileTime lastAccessTime() { return b.lastAccessTime(); }
                @Override public FileTime creationTime() { return b.creationTime(); }
                @Override public boolean isRegularFile() { return b.isRegularFile(); }
                @Override public boolean isDirectory() { return b.isDirectory(); }
                @Override public boolean isSymbolicLink() { return b.isSymbolicLink(); }
                @Override public boolean isOther() { return b.isOther(); }
                @Override public long size() { return b.size(); }
                @Override public Object fileKey() { return b.fileKey(); }
                @Override public boolean isReadOnly() { return (flags & BITS[0]) != 0; }
                @Override public boolean isHidden() { return (flags & BITS[1]) != 0; }
                @Override public boolean isSystem() { return (flags & BITS[2]) != 0; }
                @Override public boolean isArchive() { return (flags & BITS[3]) != 0; }
            };
        });
    }

    @Override
    public void setTimes(FileTime lastModifiedTime, FileTime lastAccessTime, FileTime createTime) throws IOException {
        FsAttributeViews.view(place, BasicFileAttributeView.class, follow).setTimes(lastModifiedTime, lastAccessTime,
                createTime);
    }

    @Override public void setReadOnly(boolean value) throws IOException { update(BITS[0], value); }
    @Override public void setHidden(boolean value) throws IOException { update(BITS[1], value); }
    @Override public void setSystem(boolean value) throws IOException { update(BITS[2], value); }
    @Override public void setArchive(boolean value) throws IOException { update(BITS[3], value); }

    /** {@code dos:name} set, for one of {@link #NAMES}. */
    void set(String name, Object value) throws IOException {
        update(BITS[NAMES.indexOf(name)], (Boolean) value);
    }

    /** Sets or clears {@code bit}, on the open file; an unchanged value is not written. */
    private void update(int bit, boolean on) throws IOException {
        onFile((fd, open) -> {
            int old = flags(fd);
            int now = on ? old | bit : old & ~bit;
            if (now != old) {
                byte[] text = ("0x" + Integer.toHexString(now) + "\0").getBytes(StandardCharsets.US_ASCII);
                Natives.setxattr(fd, KEY, text);
            }
            return null;
        });
    }

    /** The attributes named in {@code names} (a comma-separated list, {@code *} for all), from one descriptor. */
    static Map<String, Object> readMap(FsPlace place, boolean follow, String names) throws IOException {
        FsDosAttributes view = new FsDosAttributes(place, follow);
        return view.onFile((fd, open) -> {
            List<String> basic = new ArrayList<>();
            List<String> own = new ArrayList<>();
            for (String n : names.split(",", -1)) {
                if (n.equals("*")) {
                    basic.add(n);
                    own.addAll(NAMES);
                } else if (NAMES.contains(n)) {
                    own.add(n);
                } else {
                    basic.add(n);
                }
            }
            Map<String, Object> out = FsAttributeNames.named(FsAttributes.read(open, true), "basic", basic);
            if (!own.isEmpty()) {
                int flags = view.flags(fd);
                for (String n : own) {
                    out.put(n, (flags & BITS[NAMES.indexOf(n)]) != 0);
                }
            }
            return out;
        });
    }

}
