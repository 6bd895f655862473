package com.durvo.ufe.fsutil.tool;

import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FolderListing;
import com.durvo.ufe.fsutil.nio.FsFileSystem;
import com.durvo.ufe.fsutil.FsFiles;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.Charset;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.NoSuchFileException;
import java.nio.file.NotDirectoryException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/** Files by the bytes of their paths: a directory's entries, one path's attributes, a link's target. */
final class Lookup {

    private Lookup() {
    }

    /** The entries of {@code dir}, in the order the file system gives them. */
    static List<Entry> list(byte[] dir) throws IOException {
        List<Entry> entries = new ArrayList<>();
        try (FolderListing listing = FolderListing.open(dir)) {
            for (ChildFile f : listing) {
                // A directory that may be read but not searched: ls shows no entry it cannot examine.
                IOException unexamined = f.attributeError();
                if (unexamined != null) {
                    throw unexamined;
                }
                entries.add(new Entry(f.nameBytes(), f));
            }
        } catch (UncheckedIOException e) {
            throw e.getCause();
        }
        return entries;
    }

    /** The attributes of {@code path} itself (a link is not followed), named {@code path}. */
    static Entry lstat(byte[] path) throws IOException {
        return new Entry(path, FsFiles.lstat(path));
    }

    /** The target of the symbolic link {@code path}, byte for byte. */
    static byte[] readLink(byte[] path) throws IOException {
        return FsFiles.readLinkBytes(path);
    }

    /** The absolute path with links resolved, by its exact bytes; the path as given where that fails. */
    static byte[] canonical(byte[] path) {
        FsFileSystem fs = FsFileSystem.get();
        try {
            return fs.bytesOf(fs.getPath(path).toRealPath());
        } catch (IOException e) {
            return path;
        }
    }

    /** {@code dir/name}, without doubling a slash that ends {@code dir}. */
    static byte[] join(byte[] dir, byte[] name) {
        boolean slash = dir.length > 0 && dir[dir.length - 1] == '/';
        byte[] joined = Arrays.copyOf(dir, dir.length + (slash ? 0 : 1) + name.length);
        if (!slash) {
            joined[dir.length] = '/';
        }
        System.arraycopy(name, 0, joined, joined.length - name.length, name.length);
        return joined;
    }

    static Charset fileNameCharset() {
        try {
            return Charset.forName(System.getProperty("sun.jnu.encoding"));
        } catch (RuntimeException e) {
            return Charset.defaultCharset();
        }
    }

    /** "cannot read directory 'DIR': reason", as du says it of a directory it cannot list. */
    static String unreadableDirectory(IOException e) {
        return "cannot read directory '" + Names.visible(String.valueOf(fileOf(e))) + "': " + reason(e);
    }

    /** "FILE: reason" of a failure that names its file, else its message. */
    static String failure(IOException e) {
        String where = fileOf(e);
        return where != null ? Names.visible(where) + ": " + reason(e) : Names.visible(String.valueOf(e.getMessage()));
    }

    private static String fileOf(IOException e) {
        return e instanceof FileSystemException f ? f.getFile() : null;
    }

    /** What went wrong, in the words the GNU tools use. */
    static String reason(IOException e) {
        if (e instanceof NoSuchFileException) {
            return "No such file or directory";
        }
        if (e instanceof NotDirectoryException) {
            return "Not a directory";
        }
        if (e instanceof AccessDeniedException) {
            return "Permission denied";
        }
        if (e instanceof FileSystemException && ((FileSystemException) e).getReason() != null) {
            return ((FileSystemException) e).getReason();
        }
        return String.valueOf(e.getMessage());
    }
}
