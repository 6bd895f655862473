package com.durvo.ufe.fsutil.bench;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.nio.charset.StandardCharsets;

/** The floor program, serving one command per line. */
final class Floor implements AutoCloseable {
    private final Process process;
    private final Writer in;
    private final BufferedReader out;

    Floor(String program) throws IOException {
        process = new ProcessBuilder(program).redirectError(ProcessBuilder.Redirect.INHERIT).start();
        in = new OutputStreamWriter(process.getOutputStream(), StandardCharsets.UTF_8);
        out = new BufferedReader(new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8));
    }

    String call(String command) throws IOException {
        in.write(command + "\n");
        in.flush();
        String answer = out.readLine();
        if (answer == null || answer.startsWith("error")) {
            throw new IOException("floor program: " + (answer == null ? "no answer to " + command : answer));
        }
        return answer;
    }

    /** The nanoseconds and the count that a timed command answers. */
    long[] timed(String command) throws IOException {
        String[] parts = call(command).split(" ");
        return new long[] {Long.parseLong(parts[0]), Long.parseLong(parts[1])};
    }

    @Override
    public void close() throws IOException {
        in.close();
        try {
            process.waitFor();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
