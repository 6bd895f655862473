/** Keeps the test class path non-empty while it lacks the library's classes. */
public final class Empty {
    private Empty() {
    }
}
