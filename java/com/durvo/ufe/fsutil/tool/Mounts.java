package com.durvo.ufe.fsutil.tool;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;

/** The mount table of this process (/proc/self/mountinfo), in mount order. */
final class Mounts {
    /** One mounted file system; names are the table's bytes with its octal escapes undone. */
    static final class Mount {
        final byte[] device;
        final byte[] dir;
        final byte[] root;
        final String type;
        final long dev;
        final boolean dummy;
        final boolean remote;

        Mount(byte[] device, byte[] dir, byte[] root, String type, long dev) {
            this.device = device;
            this.dir = dir;
            this.root = root;
            this.type = type;
            this.dev = dev;
            String name = new String(device, StandardCharsets.ISO_8859_1);
            this.dummy = DUMMY_TYPES.contains(type);
            this.remote = name.indexOf(':') >= 0 || name.startsWith("//")
                    && (type.equals("smbfs") || type.equals("smb3") || type.equals("cifs"));
        }
    }

    // Kernel and automounter file systems that hold no user data: df leaves them out unless named.
    private static final Set<String> DUMMY_TYPES = Set.of("autofs", "proc", "subfs", "debugfs", "devpts",
            "fusectl", "fuse.portal", "mqueue", "rpc_pipefs", "sysfs", "devfs", "kernfs", "ignore", "none");

    /** Stands for the mount of a path when the table cannot be read: "-" for device, type and directory. */
    static final Mount UNKNOWN = new Mount(new byte[] {'-'}, new byte[] {'-'}, new byte[0], "-", -1);

    private Mounts() {
    }

    static List<Mount> read() throws IOException {
        byte[] table = Files.readAllBytes(Path.of("/proc/self/mountinfo"));
        List<Mount> mounts = new ArrayList<>();
        int start = 0;
        for (int i = 0; i <= table.length; i++) {
            if (i == table.length || table[i] == '\n') {
                if (i > start) {
                    Mount m = parse(Arrays.copyOfRange(table, start, i));
                    if (m != null) {
                        mounts.add(m);
                    }
                }
                start = i + 1;
            }
        }
        return mounts;
    }

    // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue"
    private static Mount parse(byte[] line) {
        List<byte[]> fields = new ArrayList<>();
        int start = 0;
        for (int i = 0; i <= line.length; i++) {
            if (i == line.length || line[i] == ' ') {
                fields.add(Arrays.copyOfRange(line, start, i));
                start = i + 1;
            }
        }
        int dash = -1;
        for (int i = 6; i < fields.size(); i++) {
            if (fields.get(i).length == 1 && fields.get(i)[0] == '-') {
                dash = i;
                break;
            }
        }
        if (dash < 0 || dash + 2 >= fields.size()) {
            return null;
        }
        String majorMinor = new String(fields.get(2), StandardCharsets.ISO_8859_1);
        int colon = majorMinor.indexOf(':');
        long dev;
        try {
            dev = (Long.parseLong(majorMinor.substring(0, colon)) << 32)
                    | Long.parseLong(majorMinor.substring(colon + 1));
        } catch (RuntimeException e) {
            return null;
        }
        return new Mount(unescape(fields.get(dash + 2)), unescape(fields.get(4)), unescape(fields.get(3)),
                new String(unescape(fields.get(dash + 1)), StandardCharsets.ISO_8859_1), dev);
    }

    // The table writes space, tab, newline and backslash as \ooo.
    private static byte[] unescape(byte[] s) {
        ByteArrayOutputStream out = new ByteArrayOutputStream(s.length);
        for (int i = 0; i < s.length; i++) {
            if (s[i] == '\\' && i + 3 < s.length && isOctal(s[i + 1]) && isOctal(s[i + 2]) && isOctal(s[i + 3])) {
                out.write(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0'));
                i += 3;
            } else {
                out.write(s[i]);
            }
        }
        return out.toByteArray();
    }

    private static boolean isOctal(byte b) {
        return b >= '0' && b <= '7';
    }

    /**
     * The device a path at each mount point shows: where several file systems
     * are mounted on the same directory, the last one mounted is the one seen.
     */
    static Map<String, Long> visibleDevices(List<Mount> mounts) {
        Map<String, Long> seen = new HashMap<>();
        for (Mount m : mounts) {
            seen.put(new String(m.dir, StandardCharsets.ISO_8859_1), m.dev);
        }
        return seen;
    }
}
