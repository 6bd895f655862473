package com.durvo.ufe.fsutil.internal.loader;

import java.util.Arrays;
import java.util.HexFormat;

/**
 * SHA-256, computed here: MessageDigest starts the JDK's security set-up, which on JDK 25 reads
 * its configuration through the default file system. When this library's provider is that file
 * system, its natives are what is being loaded, so that read would fail.
 */
final class Sha256 {
    private Sha256() {
    }

    /** {@return the SHA-256 of bytes, in lower-case hex} */
    static String hex(byte[] bytes) {
        int[] h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
        // The message, a 1 bit, zeros, and its length in bits: whole 64-byte blocks.
        byte[] m = Arrays.copyOf(bytes, (bytes.length + 8) / 64 * 64 + 64);
        m[bytes.length] = (byte) 0x80;
        long bits = (long) bytes.length * 8;
        for (int i = 0; i < 8; i++) {
            m[m.length - 1 - i] = (byte) (bits >>> 8 * i);
        }
        int[] w = new int[64];
        for (int block = 0; block < m.length; block += 64) {
            for (int t = 0; t < 16; t++) {
                int at = block + 4 * t;
                w[t] = (m[at] & 0xff) << 24 | (m[at + 1] & 0xff) << 16 | (m[at + 2] & 0xff) << 8 | m[at + 3] & 0xff;
            }
            for (int t = 16; t < 64; t++) {
                int s0 = Integer.rotateRight(w[t - 15], 7) ^ Integer.rotateRight(w[t - 15], 18) ^ w[t - 15] >>> 3;
                int s1 = Integer.rotateRight(w[t - 2], 17) ^ Integer.rotateRight(w[t - 2], 19) ^ w[t - 2] >>> 10;
                w[t] = w[t - 16] + s0 + w[t - 7] + s1;
            }
            int a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
            for (int t = 0; t < 64; t++) {
                int t1 = k + (Integer.rotateRight(e, 6) ^ Integer.rotateRight(e, 11) ^ Integer.rotateRight(e, 25))
                        + (e & f ^ ~e & g) + ROUND[t] + w[t];
                int t2 = (Integer.rotateRight(a, 2) ^ Integer.rotateRight(a, 13) ^ Integer.rotateRight(a, 22))
                        + (a & b ^ a & c ^ b & c);
                k = g;
                g = f;
                f = e;
                e = d + t1;
                d = c;
                c = b;
                b = a;
                a = t1 + t2;
            }
            h[0] += a;
            h[1] += b;
            h[2] += c;
            h[3] += d;
            h[4] += e;
            h[5] += f;
            h[6] += g;
            h[7] += k;
        }
        StringBuilder hex = new StringBuilder(64);
        for (int x : h) {
            hex.append(HexFormat.of().toHexDigits(x));
        }
        return hex.toString();
    }

    // SHA-256's round constants.
    private static final int[] ROUND = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
}
