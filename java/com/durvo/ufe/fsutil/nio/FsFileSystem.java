package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.internal.names.NameBytes;
import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.Mount;
import java.io.IOException;
import java.nio.file.FileStore;
import java.nio.file.FileSystem;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.PathMatcher;
import java.nio.file.WatchService;
import java.nio.file.attribute.UserPrincipalLookupService;
import java.util.ArrayList;
import java.util.List;
import java.util.Objects;
import java.util.Set;
import java.util.regex.Pattern;

/**
 * The {@code fsstat} file system: the same files as the default one, named by
 * paths that hold their exact bytes, so that a path never names another file
 * whatever the locale. Get it with
 * {@code FileSystems.getFileSystem(URI.create("fsstat:///"))} or
 * {@link #get()}; make paths with {@link #getPath(String, String...)},
 * {@link #getPath(byte[])}, {@code Path.of(URI.create("fsstat:///tmp/caf%E9"))}
 * or {@link ChildFile#toPath()}, and use them with {@code java.nio.file.Files}.
 *
 * <p>A string from the library (a listed name, a path's {@code toString()})
 * reads back to the same bytes; {@link FileNames#toBytes(String)} says how a
 * string is read, and when it is refused because it could name another file.
 * As the JVM's default file system (see
 * {@link FsFileSystemProvider#FsFileSystemProvider(java.nio.file.spi.FileSystemProvider)})
 * strings are read and made as the JDK's own default provider does.
 *
 * <p>A {@code Path} of the default file system becomes one of this with the
 * same bytes through {@link #toFsPath(Path)}; the provider's operations, and
 * {@code resolve} or {@code relativize} with one of its paths, refuse any other
 * path with a {@link java.nio.file.ProviderMismatchException} that says so.
 * The empty path is the working directory, as on the default file system.
 *
 * <p>Each file store ({@code Files.getFileStore}, {@link #getFileStores()}) is
 * a {@link Mount} of the process's mount table: {@code name()} is the mounted
 * device or source, {@code type()} the file system type. Besides
 * {@code totalSpace}, {@code usableSpace} and {@code unallocatedSpace}, its
 * {@code getAttribute} gives each of the statistics by its name in
 * {@link com.durvo.ufe.fsutil.FileSysStatUnix}: {@code bsize}, {@code frsize},
 * {@code blocks}, {@code bfree}, {@code bavail}, {@code files},
 * {@code ffree}, {@code favail}, {@code fsid}, {@code flag} and
 * {@code namemax}, read afresh at each call. Each is a {@code Long} holding
 * the bits of the system's unsigned value: a value of 2<sup>63</sup> or more (an {@code fsid} often is, as ext4 derives it from
 * the volume's UUID) reads as negative, so read them with
 * {@link Long#toUnsignedString(long)} or {@link Long#compareUnsigned}.
 */
public final class FsFileSystem extends FileSystem {
    private final FsFileSystemProvider provider;
    private final FsPath root;

    FsFileSystem(FsFileSystemProvider provider) {
        this.provider = provider;
        this.root = new FsPath(this, new byte[] {'/'});
    }

    /**
     * The file system of the installed {@code fsstat} provider.
     *
     * @return the file system
     */
    public static FsFileSystem get() {
        return FsFileSystemProvider.installed().fileSystem();
    }

    FsPath root() {
        return root;
    }

    @Override
    public FsFileSystemProvider provider() {
        return provider;
    }

    /** As the default file system: it is always open and cannot be closed. */
    @Override
    public void close() {
        throw new UnsupportedOperationException("close: the fsstat file system is always open");
    }

    @Override
    public boolean isOpen() {
        return true;
    }

    @Override
    public boolean isReadOnly() {
        return false;
    }

    @Override
    public String getSeparator() {
        return "/";
    }

    @Override
    public Iterable<Path> getRootDirectories() {
        return List.of(root);
    }

    @Override
    public Iterable<FileStore> getFileStores() {
        List<FileStore> stores = new ArrayList<>();
        try {
            for (Mount m : Mount.all()) {
                stores.add(new FsFileStore(new FsPath(this, m.mountPointBytes()), m));
            }
        } catch (IOException e) {
            // As the default file system: no table, no stores.
        }
        return stores;
    }

    @Override
    public Set<String> supportedFileAttributeViews() {
        return Set.of("basic", "posix", "unix", "owner", "user", "dos");
    }

    /**
     * A path from strings, joined by {@code /} as the default file system
     * joins them, and read as the class description says.
     *
     * @param first the first part
     * @param more  further parts
     * @return the path
     * @throws InvalidPathException for a NUL or an unpaired surrogate; for a
     *                              string with no exact reading; for one whose
     *                              two readings name two existing files
     */
    @Override
    public Path getPath(String first, String... more) {
        Objects.requireNonNull(first, "first");
        String joined = first;
        if (more.length > 0) {
            StringBuilder sb = new StringBuilder(first);
            for (String part : more) {
                if (!part.isEmpty()) {
                    if (sb.length() > 0) {
                        sb.append('/');
                    }
                    sb.append(part);
                }
            }
            joined = sb.toString();
        }
        return new FsPath(this, provider.isDefault() ? jdkReading(joined) : FileNames.toBytes(joined));
    }

