import com.durvo.ufe.fsutil.ChildFile;
import com.durvo.ufe.fsutil.FolderListing;

import java.io.FileInputStream;
import java.io.IOException;
import java.lang.reflect.InvocationTargetException;
import java.net.URL;
import java.nio.ByteBuffer;
import java.nio.channels.AsynchronousFileChannel;
import java.nio.charset.StandardCharsets;
import java.net.URLClassLoader;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.stream.Stream;

/**
 * The installed jar as an application uses it, run with the jar alone on the
 * class path: "list DIR" prints DIR's names; "mapped DIR" lists DIR and prints
 * the file the library is mapped from; "emfile DIR" lists DIR with no
 * descriptor left, then again after freeing them, and prints how each fared;
 * "twice JAR DIR" lists DIR from two class loaders that each load the jar, and
 * prints how each fared; "default DIR", with the provider as the JVM's default,
 * checks DIR/a.txt (the program's first file operation), probes its content
 * type, lists DIR and reads a.txt through an asynchronous channel.
 */
public final class UseJar {
    public static void main(String[] args) throws Exception {
        if (args[0].equals("list") || args[0].equals("mapped")) {
            list(args[1]);
            if (args[0].equals("mapped")) {
                for (String line : Files.readAllLines(Path.of("/proc/self/maps"))) {
                    if (line.contains("libfsstat")) {
                        System.out.println(line.substring(line.indexOf('/')));
                        break;
                    }
                }
            }
            return;
        }
        if (args[0].equals("default")) {
            asDefault(Path.of(args[1]));
            return;
        }
        if (args[0].equals("emfile")) {
            List<FileInputStream> held = new ArrayList<>();
            try {
                while (true) {
                    held.add(new FileInputStream("/dev/null"));
                }
            } catch (IOException e) {
                // no descriptor left
            }
            try {
                list(args[1]);
                System.out.println("first: listed");
            } catch (UnsatisfiedLinkError e) {
                held.get(0).close();  // room to print
                System.out.println("first: " + e.getMessage());
            }
            for (FileInputStream in : held) {
                in.close();
            }
            list(args[1]);
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

    private static void asDefault(Path dir) throws Exception {
        Path file = dir.resolve("a.txt");
        System.out.println("exists " + Files.exists(file) + " " + file.getFileSystem().provider().getClass().getName());
        String type;
        try {
            type = Files.probeContentType(file);
        } catch (ExceptionInInitializerError e) {
            type = "refused: " + e.getCause();
        }
        System.out.println("type " + type);
        try (Stream<Path> names = Files.list(dir)) {
            System.out.println("list " + names.map(p -> p.getFileName().toString()).sorted().toList());
        }
        try (AsynchronousFileChannel channel = AsynchronousFileChannel.open(file)) {
            ByteBuffer content = ByteBuffer.allocate(64);
            int n = channel.read(content, 0).get();
            System.out.println("async " + new String(content.array(), 0, n, StandardCharsets.US_ASCII));
        }
    }

    private static void list(String dir) throws IOException {
        try (FolderListing listing = FolderListing.open(dir)) {
            for (ChildFile f : listing) {
                System.out.println(f.name());
            }
        }
    }
}
