// The file-name escape codec: escaped forms byte for byte, restored bytes, off-by-one edges.
#include "JvmTest.h"

#include <memory>
#include <random>

namespace fsstat::test {
namespace {

// "61 C2 B6" as bytes.
std::string bytes(const char *hexText) {
    std::string out;
    for (char *end = nullptr; *hexText != '\0'; hexText = end) out += static_cast<char>(std::strtoul(hexText, &end, 16));
    return out;
}

enum Op { Mark, Double, Escape, Unescape1, Unescape0, Native };

std::string run(JNIEnv *env, Op op, const std::string &in) {
    char *s = const_cast<char *>(in.c_str());
    char *r = op == Mark        ? escapeEscapeChars(env, s)
              : op == Double    ? escapeEscapeCharsNonUTF8(env, s)
              : op == Escape    ? escapeUTFString(env, s)
              : op == Unescape1 ? unescapeString(env, s, 1)
              : op == Unescape0 ? unescapeString(env, s, 0)
                                : unescapeNativeString(env, s);
    EXPECT_NE(r, s) << "the input itself was returned";
    std::string out = r == nullptr ? "<null>" : std::string(r);
    std::free(r);
    return out;
}

using EscapeCodec = JniTest;

TEST_F(EscapeCodec, SequenceRuleAcceptsOnlyItsTable) {
    const struct { const char *seq; int want; } rows[] = {
        {"41", 1}, {"7F", 1}, {"80", 0}, {"BF", 0}, {"C0 80", 0}, {"C1 BF", 0}, {"C2 80", 2}, {"DF BF", 2},
        {"C3 41", 0}, {"C3 C0", 0}, {"E0 A0 80", 3}, {"EF BF BF", 3}, {"ED A0 80", 3}, {"E2 80 93", 0},
        {"E0 9F BF", 0}, {"E2 A0 41", 0}, {"F0 9F 98 80", 0}, {"FF", 0}, {"C2", 0}, {"E0 A0", 0}, {"F0 90 80", 0},
    };
    for (const auto &row : rows) {
        // Exactly the bytes left on the heap: a read past them is an ASan error.
        std::string seq = bytes(row.seq);
        std::unique_ptr<unsigned char[]> exact(new unsigned char[seq.size()]);
        std::copy(seq.begin(), seq.end(), exact.get());
        EXPECT_EQ(getUTF8StringLength(exact.get(), static_cast<int>(seq.size())), row.want) << row.seq;
    }
}

TEST_F(EscapeCodec, WorkedExamplesByteForByte) {
    const struct { const char *name, *marked, *escaped; } rows[] = {
        {"61 C2 B6 62", "61 C2 B6 C3 82 C2 B6 C2 B6 62", "61 C2 B6 C3 82 C2 B6 C2 B6 62"},
        {"61 C2 B6", "61 C2 B6", "61 C2 B6"},
        {"C2 B6 C2 B6", "C2 B6 C3 82 C2 B6 C2 B6 C2 B6", "C2 B6 C3 82 C2 B6 C2 B6 C2 B6"},
        {"63 61 66 E9", "63 61 66 E9", "63 61 66 C2 B6 C3 A9"},
        {"E2 80 93 FF", "E2 80 93 FF", "C2 B6 C3 A2 C2 B6 C2 80 C2 B6 C2 93 C2 B6 C3 BF"},
        {"41 C2 B6 FF", "41 C2 B6 C3 82 C2 B6 C2 B6 FF", "41 C2 B6 C3 82 C2 B6 C2 B6 C2 B6 C3 BF"},
    };
    for (const auto &row : rows) {
        ScopedMode utf8(true);
        EXPECT_EQ(hex(run(env, Mark, bytes(row.name))), hex(bytes(row.marked))) << row.name;
        EXPECT_EQ(hex(run(env, Escape, bytes(row.marked))), hex(bytes(row.escaped))) << row.name;
        EXPECT_EQ(hex(run(env, Native, bytes(row.escaped))), hex(bytes(row.name))) << row.name;
        ScopedMode singleByte(false);
        EXPECT_EQ(hex(run(env, Escape, bytes(row.marked))), hex(bytes(row.escaped))) << row.name;
    }
    for (bool utf8 : {false, true}) {
        ScopedMode mode(utf8);
        EXPECT_EQ(hex(run(env, Double, bytes("61 B6 62"))), "61 B6 B6 62");
        EXPECT_EQ(hex(run(env, Double, bytes("61 B6"))), "61 B6 B6");
    }
    ScopedMode singleByte(false);
    EXPECT_EQ(hex(run(env, Native, bytes("61 B6 B6 62"))), "61 B6 62");
    EXPECT_EQ(hex(run(env, Native, bytes("61 B6 B6"))), "61 B6");
}

TEST_F(EscapeCodec, EdgesWhereAnOffByOneShows) {
    const struct { bool utf8; Op op; const char *in, *want; } rows[] = {
        {true, Mark, "", ""}, {true, Mark, "C2", "C2"}, {true, Mark, "C2 B6", "C2 B6"},
        {true, Mark, "C2 B6 61", "C2 B6 C3 82 C2 B6 C2 B6 61"}, {true, Mark, "C2 C2 B6", "C2 C2 B6"},
        {false, Mark, "", "<null>"}, {false, Mark, "C2 B6 61", "<null>"},
        {true, Double, "", ""}, {false, Double, "B6 B6", "B6 B6 B6 B6"},
        {true, Escape, "", ""}, {true, Escape, "C0 C1", "C2 B6 C3 80 C2 B6 C3 81"},
        {true, Escape, "F0 9F 98 80", "C2 B6 C3 B0 C2 B6 C2 9F C2 B6 C2 98 C2 B6 C2 80"},
        {true, Escape, "41 C3", "41 C2 B6 C3 83"}, {true, Escape, "E0 A4", "C2 B6 C3 A0 C2 B6 C2 A4"},
        // A mark followed by what the encoder never writes stays text.
        {true, Unescape1, "", ""}, {true, Unescape1, "C2 B6", "C2 B6"}, {true, Unescape1, "C2 B6 78", "C2 B6 78"},
        {true, Unescape1, "C2 B6 FF 41", "C2 B6 FF 41"}, {true, Unescape1, "41 C2 B6 C3", "41 C2 B6 C3"},
        {true, Unescape1, "C2 B6 C3 A9", "E9"}, {true, Unescape1, "C2 B6 C2 B6 C2 B6", "B6 C2 B6"},
        {true, Unescape1, "C2 B6 C4 80 41", "C2 B6 C4 80 41"}, {true, Unescape1, "C2 B6 E0 A4 84", "C2 B6 E0 A4 84"},
        {false, Unescape1, "41 C2 B6", "41 C2 B6"}, {false, Unescape1, "C2 B6 C3 A9", "E9"},
        // A trailing B6 B6 in each combination of mode and isUTFPath.
        {false, Unescape0, "61 B6 B6", "61 B6"}, {true, Unescape0, "61 B6 B6", "61 B6 B6"},
        {false, Unescape1, "61 B6 B6", "61 B6 B6"}, {true, Unescape1, "61 B6 B6", "61 B6 B6"},
        {false, Unescape0, "B6 B6 B6", "B6 B6"}, {true, Unescape0, "B6 B6 41", "B6 41"},
        {false, Unescape0, "B6", "B6"}, {false, Native, "", ""},
    };
    for (const auto &row : rows) {
        ScopedMode mode(row.utf8);
        const std::string got = run(env, row.op, bytes(row.in));
        EXPECT_EQ(got == "<null>" ? got : hex(got), row.want) << "op " << row.op << " utf8 " << row.utf8 << ": " << row.in;
    }
}

TEST_F(EscapeCodec, NullNameGivesNull) {
    ScopedMode utf8(true);
    EXPECT_EQ(escapeEscapeChars(env, nullptr), nullptr);
    EXPECT_EQ(escapeEscapeCharsNonUTF8(env, nullptr), nullptr);
    EXPECT_EQ(escapeUTFString(env, nullptr), nullptr);
    EXPECT_EQ(unescapeString(env, nullptr, 1), nullptr);
    EXPECT_EQ(unescapeNativeString(env, nullptr), nullptr);
    EXPECT_EQ(getUTF8StringLength(nullptr, 3), 0);
}

// Thousands of names in one frame: a leaked reference per escape trips -Xcheck:jni.
TEST_F(EscapeCodec, EveryNameComesBackInBothModes) {
    const unsigned seed = 20240604;
    std::mt19937 rng(seed);
    const unsigned char hot[] = {0x41, 0xC2, 0xB6, 0xC3, 0x82, 0xE2, 0xED, 0xA0, 0x80, 0xBF, 0xF0, 0xFF};
    for (int round = 0; round < 3000; round++) {
        std::string name;
        for (size_t n = rng() % 12; n > 0; n--) {
            // Mostly bytes that form marks and sequences, so the edges are met often.
            name += static_cast<char>(rng() % 3 != 0 ? hot[rng() % sizeof hot] : 1 + rng() % 255);
        }
        SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round) + ", name " + hex(name));
        {
            ScopedMode utf8(true);
            const std::string marked = run(env, Mark, name);
            ASSERT_EQ(hex(run(env, Unescape1, run(env, Escape, marked))), hex(name));
            ASSERT_EQ(hex(run(env, Unescape1, marked)), hex(name));
        }
        ScopedMode singleByte(false);
        ASSERT_EQ(hex(run(env, Unescape0, run(env, Double, name))), hex(name));
    }
}

} // namespace
} // namespace fsstat::test
