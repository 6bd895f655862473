package com.durvo.ufe.fsutil;

import java.io.ByteArrayOutputStream;
import java.nio.ByteBuffer;
import java.nio.CharBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.Charset;
import java.nio.charset.CharsetDecoder;
import java.nio.charset.CoderResult;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.util.Arrays;

/**
 * File names between their bytes on disk and the strings that the library
 * delivers, for display and for use with the rest of Java.
 *
 * <p>A name whose bytes are valid in the default charset is delivered as those
 * characters. When the default charset is UTF-8, every byte of a name that is
 * not valid UTF-8 is delivered as the escape mark U+00B6 followed by the
 * character of the byte's value, and a mark that the name itself holds is
 * protected by escaping its two bytes. For example the Latin-1 name
 * {@code caf\xE9} (bytes 63 61 66 E9, not valid UTF-8) arrives as
 * {@code "caf\u00B6\u00E9"}:
 *
 * <pre>{@code
 * byte[] onDisk = FileNames.toBytes("caf\u00B6\u00E9");  // {0x63, 0x61, 0x66, (byte) 0xE9}
 * String shown = FileNames.display("caf\u00B6\u00E9");   // "caf\xE9"
 * String name = FileNames.fromBytes(onDisk);              // "caf\u00B6\u00E9" again
 * }</pre>
 *
 * With another default charset, a literal U+00B6 is doubled and a name that the
 * charset cannot carry arrives as ISO-8859-1 characters.
 */
public final class FileNames {
    private static final byte MARK = (byte) 0xB6;
    private static final byte MARK_LEAD = (byte) 0xC2;

    private FileNames() {
    }

    /** Whether names travel in UTF-8 mode: exactly when the default charset is UTF-8. */
    static boolean utf8Mode() {
        return StandardCharsets.UTF_8.equals(Charset.defaultCharset());
    }

    /**
     * The bytes on disk of a name delivered by the library (or passed back to
     * it). A name that the default charset cannot encode is taken as the
     * ISO-8859-1 form, as the library does when it looks for the file.
     */
    public static byte[] toBytes(String name) {
        Charset charset = Charset.defaultCharset();
        boolean utf8 = utf8Mode();
        if (charset.newEncoder().canEncode(name)) {
            return unescape(name.getBytes(charset), utf8, utf8);
        }
        return unescape(name.getBytes(StandardCharsets.ISO_8859_1), false, utf8);
    }

    /** The string the library delivers for a name with these bytes on disk. */
    public static String fromBytes(byte[] onDisk) {
        Charset charset = Charset.defaultCharset();
        boolean utf8 = utf8Mode();
        byte[] marked = utf8 ? escapeMarks(onDisk) : doubleMarks(onDisk);
        String plain = new String(marked, charset);
        if (Arrays.equals(plain.getBytes(charset), marked)) {
            return plain;
        }
        if (utf8) {
            byte[] escaped = escapeBytes(marked);
            if (escaped.length > marked.length) {
                return new String(escaped, charset);
            }
        }
        return new String(marked, StandardCharsets.ISO_8859_1);
    }

    /**
     * A delivered name for people to read: the characters of its bytes in the
     * default charset, with every byte that is not valid there, and every
     * control character, shown as {@code \xNN}.
     */
    public static String display(String name) {
        ByteBuffer in = ByteBuffer.wrap(toBytes(name));
        CharsetDecoder decoder = Charset.defaultCharset().newDecoder()
                .onMalformedInput(CodingErrorAction.REPORT).onUnmappableCharacter(CodingErrorAction.REPORT);
        CharBuffer out = CharBuffer.allocate(in.remaining() * 4 + 16);
        StringBuilder shown = new StringBuilder();
        while (true) {
            CoderResult result = decoder.decode(in, out, true);
            out.flip();
            appendVisible(shown, out);
            out.clear();
            if (result.isError()) {
                for (int i = 0; i < result.length(); i++) {
                    shown.append(String.format("\\x%02X", in.get() & 0xFF));
                }
            } else if (result.isUnderflow()) {
                break;
            }
        }
        return shown.toString();
    }

