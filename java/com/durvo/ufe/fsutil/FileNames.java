package com.durvo.ufe.fsutil;

import com.durvo.ufe.fsutil.internal.names.NameBytes;
import com.durvo.ufe.fsutil.nio.FsFileSystem;
import java.nio.ByteBuffer;
import java.nio.CharBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.Charset;
import java.nio.charset.CharsetDecoder;
import java.nio.charset.CoderResult;
import java.nio.charset.CodingErrorAction;
import java.nio.file.InvalidPathException;
import java.nio.file.FileSystems;
import java.nio.file.Path;

/**
 * File names between their bytes on disk and the strings the library
 * delivers, for display and for use with the rest of Java. Both directions
 * are the library's own conversion.
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
 * String name = FileNames.fromBytes(new byte[] {0x63, 0x61, 0x66, (byte) 0xE9});  // "caf\u00B6\u00E9"
 * String shown = FileNames.display(name);                                          // "caf\xE9"
 * }</pre>
 *
 * With another default charset, a literal U+00B6 is doubled and a name that the
 * charset cannot carry arrives as ISO-8859-1 characters.
 */
public final class FileNames {
    private FileNames() {
    }

    /**
     * The bytes a name or path given as a string stands for. A string has up
     * to two readings: its bytes in the default charset (the library's
     * escapes undone), taken only when the charset carries every character,
     * and its ISO-8859-1 bytes, taken only when every character is in
     * ISO-8859-1. When only one names an existing file (a relative path counts
     * from the working directory), that one is taken; when neither does, the
     * first, so that a new file gets the name the string spells. When both
     * name existing files that are not the same file, the one for which the
     * library delivers this very string is taken, and where it delivers it for
     * both, the string is refused: it could reach another file than the one
     * it was delivered for. Under UTF-8 a string that carries an escape has
     * look-alikes too: the system's decoder reads an encoded surrogate as
     * U+FFFD, so the library delivers the same string for a name with U+FFFD's
     * bytes and for one with an encoded surrogate in their place; the same
     * rule holds among them. A {@link ChildFile} knows its exact bytes: prefer
     * {@link ChildFile#nameBytes()}.
     *
     * @param name a name or path as the library delivers it
     * @return the bytes on disk
     * @throws InvalidPathException for a NUL character or an unpaired
     *                              surrogate; for a string with no exact
     *                              reading; for one whose two readings name
     *                              two existing files
     */
    public static byte[] toBytes(String name) {
        return NameBytes.toBytes(name);
    }

    /**
     * The string the library delivers for a name or path with these bytes.
     *
     * @param onDisk the bytes, without a NUL
     * @return the library's string for them
     * @throws InvalidPathException for a NUL byte
     */
    public static String fromBytes(byte[] onDisk) {
        NameBytes.checkPath(onDisk);
        return NameBytes.string(onDisk, 0, onDisk.length);
    }

    /**
     * A delivered name for people to read: the characters of its bytes in the
     * default charset, with every byte that is not valid there, and every
     * control character, shown as {@code \xNN}.
     *
     * @param name a name or path as the library delivers it
     * @return the readable form
     */
    public static String display(String name) {
        return display(toBytes(name));
    }

    /**
     * Bytes of a name or path for people to read, as {@link #display(String)}.
     *
     * @param bytes the bytes on disk
     * @return the readable form
     */
    public static String display(byte[] bytes) {
        // Most names decode whole and hold no control character, and then are
        // their decoded string, which encodes back to the same bytes.
        Charset charset = Charset.defaultCharset();
        String plain = new String(bytes, charset);
        if (isVisible(plain) && java.util.Arrays.equals(plain.getBytes(charset), bytes)) {
            return plain;
        }
        ByteBuffer in = ByteBuffer.wrap(bytes);
        CharsetDecoder decoder = charset.newDecoder()
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
     * A {@link Path} for a name or path, only when it names the same file.
     * {@code java.io} and {@code java.nio} turn a string into a file name's
     * bytes with the charset of {@code sun.jnu.encoding}, which cannot carry
     * every name: the Latin-1 name {@code caf\xE9} arrives from the library as
     * {@code "caf\u00B6\u00E9"} when the default charset is UTF-8, and
     * {@code Path.of} of that string is the UTF-8 name {@code caf\xC2\xB6\xC3\xA9},
     * another file or none. This method takes the name's bytes as the library
     * reads them and gives a {@code Path} only when those bytes decode in that
     * charset and encode back to themselves. With the {@code fsstat:} provider
     * as the JVM's default file system every name has one.
     *
     * @param name a name or path as the library delivers it
     * @return the path, naming the same file
     * @throws InvalidPathException when no {@code Path} has the name's bytes,
     *                              saying so and what to use instead; for a NUL
     *                              or an unpaired surrogate
     */
    public static Path toPath(String name) {
        return pathOf(toBytes(name));
    }

    /**
     * {@link #toPath(String)} for a name or path given by its bytes.
     *
     * @param bytes the bytes on disk
     * @return the path, naming the same file
     * @throws InvalidPathException when no {@code Path} has these bytes; for a NUL byte
     */
    public static Path toPath(byte[] bytes) {
        NameBytes.checkPath(bytes);
        return pathOf(bytes);
    }

    private static Path pathOf(byte[] bytes) {
        if (FileSystems.getDefault() instanceof FsFileSystem fs) {
            return fs.getPath(bytes);  // this provider is the default: its paths are bytes
        }
        Charset jnu = NameBytes.jnuCharset();
        try {
            String inJnu = jnu.newDecoder().decode(ByteBuffer.wrap(bytes)).toString();
            ByteBuffer back = jnu.newEncoder().encode(CharBuffer.wrap(inJnu));
            if (back.equals(ByteBuffer.wrap(bytes))) {
                return Path.of(inJnu);
            }
        } catch (CharacterCodingException e) {
            // refused below
        }
        throw new InvalidPathException(display(bytes), "its bytes are not a name in " + jnu.name()
                + ", the charset java.io and java.nio use for file names (sun.jnu.encoding), so a Path would name"
                + " another file or none; use the library's name or bytes with FsFiles, FolderListing or"
                + " FileSystemStat instead");
    }

    private static boolean isVisible(String s) {
        for (int i = 0; i < s.length(); i++) {
            char c = s.charAt(i);
            if (c < 0x20 || c == 0x7F) {
                return false;
            }
        }
        return true;
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
}
