/**
 * File-system statistics, directory listings and walks with every entry's
 * {@code lstat} attributes, and file names that survive any bytes, for Java on
 * Linux through the native library libfsstat.
 *
 * <h2>Statistics</h2>
 * The statistics ({@code statvfs}) of the file system holding a path, in one
 * call, and the process's mounts ({@link com.durvo.ufe.fsutil.Mount}), each
 * with its statistics:
 * <pre>{@code
 * FileSysStatUnix st = FileSystemStat.forCurrentOs().getFileSysStat("/var");
 * System.out.printf("%d of %d bytes available (%d%% used)%n",
 *         st.availableBytes(), st.totalBytes(), st.usedPercent());
 *
 * for (Mount m : Mount.all()) {
 *     System.out.println(m.mountPoint() + " " + m.type() + " " + m.statistics().usedPercent() + "%");
 * }
 * }</pre>
 *
 * <h2>Listing and walking</h2>
 * A {@link com.durvo.ufe.fsutil.FolderListing} delivers a directory's entries,
 * each a {@link com.durvo.ufe.fsutil.ChildFile} with its attributes already
 * read; {@link com.durvo.ufe.fsutil.FolderListing#walk(String)} goes through a
 * whole tree, depth first, never following symbolic links:
 * <pre>{@code
 * try (FolderListing listing = FolderListing.open("/var/log")) {
 *     for (ChildFile f : listing) {
 *         System.out.println(f.modeString() + " " + f.size() + " " + FileNames.display(f.name()));
 *     }
 * }
 *
 * try (Stream<ChildFile> files = FolderListing.walk("/usr/share", 4)) {
 *     long bytes = files.filter(f -> f.type() == ChildFile.Type.REGULAR).mapToLong(ChildFile::size).sum();
 * }
 * }</pre>
 *
 * <h2>Names</h2>
 * Every name reaches Java as a {@code String}, also one whose bytes are not
 * valid in the default charset, and that string leads back to the same file.
 * {@link com.durvo.ufe.fsutil.FileNames} turns such a name into the bytes on
 * disk and back, and into a readable form for messages:
 * <pre>{@code
 * String name = child.name();                 // "caf\u00B6\u00E9" for the Latin-1 bytes "caf\xE9" under UTF-8
 * byte[] onDisk = FileNames.toBytes(name);     // 63 61 66 E9
 * String shown = FileNames.display(name);      // "caf\xE9"
 * }</pre>
 *
 * <h2>Paths that keep their bytes: the {@code fsstat:} file system</h2>
 * {@link com.durvo.ufe.fsutil.nio.FsFileSystem} is a {@code java.nio.file} file
 * system over the same files whose {@code Path} holds a name's exact bytes,
 * so every {@code Files} operation reaches the file the name names, whatever
 * the locale:
 * <pre>{@code
 * Path p = Path.of(URI.create("fsstat:///tmp/caf%E9"));  // the bytes 63 61 66 E9
 * Files.writeString(p, "latin-1 name");
 * try (Stream<Path> s = Files.list(p.getParent())) { ... }  // each entry's exact bytes
 * Path q = child.toPath();                                  // a listed entry's
 * }</pre>
 *
 * <h2>Loading the native library</h2>
 * The jar carries libfsstat for the platforms it was built for and loads it
 * by itself: the first use extracts it into a directory of the user's own
 * ({@code $XDG_CACHE_HOME/fsstat}, else {@code ~/.cache/fsstat}, else
 * {@code fsstat-USER} in the temporary directory) after checking the jar's
 * copy against the SHA-256 the jar carries, reads the written copy back
 * through its own descriptor, removes its name, and loads that open file
 * ({@code /proc/self/fd/N}), so what is loaded is what was checked. Two
 * system properties change this:
 * <ul>
 * <li>{@code fsstat.library.path}: the full path of a {@code libfsstat.so} to
 * load instead, for example an installed one;</li>
 * <li>{@code fsstat.cache.dir}: the directory to extract into, for example
 * when the default one is on a file system mounted {@code noexec}. It must
 * belong to the user and be closed to everyone else.</li>
 * </ul>
 * Without a library for the running platform in the jar, the library is
 * looked for on {@code java.library.path}. A library belongs to one class
 * loader: load these classes once per JVM, from a class loader that every user
 * of them shares. On JDK 24 and later, an application that puts the jar on its
 * class path passes {@code --enable-native-access=ALL-UNNAMED}.
 */
package com.durvo.ufe.fsutil;