    /**
     * The path of a delivered name in a directory, for use with {@code java.nio}.
     *
     * @throws InvalidPathException when the name's bytes cannot be carried by
     *                              the charset Java uses for file names
     */
    public static Path resolve(Path dir, String name) {
        byte[] bytes = toBytes(name);
        Charset jnu = Charset.forName(System.getProperty("sun.jnu.encoding", Charset.defaultCharset().name()));
        try {
            String inJnu = jnu.newDecoder().decode(ByteBuffer.wrap(bytes)).toString();
            return dir.resolve(inJnu);
        } catch (CharacterCodingException e) {
            throw new InvalidPathException(display(name), "bytes not valid in " + jnu.name());
        }
    }

    private static void appendVisible(StringBuilder shown, CharBuffer chars) {
        while (chars.hasRemaining()) {
            char c = chars.get();
            if (c < 0x20 || c == 0x7F) {
                shown.append(String.format("\\x%02X", (int) c));
            } else {
                shown.append(c);
            }
        }
    }

    // The mark C2 B6 with at least one byte after it becomes mark+U+00C2, mark+U+00B6.
    private static byte[] escapeMarks(byte[] name) {
        ByteArrayOutputStream out = new ByteArrayOutputStream(name.length + 8);
        for (int i = 0; i < name.length; i++) {
            if (i < name.length - 2 && name[i] == MARK_LEAD && name[i + 1] == MARK) {
                out.writeBytes(new byte[] {MARK_LEAD, MARK, (byte) 0xC3, (byte) 0x82, MARK_LEAD, MARK, MARK_LEAD, MARK});
                i++;
            } else {
                out.write(name[i]);
            }
        }
        return out.toByteArray();
    }

    private static byte[] doubleMarks(byte[] name) {
        ByteArrayOutputStream out = new ByteArrayOutputStream(name.length + 8);
        for (byte b : name) {
            out.write(b);
            if (b == MARK) {
                out.write(b);
            }
        }
        return out.toByteArray();
    }

    // Every byte that begins no accepted sequence becomes the mark and the byte's character.
    private static byte[] escapeBytes(byte[] name) {
        ByteArrayOutputStream out = new ByteArrayOutputStream(name.length * 4);
        for (int i = 0; i < name.length;) {
            int n = sequenceLength(name, i);
            if (n > 0) {
                out.write(name, i, n);
                i += n;
            } else {
                int b = name[i] & 0xFF;
                out.writeBytes(new byte[] {MARK_LEAD, MARK, (byte) (0xC0 | (b >> 6)), (byte) (0x80 | (b & 0x3F))});
                i++;
            }
        }
        return out.toByteArray();
    }

    // The library's sequence rule: 1..3 bytes, second byte of a 3-byte sequence in A0..BF, no 4-byte sequences.
    private static int sequenceLength(byte[] s, int i) {
        int lead = s[i] & 0xFF;
        int left = s.length - i;
        if (lead < 0x80) {
            return 1;
        }
        if (lead < 0xC2 || lead > 0xEF) {
            return 0;
        }
        if (lead < 0xE0) {
            return left >= 2 && (s[i + 1] & 0xC0) == 0x80 ? 2 : 0;
        }
        return left >= 3 && (s[i + 1] & 0xE0) == 0xA0 && (s[i + 2] & 0xC0) == 0x80 ? 3 : 0;
    }

    private static byte[] unescape(byte[] s, boolean isUtfPath, boolean utf8) {
        int bound = utf8 ? 2 : 1;
        ByteArrayOutputStream out = new ByteArrayOutputStream(s.length);
        for (int i = 0; i < s.length;) {
            if (i < s.length - bound && isUtfPath && s[i] == MARK_LEAD && s[i + 1] == MARK) {
                i += 2;
                int n = i < s.length ? sequenceLength(s, i) : 0;
                if (n <= 1) {
                    out.writeBytes(new byte[] {MARK_LEAD, MARK});
                    if (i < s.length) {
                        out.write(s[i++]);
                    }
                } else {
                    int code = n == 2 ? ((s[i] & 0x1F) << 6) | (s[i + 1] & 0x3F)
                            : ((s[i] & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
                    out.write(code);
                    i += n;
                }
            } else if (i < s.length - bound && !isUtfPath && s[i] == MARK && s[i + 1] == MARK) {
                out.write(MARK);
                i += 2;
            } else {
                out.write(s[i++]);
            }
        }
        return out.toByteArray();
    }
}
