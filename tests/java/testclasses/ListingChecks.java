import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.FolderListing;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.TreeSet;
import java.util.stream.Collectors;

/** The Java API as a user calls it; each check returns what went wrong, or "". */
public final class ListingChecks {
    private ListingChecks() {
    }

    // Descriptors open on dir: the JVM opens files of its own at any time.
    private static long descriptors(String dir) {
        try (var fds = Files.list(Path.of("/proc/self/fd"))) {
            return fds.filter(fd -> {
                try {
                    return Files.readSymbolicLink(fd).equals(Path.of(dir));
                } catch (IOException e) {
                    return false;  // closed while listing
                }
            }).count();
        } catch (IOException e) {
            return -1;
        }
    }

    /** dir holds exactly the entries "a", "b", "c", all regular files of mode 0640, and the folder "d". */
    public static String iteration(String dir) {
        List<String> problems = new ArrayList<>();
        long before = descriptors(dir);
        TreeSet<String> names = new TreeSet<>();
        try (FolderListing listing = FolderListing.open(dir)) {
            for (ChildFile f : listing) {
                names.add(f.name());
                String expected = f.name().equals("d") ? "drwxr-x---" : "-rw-r-----";
                if (!f.modeString().equals(expected)) problems.add(f.name() + " mode " + f.modeString());
            }
        }
        if (!names.toString().equals("[a, b, c, d]")) problems.add("for-each gave " + names);
        if (descriptors(dir) != before) problems.add("for-each left a descriptor open");

        try (var stream = FolderListing.open(dir).stream()) {
            if (stream.limit(1).count() != 1) problems.add("stream gave no first entry");
        }
        if (descriptors(dir) != before) problems.add("closing a stream stopped early left a descriptor open");

        try (FolderListing listing = FolderListing.open(dir)) {
            for (ChildFile f : listing) throw new IllegalStateException(f.name());
        } catch (IllegalStateException expected) {
            // escaped from the loop
        }
        if (descriptors(dir) != before) problems.add("an exception out of the loop left a descriptor open");

        FolderListing once = FolderListing.open(dir);
        once.iterator();
        try {
            once.iterator();
            problems.add("a second iteration was allowed");
        } catch (IllegalStateException expected) {
            // one pass only
        }
        once.close();
        once.close();
        if (descriptors(dir) != before) problems.add("closing twice did not leave the listing closed");

        if (FolderListing.open(dir + "/no-such").stream().count() != 0) problems.add("a missing folder listed entries");
        return String.join("; ", problems);
    }

    /** The Java side turns every delivered name into its bytes and back to the same string. */
    public static String names(String dir) {
        try (FolderListing listing = FolderListing.open(dir)) {
            return listing.stream().filter(f -> !FileNames.fromBytes(FileNames.toBytes(f.name())).equals(f.name()))
                    .map(f -> FileNames.display(f.name())).collect(Collectors.joining(", "));
        }
    }
}
