package com.durvo.ufe.fsutil.internal.engine;

import com.durvo.ufe.fsutil.ChildFile;
import java.util.Iterator;

/** A walk's iterator, which the stream's close ends. */
public interface Walk extends Iterator<ChildFile>, AutoCloseable {
    @Override
    void close();
}
