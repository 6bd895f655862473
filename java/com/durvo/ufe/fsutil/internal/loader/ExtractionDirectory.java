package com.durvo.ufe.fsutil.internal.loader;

import static com.durvo.ufe.fsutil.internal.loader.NativeLibrary.failure;
import static com.durvo.ufe.fsutil.internal.loader.NativeLibrary.ioFix;
import static com.durvo.ufe.fsutil.internal.loader.NativeLibrary.jdkPath;

import java.io.IOException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFileAttributes;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.HexFormat;
import java.util.Set;
import java.util.concurrent.ThreadLocalRandom;

/**
 * An owner-only directory to write the library's copy in: the one chosen by
 * {@value NativeLibrary#CACHE_PROPERTY}, else the user's cache directory, else
 * one of the user's own in the temporary directory. {@code temporary}: made
 * for this load alone; {@code fix}: what a failure there tells the user to do.
 */
record ExtractionDirectory(Path dir, boolean temporary, String fix) {
    static final Set<PosixFilePermission> OWNER_ONLY = PosixFilePermissions.fromString("rwx------");

    // The chosen or default directory, created owner-only if missing. A default in the shared
    // temporary directory that someone else made first is passed over for a fresh one of our own.
    static ExtractionDirectory find() {
        String chosen = System.getProperty(NativeLibrary.CACHE_PROPERTY);
        String own = "set -D" + NativeLibrary.CACHE_PROPERTY + " to a directory of your own";
        if (chosen != null && !chosen.isEmpty()) {
            Path dir = jdkPath(chosen).toAbsolutePath();
            create(dir, "choose another -D" + NativeLibrary.CACHE_PROPERTY);
            return new ExtractionDirectory(dir, false, "choose another -D" + NativeLibrary.CACHE_PROPERTY);
        }
        String xdg = System.getenv("XDG_CACHE_HOME");
        Path home = jdkPath(System.getProperty("user.home", "?"));
        if (xdg != null && xdg.startsWith("/") || home.isAbsolute() && Files.isWritable(home)) {
            Path dir = xdg != null && xdg.startsWith("/") ? jdkPath(xdg, "fsstat") : home.resolve(".cache").resolve("fsstat");
            create(dir, own);
            return new ExtractionDirectory(dir, false, own);
        }
        Path tmp = jdkPath(System.getProperty("java.io.tmpdir"));
        Path dir = tmp.resolve("fsstat-" + currentUser());
        create(dir, own);
        try {
            PosixFileAttributes attributes = Files.readAttributes(dir, PosixFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
            if (attributes.isDirectory() && attributes.owner().getName().equals(currentUser())
                    && OWNER_ONLY.containsAll(attributes.permissions())) {
                return new ExtractionDirectory(dir, false, own);
            }
            // Not Files.createTempDirectory: its SecureRandom starts the JDK's security set-up (see
            // Sha256). A name someone else took first is passed over; mkdir makes ours or fails.
            for (int attempt = 0;; attempt++) {
                Path fresh = tmp.resolve("fsstat-" + currentUser() + "-"
                        + HexFormat.of().toHexDigits(ThreadLocalRandom.current().nextLong()));
                try {
                    return new ExtractionDirectory(
                            Files.createDirectory(fresh, PosixFilePermissions.asFileAttribute(OWNER_ONLY)), true, own);
                } catch (FileAlreadyExistsException e) {
                    if (attempt == NativeLibrary.ATTEMPTS) {
                        throw e;
                    }
                }
            }
        } catch (IOException | UnsupportedOperationException e) {
            throw failure("cannot make a directory of your own in " + tmp + " to extract libfsstat into (" + e + ")"
                    + ioFix(e, own), e);
        }
    }

    private static void create(Path dir, String fix) {
        try {
            if (dir.getParent() != null) {
                Files.createDirectories(dir.getParent());
            }
            Files.createDirectory(dir, PosixFilePermissions.asFileAttribute(OWNER_ONLY));
        } catch (FileAlreadyExistsException e) {
            // made earlier, by us or by someone else: opening it tells
        } catch (IOException | UnsupportedOperationException e) {
            throw failure("cannot create the directory " + dir + " to extract libfsstat into (" + e + ")"
                    + ioFix(e, fix), e);
        }
    }

    /** Refuses this directory, whose attributes are given, unless it is this process's user's and nobody else's. */
    void checkOwnerOnly(PosixFileAttributes attributes) {
        if (!attributes.isDirectory()) {
            throw failure(dir + " is not a directory, so libfsstat cannot be extracted there; " + fix, null);
        }
        String user = currentUser();
        String owner = attributes.owner().getName();
        if (!owner.equals(user) || !OWNER_ONLY.containsAll(attributes.permissions())) {
            throw failure("refusing to load libfsstat from " + dir + ": it belongs to " + owner + " with permissions "
                    + PosixFilePermissions.toString(attributes.permissions()) + ", so others could replace the"
                    + " library; " + (owner.equals(user) ? "chmod 700 it, or " : "") + fix, null);
        }
    }

    // The process's own user as the file system names owners: /proc/self belongs to it. A
    // container user without a passwd entry has no user.name, but owns its /proc/self.
    private static String currentUser() {
        try {
            return Files.getOwner(jdkPath("/proc/self")).getName();
        } catch (IOException | UnsupportedOperationException e) {
            return System.getProperty("user.name");
        }
    }
}
