import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FolderListing;

import java.lang.reflect.InvocationTargetException;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Path;

/**
 * The installed jar as an application uses it, run with the jar alone on the
 * class path: "list DIR" prints DIR's names; "twice JAR DIR" lists DIR from
 * two class loaders that each load the jar, and prints how the second fared.
 */
public final class UseJar {
    public static void main(String[] args) throws Exception {
        if (args[0].equals("list")) {
            try (FolderListing listing = FolderListing.open(args[1])) {
                for (ChildFile f : listing) {
                    System.out.println(f.name());
                }
            }
            return;
        }
        URL jar = Path.of(args[1]).toUri().toURL();
        for (int i = 1; i <= 2; i++) {
            try (URLClassLoader loader = new URLClassLoader(new URL[] {jar}, ClassLoader.getPlatformClassLoader())) {
                Class<?> type = loader.loadClass("com.durvo.ufe.fsutil.FolderListing");
                try (AutoCloseable listing = (AutoCloseable) type.getMethod("open", String.class).invoke(null, args[2])) {
                    ((Iterable<?>) listing).iterator().hasNext();
                }
                System.out.println("loader " + i + ": listed");
            } catch (InvocationTargetException | LinkageError e) {
                Throwable failure = e instanceof InvocationTargetException ? e.getCause() : e;
                System.out.println("loader " + i + ": " + failure.getMessage());
            }
        }
    }
}
