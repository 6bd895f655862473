package com.durvo.ufe.fsutil.tool;

import java.io.IOException;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Set;

/**
 * A command's options and operands, GNU style: short flags may be grouped
 * ({@code -la}), options may follow operands, {@code --} ends the options,
 * and a long option takes its value as {@code --name=V} or {@code --name V}.
 * Operands are kept as the bytes the user typed.
 */
final class Args {
    /** A command line the command does not accept; the message says what it cannot take. */
    static final class UsageException extends Exception {
        private static final long serialVersionUID = 1L;

        UsageException(String message) {
            super(message);
        }
    }

    final List<String> options = new ArrayList<>();
    final List<byte[]> operands = new ArrayList<>();
    private final List<String> values = new ArrayList<>();

    /**
     * Splits {@code args} (bytes) by the flags a command knows: {@code shortFlags}
     * letters, {@code longFlags} without a value, {@code longValued} with one.
     * Short flags are recorded as "-x", long ones as "--name".
     */
    static Args parse(List<byte[]> args, String shortFlags, Set<String> longFlags, Set<String> longValued)
            throws UsageException {
        Args parsed = new Args();
        boolean optionsEnded = false;
        for (int i = 0; i < args.size(); i++) {
            byte[] raw = args.get(i);
            if (optionsEnded || raw.length < 2 || raw[0] != '-') {
                parsed.operands.add(raw);
                continue;
            }
            String arg = new String(raw, StandardCharsets.ISO_8859_1);
            if (arg.equals("--")) {
                optionsEnded = true;
            } else if (arg.startsWith("--")) {
                int eq = arg.indexOf('=');
                String name = eq < 0 ? arg : arg.substring(0, eq);
                if (longValued.contains(name)) {
                    String value;
                    if (eq >= 0) {
                        value = arg.substring(eq + 1);
                    } else if (i + 1 < args.size()) {
                        value = new String(args.get(++i), StandardCharsets.ISO_8859_1);
                    } else {
                        throw new UsageException("option '" + name + "' requires an argument");
                    }
                    parsed.options.add(name);
                    parsed.values.add(value);
                } else if (longFlags.contains(name) && eq < 0) {
                    parsed.options.add(name);
                    parsed.values.add(null);
                } else {
                    throw new UsageException("unrecognized option '" + arg + "'");
                }
            } else {
                for (int k = 1; k < arg.length(); k++) {
                    char c = arg.charAt(k);
                    if (shortFlags.indexOf(c) < 0) {
                        throw new UsageException("invalid option -- '" + c + "'");
                    }
                    parsed.options.add("-" + c);
                    parsed.values.add(null);
                }
            }
        }
        return parsed;
    }

    boolean has(String... names) {
        for (String name : names) {
            if (options.contains(name)) {
                return true;
            }
        }
        return false;
    }

    /** The last given of these options, or null. */
    String last(String... names) {
        for (int i = options.size() - 1; i >= 0; i--) {
            if (Arrays.asList(names).contains(options.get(i))) {
                return options.get(i);
            }
        }
        return null;
    }

    /** The value of the last {@code name} option, or null. */
    String value(String name) {
        int at = options.lastIndexOf(name);
        return at < 0 ? null : values.get(at);
    }

    /**
     * The program's arguments as bytes. The JVM decodes its arguments and
     * replaces what the file-name charset cannot decode, so on Linux the bytes
     * come from /proc/self/cmdline, whose last entries are these arguments;
     * they are used only if each one decodes to what the JVM passed.
     */
    static List<byte[]> rawArguments(String[] args) {
        Charset jnu = Lookup.fileNameCharset();
        List<byte[]> fromJvm = new ArrayList<>(args.length);
        for (String arg : args) {
            fromJvm.add(arg.getBytes(jnu));
        }
        byte[] cmdline;
        try {
            cmdline = Files.readAllBytes(Path.of("/proc/self/cmdline"));
        } catch (IOException | RuntimeException e) {
            return fromJvm;
        }
        List<byte[]> entries = new ArrayList<>();
        int start = 0;
        for (int i = 0; i < cmdline.length; i++) {
            if (cmdline[i] == 0) {
                entries.add(Arrays.copyOfRange(cmdline, start, i));
                start = i + 1;
            }
        }
        if (entries.size() < args.length) {
            return fromJvm;
        }
        List<byte[]> raw = entries.subList(entries.size() - args.length, entries.size());
        for (int i = 0; i < args.length; i++) {
            if (!new String(raw.get(i), jnu).equals(args[i])) {
                return fromJvm;
            }
        }
        return new ArrayList<>(raw);
    }
}
