// The JNI utility layer: string conversions, exception raising, the file-name
// escape codec, stat wrappers, path bridging and raw file access.
#include "JniUtil.h"
#include "Guards.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

// ---- Java string conversions ------------------------------------------------

// ---- Exception raising ------------------------------------------------------

// ---- File-name escape codec -------------------------------------------------

// In UTF-8 mode a file name reaches Java with every byte that begins no
// accepted sequence written as the mark U+00B6 plus the character of that
// byte's value; literal marks are escaped first so that they read back as
// themselves. In single-byte mode the mark is the byte B6 and is doubled.

namespace {

constexpr unsigned char kMarkLead = 0xC2;   // U+00B6 in UTF-8: C2 B6
constexpr unsigned char kMark = 0xB6;       // and its last byte, the mark in ISO-8859-1

bool isMarkAt(const unsigned char *s) { return s[0] == kMarkLead && s[1] == kMark; }

// The mode, read once per call: init may change it from another thread.
int currentMode() { return __atomic_load_n(&IS_UTF8_DEFAULT_CHARSET, __ATOMIC_RELAXED); }

// getUTF8StringLength takes the bytes left as an int; it only compares them
// with 3, so clamping a (never realistic) longer rest changes nothing.
int bytesLeft(size_t left) { return left > 4 ? 4 : static_cast<int>(left); }

// A buffer for len input bytes that grow by at most factor, or null when that
// size does not fit in size_t or malloc fails.
fsstat::MallocPtr allocFor(size_t len, size_t factor) {
    if (len > (SIZE_MAX - 1) / factor) return nullptr;
    return fsstat::MallocPtr(static_cast<char *>(std::malloc(len * factor + 1)));
}

// Writes the mark and the UTF-8 form of the character whose code is b, as the
// JVM's modified UTF-8 gives it (two bytes for U+0080..U+00FF). Returns the
// bytes written, 0 when the JVM could not make the string.
size_t writeEscapedByte(JNIEnv *env, unsigned char b, unsigned char *out) {
    const jchar ch = b;
    fsstat::LocalRef<jstring> js(env, env->NewString(&ch, 1));
    if (!js) return 0;
    const char *utf = env->GetStringUTFChars(js.get(), nullptr);
    if (utf == nullptr) return 0;
    out[0] = kMarkLead;
    out[1] = kMark;
    out[2] = static_cast<unsigned char>(utf[0]);
    out[3] = static_cast<unsigned char>(utf[1]);
    env->ReleaseStringUTFChars(js.get(), utf);
    return 4;
}

// The character that the n-byte accepted sequence at seq decodes to, through
// the JVM; -1 when the JVM could not make or read the string.
long decodeSequence(JNIEnv *env, const unsigned char *seq, int n) {
    char scratch[5] = {0};
    std::memcpy(scratch, seq, static_cast<size_t>(n));
    fsstat::LocalRef<jstring> js(env, env->NewStringUTF(scratch));
    if (!js) return -1;
    const jchar *chars = env->GetStringChars(js.get(), nullptr);
    if (chars == nullptr) return -1;
    const long code = chars[0];
    env->ReleaseStringChars(js.get(), chars);
    return code;
}

} // namespace