    /** A string's bytes as the JDK's own default provider reads it: in its file name charset, strictly. */
    private static byte[] jdkReading(String s) {
        if (s.indexOf('\0') >= 0) {
            throw new InvalidPathException(s, "Nul character not allowed");
        }
        try {
            java.nio.ByteBuffer b = NameBytes.jnuCharset().newEncoder()
                    .onMalformedInput(java.nio.charset.CodingErrorAction.REPORT)
                    .onUnmappableCharacter(java.nio.charset.CodingErrorAction.REPORT)
                    .encode(java.nio.CharBuffer.wrap(s));
            byte[] bytes = new byte[b.remaining()];
            b.get(bytes);
            return bytes;
        } catch (java.nio.charset.CharacterCodingException e) {
            throw new InvalidPathException(s, "Malformed input or input contains unmappable characters");
        }
    }

    /**
     * The path with exactly these bytes.
     *
     * @param path the bytes, without a NUL
     * @return the path
     * @throws InvalidPathException for a NUL byte
     */
    public Path getPath(byte[] path) {
        NameBytes.checkPath(path);
        return new FsPath(this, path.clone());
    }

    /**
     * The path of the {@code fsstat:} file system with the same bytes as {@code path}: a path of the default
     * file system becomes the bytes the JDK passes to the system for it (its string encoded as
     * {@code sun.jnu.encoding} says), a path of the {@code fsstat:} file system stays as it is. A relative
     * path stays relative, and the empty path empty. Use it where a {@code Path} of the default file system
     * meets one of this, as in {@code resolve} or {@code relativize}, which throw
     * {@link java.nio.file.ProviderMismatchException} for a path of another provider.
     *
     * @param path a path of the default or the {@code fsstat:} file system
     * @return a path of the {@code fsstat:} file system, naming the same file
     * @throws java.nio.file.ProviderMismatchException for a path of another file system
     */
    public static Path toFsPath(Path path) {
        Objects.requireNonNull(path, "path");
        return path instanceof FsPath ? path : new FsPath(get(), NameBytes.exactBytesOf(path));
    }

    /**
     * The exact bytes of a path of this file system.
     *
     * @param path a path of this file system
     * @return a new array
     * @throws java.nio.file.ProviderMismatchException for a path of another file system
     */
    public byte[] bytesOf(Path path) {
        return FsPath.of(path).exactBytes().clone();
    }

    /** {@code glob:} and {@code regex:} as the default file system reads them, matched against the path's string. */
    @Override
    public PathMatcher getPathMatcher(String syntaxAndPattern) {
        int colon = syntaxAndPattern.indexOf(':');
        if (colon <= 0) {
            throw new IllegalArgumentException();
        }
        String syntax = syntaxAndPattern.substring(0, colon);
        String pattern = syntaxAndPattern.substring(colon + 1);
        Pattern regex;
        if (syntax.equalsIgnoreCase("regex")) {
            regex = Pattern.compile(pattern);
        } else if (syntax.equalsIgnoreCase("glob")) {
            regex = Pattern.compile(Glob.toRegex(pattern));
        } else {
            throw new UnsupportedOperationException("Syntax '" + syntax + "' not recognized");
        }
        return path -> regex.matcher(path.toString()).matches();
    }

    @Override
    public UserPrincipalLookupService getUserPrincipalLookupService() {
        return FsPrincipals.LOOKUP;
    }

    @Override
    public WatchService newWatchService() throws IOException {
        return new FsWatchService(this);
    }

    /** Glob syntax as {@link java.nio.file.FileSystem#getPathMatcher} describes it, for names and paths. */
    static final class Glob {
        private Glob() {
        }

        static String toRegex(String glob) {
            StringBuilder re = new StringBuilder("^");
            boolean inGroup = false;
            for (int i = 0; i < glob.length(); i++) {
                char c = glob.charAt(i);
                switch (c) {
                    case '\\':
                        if (++i == glob.length()) {
                            throw new java.util.regex.PatternSyntaxException("No character to escape", glob, i - 1);
                        }
                        re.append(Pattern.quote(String.valueOf(glob.charAt(i))));
                        break;
                    case '*':
                        if (i + 1 < glob.length() && glob.charAt(i + 1) == '*') {
                            re.append(".*");
                            i++;
                        } else {
                            re.append("[^/]*");
                        }
                        break;
                    case '?':
                        re.append("[^/]");
                        break;
                    case '{':
                        if (inGroup) {
                            throw new java.util.regex.PatternSyntaxException("Cannot nest groups", glob, i);
                        }
                        re.append("(?:(?:");
                        inGroup = true;
                        break;
                    case '}':
                        if (inGroup) {
                            re.append("))");
                            inGroup = false;
                        } else {
                            re.append("\\}");
                        }
                        break;
                    case ',':
                        re.append(inGroup ? ")|(?:" : ",");
                        break;
                    case '[':
                        int end = glob.indexOf(']', i + 2);
                        if (end < 0) {
                            throw new java.util.regex.PatternSyntaxException("Missing ']'", glob, i);
                        }
                        String set = glob.substring(i + 1, end);
                        re.append("[[^/]&&[");
                        if (set.startsWith("!")) {
                            re.append('^');
                            set = set.substring(1);
                        }
                        for (char s : set.toCharArray()) {
                            re.append(s == '-' ? "-" : Pattern.quote(String.valueOf(s)).replace("\\Q", "").replace("\\E", "")
                                    .replaceAll("([\\[\\]\\\\^&])", "\\\\$1"));
                        }
                        re.append("]]");
                        i = end;
                        break;
                    default:
                        re.append(Pattern.quote(String.valueOf(c)));
                }
            }
            if (inGroup) {
                throw new java.util.regex.PatternSyntaxException("Missing '}'", glob, glob.length() - 1);
            }
            return re.append('$').toString();
        }
    }
}
