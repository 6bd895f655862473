/**
 * fsstat: file-system statistics, directory listings and walks with every
 * entry's attributes, names as their exact bytes, the {@code fsstat:} file
 * system over the same files, and snapshots of trees with their changes. The engine, the natives and the library
 * loader are internal; the jar works on the class path as well.
 */
module com.durvo.ufe.fsutil {
    exports com.durvo.ufe.fsutil;
    exports com.durvo.ufe.fsutil.nio;
    exports com.durvo.ufe.fsutil.change;

    provides java.nio.file.spi.FileSystemProvider with com.durvo.ufe.fsutil.nio.FsFileSystemProvider;
}
