package com.durvo.ufe.fsutil.tool;

import java.nio.ByteBuffer;
import java.nio.CharBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.Charset;
import java.nio.charset.CharsetDecoder;
import java.nio.charset.CharsetEncoder;
import java.nio.charset.CoderResult;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.text.Normalizer;
import java.util.Arrays;

/**
 * How the tool shows a name's bytes, on a terminal and in a pipe alike. A
 * character of the locale's charset that shows as itself is written as itself;
 * a backslash is written {@code \\}; every other byte is written {@code \xNN}.
 * So the shown text can be read back into the one name it came from, and no
 * byte of a name reaches the terminal as a control.
 *
 * <p>Shown as bytes: what does not decode, controls (C0, DEL and C1), format
 * characters (bidirectional overrides, zero-width ones), separators other than
 * the space, private-use and unassigned code points, a combining mark with no
 * shown character to sit on, and every non-ASCII character of a name that is
 * not in Unicode's composed form (NFC), which would look like the composed
 * name ({@code e} + U+0301 beside U+00E9).
 */
public final class Names {
    /** The locale's charset, which the terminal shows; the JVM's default charset may be UTF-8 whatever the locale. */
    static final Charset CHARSET = localeCharset();
    // Decoding these and encoding back always gives the same bytes: no need to check each character.
    private static final boolean EXACT = CHARSET.equals(StandardCharsets.UTF_8)
            || CHARSET.equals(StandardCharsets.ISO_8859_1) || CHARSET.equals(StandardCharsets.US_ASCII);
    private static final char[] HEX = "0123456789ABCDEF".toCharArray();

    private Names() {
    }

    /**
     * Whether a name shows as its own bytes: printable ASCII without a
     * backslash, the common case, or a name that decodes whole into
     * characters that all show as themselves.
     */
    static boolean plain(byte[] bytes) {
        for (byte b : bytes) {
            if (b < 0x20 || b == 0x7F || b == '\\') {  // bytes from 0x80 are negative
                return b < 0 && EXACT && decodesToShown(bytes);
            }
        }
        return true;
    }

    private static boolean decodesToShown(byte[] bytes) {
        String decoded = new String(bytes, CHARSET);
        return allShow(decoded) && Normalizer.isNormalized(decoded, Normalizer.Form.NFC)
                && Arrays.equals(decoded.getBytes(CHARSET), bytes);
    }

    /** A name or path as the tool shows it. */
    static String shown(byte[] bytes) {
        if (plain(bytes)) {
            return new String(bytes, CHARSET);
        }
        boolean composed = Normalizer.isNormalized(new String(bytes, CHARSET), Normalizer.Form.NFC);
        CharsetDecoder decoder = CHARSET.newDecoder()
                .onMalformedInput(CodingErrorAction.REPORT).onUnmappableCharacter(CodingErrorAction.REPORT);
        CharsetEncoder encoder = EXACT ? null : CHARSET.newEncoder();
        StringBuilder shown = new StringBuilder(bytes.length + 16);
        ByteBuffer in = ByteBuffer.wrap(bytes);
        CharBuffer one = CharBuffer.allocate(2);
        boolean onShown = false;  // whether the last thing shown is a character a mark may sit on
        while (in.hasRemaining()) {
            int start = in.position();
            one.clear().limit(1);
            CoderResult result = decoder.decode(in, one, true);
            if (result.isOverflow() && one.position() == 0) {  // a supplementary character takes two chars
                one.limit(2);
                result = decoder.decode(in, one, true);
            }
            if (result.isError() && one.position() == 0) {  // otherwise reported again with the next call
                escape(shown, bytes, start, start + result.length());
                in.position(start + result.length());
                onShown = false;
                continue;
            }
            one.flip();
            int end = in.position();
            int cp = Character.codePointAt(one, 0);
            if (cp == '\\') {
                shown.append("\\\\");
                onShown = false;
            } else if ((cp < 0x80 || composed) && shows(cp, onShown) && encodesBack(encoder, one, bytes, start, end)) {
                shown.append(one);
                onShown = true;
            } else {
                escape(shown, bytes, start, end);
                onShown = false;
            }
        }
        return shown.toString();
    }

    /**
     * Text that is no longer bytes (a path in a message of the library): each
     * character that would not show as itself is written as its UTF-8 bytes.
     */
    static String visible(String text) {
        StringBuilder shown = new StringBuilder(text.length());
        boolean onShown = false;
        for (int i = 0; i < text.length(); i += Character.charCount(text.codePointAt(i))) {
            int cp = text.codePointAt(i);
            onShown = shows(cp, onShown);
            if (onShown) {
                shown.appendCodePoint(cp);
            } else {
                byte[] utf8 = new String(Character.toChars(cp)).getBytes(StandardCharsets.UTF_8);
                escape(shown, utf8, 0, utf8.length);
            }
        }
        return shown.toString();
    }

    private static boolean allShow(String s) {
        boolean onShown = false;
        for (int i = 0; i < s.length(); i += Character.charCount(s.codePointAt(i))) {
            int cp = s.codePointAt(i);
            onShown = cp != '\\' && shows(cp, onShown);
            if (!onShown) {
                return false;
            }
        }
        return true;
    }

    private static boolean shows(int cp, boolean onShown) {
        switch (Character.getType(cp)) {
            case Character.CONTROL:
            case Character.FORMAT:
            case Character.UNASSIGNED:
            case Character.PRIVATE_USE:
            case Character.SURROGATE:
            case Character.LINE_SEPARATOR:
            case Character.PARAGRAPH_SEPARATOR:
                return false;
            case Character.SPACE_SEPARATOR:
                return cp == ' ';
            case Character.NON_SPACING_MARK:
            case Character.ENCLOSING_MARK:
            case Character.COMBINING_SPACING_MARK:
                return onShown;
            default:
                return true;
        }
    }

    // In a charset where several byte sequences decode to one character, only the one it encodes to shows as it.
    private static boolean encodesBack(CharsetEncoder encoder, CharBuffer c, byte[] bytes, int start, int end) {
        if (encoder == null) {
            return true;
        }
        try {
            ByteBuffer back = encoder.reset().encode(c.duplicate());
            return back.equals(ByteBuffer.wrap(bytes, start, end - start));
        } catch (CharacterCodingException e) {
            return false;
        }
    }

    private static void escape(StringBuilder shown, byte[] bytes, int start, int end) {
        for (int i = start; i < end; i++) {
            shown.append("\\x").append(HEX[(bytes[i] >> 4) & 0xF]).append(HEX[bytes[i] & 0xF]);
        }
    }

    private static Charset localeCharset() {
        try {
            return Charset.forName(System.getProperty("native.encoding"));
        } catch (IllegalArgumentException | NullPointerException e) {  // unknown to this JVM, or no such property
            return Charset.defaultCharset();
        }
    }
}