extern "C" {

int getUTF8StringLength(unsigned char *str, int iStrLen) {
    // With no byte left every lead is rejected; return before reading any.
    if (str == nullptr || iStrLen < 1) return 0;
    const unsigned char lead = str[0];
    int len;
    if (lead < 0x80) len = 1;
    else if (lead > 0xEF) len = 4;
    else if (lead > 0xDF) len = 3;
    else if (lead > 0xC1) len = 2;
    else return 0;
    if (len > iStrLen) return 0;  // before any following byte is read
    switch (len) {
    case 2: return str[1] >= 0x80 && str[1] <= 0xBF ? 2 : 0;
    // The second byte must be A0..BF for every lead E0..EF, not only for E0.
    case 3: return str[1] >= 0xA0 && str[1] <= 0xBF && str[2] >= 0x80 && str[2] <= 0xBF ? 3 : 0;
    case 4: return 0;  // four-byte characters are never accepted
    default: return 1;
    }
}

char *escapeEscapeChars(JNIEnv *, char *szUTFPath) {
    if (currentMode() == 0 || szUTFPath == nullptr) return nullptr;
    const auto *in = reinterpret_cast<const unsigned char *>(szUTFPath);
    const size_t len = std::strlen(szUTFPath);
    fsstat::MallocPtr buf = allocFor(len, 4);
    if (!buf) return nullptr;
    auto *out = reinterpret_cast<unsigned char *>(buf.get());
    size_t o = 0;
    for (size_t i = 0; i < len;) {
        // A mark that ends the name is left alone: only a mark with a byte after it is escaped.
        if (i + 2 < len && isMarkAt(in + i)) {
            static const unsigned char kEscapedMark[] = {0xC2, 0xB6, 0xC3, 0x82, 0xC2, 0xB6, 0xC2, 0xB6};
            std::memcpy(out + o, kEscapedMark, sizeof kEscapedMark);
            o += sizeof kEscapedMark;
            i += 2;
        } else {
            out[o++] = in[i++];
        }
    }
    out[o] = 0;
    return buf.release();
}

char *escapeEscapeCharsNonUTF8(JNIEnv *, char *szPath) {
    if (szPath == nullptr) return nullptr;
    const size_t len = std::strlen(szPath);
    fsstat::MallocPtr buf = allocFor(len, 2);
    if (!buf) return nullptr;
    char *out = buf.get();
    for (const char *p = szPath; *p != 0; p++) {
        *out++ = *p;
        if (static_cast<unsigned char>(*p) == kMark) *out++ = *p;
    }
    *out = 0;
    return buf.release();
}

char *escapeUTFString(JNIEnv *env, char *szUTFPath) {
    if (szUTFPath == nullptr) return nullptr;
    auto *in = reinterpret_cast<unsigned char *>(szUTFPath);
    const size_t len = std::strlen(szUTFPath);
    fsstat::MallocPtr buf = allocFor(len, 4);
    if (!buf) return nullptr;
    auto *out = reinterpret_cast<unsigned char *>(buf.get());
    size_t o = 0;
    for (size_t i = 0; i < len;) {
        const int n = getUTF8StringLength(in + i, bytesLeft(len - i));
        if (n > 0) {
            std::memcpy(out + o, in + i, static_cast<size_t>(n));
            o += static_cast<size_t>(n);
            i += static_cast<size_t>(n);
            continue;
        }
        // A rejected lead is escaped alone; the next byte is judged on its own.
        const size_t written = writeEscapedByte(env, in[i], out + o);
        if (written == 0) return nullptr;
        o += written;
        i++;
    }
    out[o] = 0;
    return buf.release();
}

char *unescapeString(JNIEnv *env, char *szPath, int isUTFPath) {
    if (szPath == nullptr) return nullptr;
    auto *in = reinterpret_cast<unsigned char *>(szPath);
    const size_t len = std::strlen(szPath);
    fsstat::MallocPtr buf = allocFor(len, 1);
    if (!buf) return nullptr;
    auto *out = reinterpret_cast<unsigned char *>(buf.get());
    // The bound follows the mode, not isUTFPath: the ISO-8859-1 attempt in
    // UTF-8 mode keeps a B6 B6 pair that ends the name.
    const size_t iBound = currentMode() != 0 ? 2 : 1;
    bool bHandleEscapedChar = false;
    size_t o = 0;
    for (size_t i = 0; i < len;) {
        if (!bHandleEscapedChar) {
            if (i + iBound < len && isUTFPath != 0 && isMarkAt(in + i)) {
                bHandleEscapedChar = true;
                i += 2;
            } else if (i + iBound < len && isUTFPath == 0 && in[i] == kMark && in[i + 1] == kMark) {
                out[o++] = kMark;
                i += 2;
            } else {
                out[o++] = in[i++];
            }
            continue;
        }
        bHandleEscapedChar = false;
        const int n = getUTF8StringLength(in + i, bytesLeft(len - i));
        if (n <= 1) {
            // Not an escape: the mark stands for itself.
            out[o++] = kMarkLead;
            out[o++] = kMark;
            out[o++] = in[i++];
            continue;
        }
        const long code = decodeSequence(env, in + i, n);
        if (code < 0) return nullptr;
        if (code <= 0xFF) {
            out[o++] = static_cast<unsigned char>(code);
        } else {
            // No byte has this character: keep the mark and the sequence as text.
            out[o++] = kMarkLead;
            out[o++] = kMark;
            std::memcpy(out + o, in + i, static_cast<size_t>(n));
            o += static_cast<size_t>(n);
        }
        i += static_cast<size_t>(n);
    }
    // Only a direct caller in single-byte mode can end on a mark; keep it as text, as a final mark is everywhere else.
    if (bHandleEscapedChar) {
        out[o++] = kMarkLead;
        out[o++] = kMark;
    }
    out[o] = 0;
    return buf.release();
}

char *unescapeNativeString(JNIEnv *env, char *szUTFPath) {
    return unescapeString(env, szUTFPath, currentMode());
}

} // extern "C"

// ---- Stat wrappers ----------------------------------------------------------

// ---- Path bridging ----------------------------------------------------------

// ---- Raw file access --------------------------------------------------------
