package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.internal.natives.NativeConstants;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import java.io.IOException;

/**
 * Where an operation reaches a file: a path from the working directory, or
 * a name in an open directory (of a {@link FsDirectoryStream}), which reaches
 * it whatever the length of the whole path and however the directories above
 * are renamed meanwhile.
 */
abstract class FsPlace {
    /** A system call on a directory descriptor (or {@link Natives#CWD}) and a path relative to it. */
    interface Call<T> {
        T apply(int dfd, byte[] path) throws NativeErrno;
    }

    /** What a failed call becomes, given the file's display form. */
    interface Failure {
        IOException of(NativeErrno e, String file);
    }

    /** What {@code c} gives here; a failure as the exception that names {@link #display()}. */
    <T> T call(Call<T> c) throws IOException {
        return call(c, NativeErrno::forFile);
    }

    /** {@link #call(Call)}, a failure made into an exception by {@code failure}. */
    abstract <T> T call(Call<T> c, Failure failure) throws IOException;

    /** The file's path for messages, in display form. */
    abstract String display();

    /** The file's path as the library's string (see {@link FsPath#toString}). */
    @Override
    public abstract String toString();

    static FsPlace of(FsPath path) {
        return new FsPlace() {
            @Override
            <T> T call(Call<T> c, Failure failure) throws IOException {
                try {
                    return c.apply(NativeConstants.CWD, path.bytes());
                } catch (NativeErrno e) {
                    throw failure.of(e, path.display());
                }
            }

            @Override
            String display() {
                return path.display();
            }

            @Override
            public String toString() {
                return path.toString();
            }
        };
    }
}
