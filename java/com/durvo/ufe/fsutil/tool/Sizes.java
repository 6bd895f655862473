package com.durvo.ufe.fsutil.tool;

import java.math.BigInteger;

/**
 * Sizes as the GNU tools print them: always rounded up, and with {@code -h}
 * (powers of 1024) or {@code -H}/{@code --si} (powers of 1000) scaled to a
 * unit, one decimal below 10 ({@code 1.0M} for 1048575 bytes).
 */
final class Sizes {
    /** No scaling: a plain count of output units. */
    static final int PLAIN = 0;
    static final int BINARY = 1024;
    static final int DECIMAL = 1000;

    private static final String UNITS = "KMGTPEZYRQ";

    private Sizes() {
    }

    /**
     * {@code n} (unsigned) units of {@code from} bytes, shown in units of
     * {@code to} bytes, scaled by {@code base} unless it is {@link #PLAIN}.
     */
    static String format(long n, long from, long to, int base) {
        if (from == to && base == PLAIN) {
            return Long.toUnsignedString(n);
        }
        long amt;
        int tenths;
        // 0: exact; 1: below the next half tenth; 2: exactly half a tenth; 3: above it.
        int rounding;
        if (to <= from && from % to == 0 && fitsProduct(n, from / to)) {
            amt = n * (from / to);
            tenths = 0;
            rounding = 0;
        } else if (to > from && from != 0 && to % from == 0) {
            long divisor = to / from;
            long r10 = Long.remainderUnsigned(n, divisor) * 10;
            long r2 = (r10 % divisor) * 2;
            amt = Long.divideUnsigned(n, divisor);
            tenths = (int) (r10 / divisor);
            rounding = r2 < divisor ? (r2 > 0 ? 1 : 0) : 2 + (divisor < r2 ? 1 : 0);
        } else {
            BigInteger whole = new BigInteger(Long.toUnsignedString(n)).multiply(BigInteger.valueOf(from));
            BigInteger[] qr = whole.divideAndRemainder(BigInteger.valueOf(to));
            BigInteger r10 = qr[1].multiply(BigInteger.TEN);
            BigInteger r2 = r10.mod(BigInteger.valueOf(to)).shiftLeft(1);
            amt = qr[0].longValue();
            tenths = r10.divide(BigInteger.valueOf(to)).intValue();
            int c = r2.compareTo(BigInteger.valueOf(to));
            rounding = c < 0 ? (r2.signum() > 0 ? 1 : 0) : 2 + (c > 0 ? 1 : 0);
        }

        int exponent = 0;
        String fraction = "";
        if (base != PLAIN && Long.compareUnsigned(amt, base) >= 0) {
            do {
                int r10 = (int) Long.remainderUnsigned(amt, base) * 10 + tenths;
                int r2 = (r10 % base) * 2 + (rounding >> 1);
                amt = Long.divideUnsigned(amt, base);
                tenths = r10 / base;
                rounding = r2 < base ? (r2 + rounding != 0 ? 1 : 0) : 2 + (base < r2 + rounding ? 1 : 0);
                exponent++;
            } while (Long.compareUnsigned(amt, base) >= 0 && exponent < UNITS.length());
            if (amt < 10) {
                if (rounding > 0) {
                    tenths++;
                    rounding = 0;
                    if (tenths == 10) {
                        amt++;
                        tenths = 0;
                    }
                }
                if (amt < 10) {
                    fraction = "." + tenths;
                    tenths = 0;
                }
            }
        }
        if (tenths + rounding > 0) {
            amt++;
            if (base != PLAIN && amt == base && exponent < UNITS.length()) {
                exponent++;
                fraction = ".0";
                amt = 1;
            }
        }
        String digits = Long.toUnsignedString(amt) + fraction;
        if (exponent == 0) {
            return digits;
        }
        return digits + (base == DECIMAL && exponent == 1 ? 'k' : UNITS.charAt(exponent - 1));
    }

    private static boolean fitsProduct(long n, long multiplier) {
        return Long.compareUnsigned(n, Long.divideUnsigned(-1L, multiplier)) <= 0;
    }
}
