/** A child object the library cannot deliver into: it has no setBasic. */
public final class NoSetBasic {
    public void setBasic(String name) {
    }
}
