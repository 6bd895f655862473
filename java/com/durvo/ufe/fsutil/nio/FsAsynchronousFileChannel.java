package com.durvo.ufe.fsutil.nio;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.channels.AsynchronousCloseException;
import java.nio.channels.AsynchronousFileChannel;
import java.nio.channels.ClosedChannelException;
import java.nio.channels.CompletionHandler;
import java.nio.channels.FileChannel;
import java.nio.channels.FileLock;
import java.nio.channels.NonReadableChannelException;
import java.nio.channels.NonWritableChannelException;
import java.nio.file.OpenOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.FileAttribute;
import java.util.Objects;
import java.util.Set;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;

/**
 * An asynchronous channel over the provider's {@link FileChannel}, as the JDK
 * makes one on Unix: each read, write and lock runs as a task on the executor
 * (the one given, else a shared pool of daemon threads) and completes its
 * future or calls its handler on that thread.
 */
final class FsAsynchronousFileChannel extends AsynchronousFileChannel {
    private final FileChannel channel;
    private final boolean reading;
    private final boolean writing;
    private final ExecutorService executor;

    /** Made on first use: a program that never opens such a channel starts no pool. */
    private static final class DefaultExecutor {
        static final ExecutorService POOL = Executors.newCachedThreadPool(task -> {
            Thread t = new Thread(task, "fsstat-async-file");
            t.setDaemon(true);
            return t;
        });
    }

    private FsAsynchronousFileChannel(FileChannel channel, boolean reading, boolean writing, ExecutorService executor) {
        this.channel = channel;
        this.reading = reading;
        this.writing = writing;
        this.executor = executor == null ? DefaultExecutor.POOL : executor;
    }

    static AsynchronousFileChannel open(FsPlace place, Set<? extends OpenOption> options, ExecutorService executor,
            FileAttribute<?>... attrs) throws IOException {
        if (options.contains(StandardOpenOption.APPEND)) {
            throw new UnsupportedOperationException("APPEND not allowed");
        }
        boolean writing = options.contains(StandardOpenOption.WRITE);
        boolean reading = options.contains(StandardOpenOption.READ) || !writing;
        FileChannel channel = FsChannels.open(place, options, attrs);
        return new FsAsynchronousFileChannel(channel, reading, writing, executor);
    }

    /** One step of a task: the file channel's call. */
    private interface Step<V> {
        V run() throws IOException;
    }

    /** Runs step on the executor, its result or failure handed to handler. */
    private <V, A> void submit(Step<V> step, A attachment, CompletionHandler<V, ? super A> handler) {
        if (!channel.isOpen()) {
            executor.execute(() -> handler.failed(new ClosedChannelException(), attachment));
            return;
        }
        executor.execute(() -> {
            // An interrupt pending on the executor's thread would close the file channel for every
            // other user of this one: it is put aside for the step, and back after.
            boolean interrupted = Thread.interrupted();
            V result;
            try {
                result = step.run();
            } catch (ClosedChannelException e) {
                handler.failed(e instanceof AsynchronousCloseException ? e : new AsynchronousCloseException(), attachment);
                return;
            } catch (Throwable e) {
                handler.failed(e, attachment);
                return;
            } finally {
                if (interrupted) {
                    Thread.currentThread().interrupt();
                }
            }
            handler.completed(result, attachment);
        });
    }

    /** {@link #submit} with a future, which cancelling does not interrupt (that would close the channel). */
    private <V> Future<V> submit(Step<V> step) {
        CompletableFuture<V> future = new CompletableFuture<>();
        submit(step, null, new CompletionHandler<V, Void>() {
            @Override
            public void completed(V result, Void attachment) {
                future.complete(result);
            }

            @Override
            public void failed(Throwable e, Void attachment) {
                future.completeExceptionally(e);
            }
        });
        return future;
    }

    private void checkRead(ByteBuffer dst, long position) {
        if (position < 0) {
            throw new IllegalArgumentException("Negative position");
        }
        if (!reading) {
            throw new NonReadableChannelException();
        }
        if (dst.isReadOnly()) {
            throw new IllegalArgumentException("Read-only buffer");
        }
    }

    private void checkWrite(ByteBuffer src, long position) {
        if (position < 0) {
            throw new IllegalArgumentException("Negative position");
        }
        if (!writing) {
            throw new NonWritableChannelException();
        }
        Objects.requireNonNull(src, "src");
    }

    private void checkLock(long position, long size, boolean shared) {
        if (position < 0 || size < 0 || position + size < 0) {
            throw new IllegalArgumentException("Negative position or size");
        }
        if (shared && !reading) {
            throw new NonReadableChannelException();
        }
        if (!shared && !writing) {
            throw new NonWritableChannelException();
        }
    }

    @Override
    public <A> void read(ByteBuffer dst, long position, A attachment, CompletionHandler<Integer, ? super A> handler) {
        checkRead(dst, position);
        submit(() -> channel.read(dst, position), attachment, handler);
    }

    @Override
    public Future<Integer> read(ByteBuffer dst, long position) {
        checkRead(dst, position);
        return submit(() -> channel.read(dst, position));
    }

    @Override
    public <A> void write(ByteBuffer src, long position, A attachment, CompletionHandler<Integer, ? super A> handler) {
        checkWrite(src, position);
        submit(() -> channel.write(src, position), attachment, handler);
    }

    @Override
    public Future<Integer> write(ByteBuffer src, long position) {
        checkWrite(src, position);
        return submit(() -> channel.write(src, position));
    }

    @Override
    public <A> void lock(long position, long size, boolean shared, A attachment,
            CompletionHandler<FileLock, ? super A> handler) {
        checkLock(position, size, shared);
        submit(() -> new Lock(channel.lock(position, size, shared)), attachment, handler);
    }

    @Override
    public Future<FileLock> lock(long position, long size, boolean shared) {
        checkLock(position, size, shared);
        return submit(() -> new Lock(channel.lock(position, size, shared)));
    }

    @Override
    public FileLock tryLock(long position, long size, boolean shared) throws IOException {
        checkLock(position, size, shared);
        FileLock held = channel.tryLock(position, size, shared);
        return held == null ? null : new Lock(held);
    }

    /** The file channel's lock, acquired by this channel. */
    private final class Lock extends FileLock {
        private final FileLock held;

        Lock(FileLock held) {
            super(FsAsynchronousFileChannel.this, held.position(), held.size(), held.isShared());
            this.held = held;
        }

        @Override
        public boolean isValid() {
            return held.isValid();
        }

        @Override
        public void release() throws IOException {
            held.release();
        }
    }

    @Override
    public long size() throws IOException {
        return channel.size();
    }

    @Override
    public AsynchronousFileChannel truncate(long size) throws IOException {
        channel.truncate(size);
        return this;
    }

    @Override
    public void force(boolean metaData) throws IOException {
        channel.force(metaData);
    }

    @Override
    public boolean isOpen() {
        return channel.isOpen();
    }

    @Override
    public void close() throws IOException {
        channel.close();
    }
}
