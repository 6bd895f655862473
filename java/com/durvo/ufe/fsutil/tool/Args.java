package com.durvo.ufe.fsutil.tool;

import com.durvo.ufe.fsutil.WalkOptions;
import java.io.IOException;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * A command's options and operands, GNU style: short flags may be grouped
 * ({@code -la}), options may follow operands, {@code --} ends the options, a
 * long option may be shortened to any prefix that no other one shares
 * ({@code --almost} for {@code --almost-all}), and one that takes a value
 * takes it as {@code --name=V} or {@code --name V}. Operands are kept as the
 * bytes the user typed.
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
     * Splits {@code args} (bytes) by the options a command knows: {@code shortFlags}
     * letters (one followed by ':' takes a value, as for getopt), and
     * {@code longOptions} ("--name", or "--name=" for one that takes a value)
     * in the order an ambiguous prefix lists them. Options are recorded as
     * "-x" and "--name", by their full name.
     */
    static Args parse(List<byte[]> args, String shortFlags, List<String> longOptions) throws UsageException {
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
                String option = longOption(eq < 0 ? arg : arg.substring(0, eq), longOptions, raw);
                boolean valued = option.endsWith("=");
                String name = valued ? option.substring(0, option.length() - 1) : option;
                String value = null;
                if (eq >= 0 && !valued) {
                    throw new UsageException("option '" + name + "' doesn't allow an argument");
                } else if (eq >= 0) {
                    value = arg.substring(eq + 1);
                } else if (valued && i + 1 < args.size()) {
                    value = new String(args.get(++i), StandardCharsets.ISO_8859_1);
                } else if (valued) {
                    throw new UsageException("option '" + name + "' requires an argument");
                }
                parsed.options.add(name);
                parsed.values.add(value);
            } else {
                for (int k = 1; k < raw.length; k++) {
                    char c = arg.charAt(k);
                    int at = c == ':' ? -1 : shortFlags.indexOf(c);
                    if (at < 0) {
                        throw new UsageException("invalid option -- '" + Names.shown(new byte[] {raw[k]}) + "'");
                    }
                    parsed.options.add("-" + c);
                    boolean valued = at + 1 < shortFlags.length() && shortFlags.charAt(at + 1) == ':';
                    if (!valued) {
                        parsed.values.add(null);
                    } else if (k + 1 < raw.length) {  // "-oFILE"
                        parsed.values.add(arg.substring(k + 1));
                        break;
                    } else if (i + 1 < args.size()) {
                        parsed.values.add(new String(args.get(++i), StandardCharsets.ISO_8859_1));
                    } else {
                        throw new UsageException("option requires an argument -- '" + c + "'");
                    }
                }
            }
        }
        return parsed;
    }

    // The option that "--name" stands for: its exact name, or the one option it is a prefix of.
    private static String longOption(String name, List<String> longOptions, byte[] raw) throws UsageException {
        List<String> candidates = new ArrayList<>();
        for (String option : longOptions) {
            String bare = option.endsWith("=") ? option.substring(0, option.length() - 1) : option;
            if (bare.equals(name)) {
                return option;
            }
            if (bare.startsWith(name)) {
                candidates.add(option);
            }
        }
        if (candidates.size() == 1) {
            return candidates.get(0);
        }
        if (candidates.isEmpty()) {
            throw new UsageException("unrecognized option '" + Names.shown(raw) + "'");
        }
        StringBuilder message = new StringBuilder("option '").append(Names.shown(raw))
                .append("' is ambiguous; possibilities:");
        for (String option : candidates) {
            message.append(" '").append(option.replace("=", "")).append('\'');
        }
        throw new UsageException(message.toString());
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

    /** The number of threads {@code --threads} asks for, else {@code otherwise}. */
    int threads(int otherwise) throws UsageException {
        String value = value("--threads");
        if (value == null) {
            return otherwise;
        }
        int threads;
        try {
            threads = Integer.parseInt(value);
        } catch (NumberFormatException e) {
            threads = 0;
        }
        if (threads < 1 || threads > WalkOptions.MAX_THREADS) {
            String shown = Names.shown(value.getBytes(StandardCharsets.ISO_8859_1));
            throw new UsageException("invalid number of threads: '" + shown + "' (from 1 to "
                    + WalkOptions.MAX_THREADS + ")");
        }
        return threads;
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
