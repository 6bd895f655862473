// The file-name escape codec: escaped forms byte for byte, restored bytes, off-by-one edges.
#include "JvmTest.h"

#include <memory>

namespace fsstat::test {
namespace {

// "61 C2 B6" as bytes.
std::string bytes(const char *hexText) {
    std::string out;
    for (char *end = nullptr; *hexText != '\0'; hexText = end) {
        out += static_cast<char>(std::strtoul(hexText, &end, 16));
    }
    return out;
}

enum Op { Mark, Double, Escape, Unescape1, Unescape0, Native };

// The op's result on in (null allowed) as hex, or "<null>".
std::string run(JNIEnv *env, Op op, const char *in) {
    char *s = const_cast<char *>(in);
    char *r = op == Mark        ? escapeEscapeChars(env, s)
              : op == Double    ? escapeEscapeCharsNonUTF8(env, s)
              : op == Escape    ? escapeUTFString(env, s)
              : op == Unescape1 ? unescapeString(env, s, 1)
              : op == Unescape0 ? unescapeString(env, s, 0)
                                : unescapeNativeString(env, s);
    std::string out = r == nullptr ? "<null>" : hex(r);
    std::free(r);
    return out;
}

using EscapeCodec = JniTest;

TEST_F(EscapeCodec, SequenceRuleAcceptsOnlyItsTable) {
    const struct { const char *seq; int want; } rows[] = {
        {"41", 1}, {"7F", 1}, {"80", 0}, {"C1 BF", 0}, {"C2 80", 2}, {"DF BF", 2}, {"C3 41", 0}, {"C3 C0", 0},
        {"E0 A0 80", 3}, {"EF BF BF", 3}, {"E2 80 93", 0}, {"E0 9F BF", 0}, {"E2 A0 41", 0}, {"F0 9F 98 80", 0},
        {"C2", 0}, {"E0 A0", 0}, {"F0 A0 80", 0},  // a four-byte lead is refused whatever follows it
    };
    for (const auto &row : rows) {
        // Exactly the bytes given, on the heap: a read past them is an ASan error.
        const std::string seq = bytes(row.seq);
        std::unique_ptr<unsigned char[]> exact(new unsigned char[seq.size()]);
        std::copy(seq.begin(), seq.end(), exact.get());
        EXPECT_EQ(getUTF8StringLength(exact.get(), static_cast<int>(seq.size())), row.want) << row.seq;
    }
    EXPECT_EQ(getUTF8StringLength(nullptr, 3), 0);
}

// Each name through the mark step, the escape and back, in UTF-8 mode.
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
        EXPECT_EQ(run(env, Mark, bytes(row.name).c_str()), row.marked) << row.name;
        EXPECT_EQ(run(env, Escape, bytes(row.marked).c_str()), row.escaped) << row.name;
        EXPECT_EQ(run(env, Native, bytes(row.escaped).c_str()), row.name) << row.name;
    }
}

TEST_F(EscapeCodec, EdgesWhereAnOffByOneShows) {
    const struct { bool utf8; Op op; const char *in, *want; } rows[] = {
        {true, Mark, "", ""}, {true, Mark, "C2", "C2"}, {true, Mark, "C2 C2 B6", "C2 C2 B6"},
        {false, Mark, "", "<null>"}, {false, Mark, "C2 B6 61", "<null>"},
        {true, Double, "61 B6 62", "61 B6 B6 62"}, {false, Double, "B6 B6", "B6 B6 B6 B6"},
        {true, Escape, "C0 C1", "C2 B6 C3 80 C2 B6 C3 81"},
        {true, Escape, "F0 9F 98 80", "C2 B6 C3 B0 C2 B6 C2 9F C2 B6 C2 98 C2 B6 C2 80"},
        {true, Escape, "41 C3", "41 C2 B6 C3 83"}, {true, Escape, "E0 A4", "C2 B6 C3 A0 C2 B6 C2 A4"},
        // A mark followed by what the encoder never writes stays text.
        {true, Unescape1, "C2 B6", "C2 B6"}, {true, Unescape1, "C2 B6 78", "C2 B6 78"},
        {true, Unescape1, "C2 B6 FF 41", "C2 B6 FF 41"}, {true, Unescape1, "41 C2 B6 C3", "41 C2 B6 C3"},
        {true, Unescape1, "C2 B6 C2 B6 C2 B6", "B6 C2 B6"}, {true, Unescape1, "C2 B6 C4 80 41", "C2 B6 C4 80 41"},
        {true, Unescape1, "C2 B6 E0 A4 84", "C2 B6 E0 A4 84"}, {false, Unescape1, "41 C2 B6", "41 C2 B6"},
        // A trailing B6 B6 in each combination of mode and isUTFPath.
        {false, Unescape0, "61 B6 B6", "61 B6"}, {true, Unescape0, "61 B6 B6", "61 B6 B6"},
        {false, Unescape1, "61 B6 B6", "61 B6 B6"}, {true, Unescape1, "61 B6 B6", "61 B6 B6"},
        {false, Unescape0, "B6 B6 B6", "B6 B6"}, {true, Unescape0, "B6 B6 41", "B6 41"},
        {false, Native, "61 B6 B6 62", "61 B6 62"},
    };
    for (const auto &row : rows) {
        ScopedMode mode(row.utf8);
        EXPECT_EQ(run(env, row.op, bytes(row.in).c_str()), row.want) << "op " << row.op << ", utf8 " << row.utf8 << ", "
                                                                       << row.in;
    }
    ScopedMode utf8(true);
    for (Op op : {Mark, Double, Escape, Unescape1, Native}) EXPECT_EQ(run(env, op, nullptr), "<null>") << op;
}

} // namespace
} // namespace fsstat::test
