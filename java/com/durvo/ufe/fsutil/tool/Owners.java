package com.durvo.ufe.fsutil.tool;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.HashMap;
import java.util.Map;

/**
 * User and group names from /etc/passwd and /etc/group, read once when first
 * asked; the first line for an id names it, as getpwuid reads these files.
 */
final class Owners {
    private final String file;
    private Map<Integer, String> names;
    private int lastId = -1;
    private String lastName;

    private Owners(String file) {
        this.file = file;
    }

    static Owners users() {
        return new Owners("/etc/passwd");
    }

    static Owners groups() {
        return new Owners("/etc/group");
    }

    /** The name for {@code id}, or null when the file has none (or cannot be read). */
    String name(int id) {
        if (names == null) {
            names = read(Path.of(file));
        }
        if (id != lastId || lastName == null) {  // runs of one owner are the rule
            lastId = id;
            lastName = names.get(id);
        }
        return lastName;
    }

    // Lines of "name:password:id:...", read as bytes; a name is kept as it is shown.
    private static Map<Integer, String> read(Path path) {
        Map<Integer, String> names = new HashMap<>();
        String text;
        try {
            text = new String(Files.readAllBytes(path), StandardCharsets.ISO_8859_1);
        } catch (IOException e) {
            return names;
        }
        for (String line : text.split("\n")) {
            String[] fields = line.split(":", 4);
            if (fields.length < 3 || fields[0].isEmpty() || fields[0].startsWith("+") || fields[0].startsWith("-")) {
                continue;
            }
            try {
                int id = Integer.parseUnsignedInt(fields[2]);
                if (!names.containsKey(id)) {
                    names.put(id, Names.shown(fields[0].getBytes(StandardCharsets.ISO_8859_1)));
                }
            } catch (NumberFormatException e) {
                // not an entry
            }
        }
        return names;
    }
}
