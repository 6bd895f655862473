// Random byte names come back to their bytes, but for the two misses path bridging allows.
#include "Listing.h"

#include <algorithm>
#include <cstdint>
#include <random>

namespace fsstat::test {
namespace {

// Pieces for each route, now and then an encoded surrogate (the codec takes it, the JVM does not).
std::string randomName(std::mt19937 &rng) {
    auto pick = [&rng](unsigned lo, unsigned hi) {
        return static_cast<char>(std::uniform_int_distribution<unsigned>(lo, hi)(rng));
    };
    std::string name;
    const int pieces = std::uniform_int_distribution<int>(1, 10)(rng);
    for (int i = 0; i < pieces; i++) {
        const int r = std::uniform_int_distribution<int>(0, 19)(rng);
        if (r < 6) name += pick(0x01, 0xFF);
        else if (r < 9) name += pick('a', 'z');
        else if (r < 11) name += "\xC2\xB6";
        else if (r < 13) name += '\xB6';
        else if (r < 15) name += {pick(0xC2, 0xDF), pick(0x80, 0xBF)};
        else if (r < 17) name += {pick(0xE1, 0xEC), pick(0x80, 0xBF), pick(0x80, 0xBF)};
        else if (r == 17) name += {'\xF0', pick(0x90, 0xBF), pick(0x80, 0xBF), pick(0x80, 0xBF)};
        else if (r == 18) name += {'\xE0', pick(0xA0, 0xBF), pick(0x80, 0xBF)};
        else if (pick(0, 3) == 0) name += {'\xED', pick(0xA0, 0xBF), pick(0x80, 0xBF)};
    }
    std::replace(name.begin(), name.end(), '/', 'x');  // only an arbitrary byte can be one
    return name;
}

bool holdsEncodedSurrogate(const std::string &name) {
    for (size_t i = 0; i + 2 < name.size(); i++) {
        const auto b1 = static_cast<unsigned char>(name[i + 1]), b2 = static_cast<unsigned char>(name[i + 2]);
        if (static_cast<unsigned char>(name[i]) == 0xED && b1 >= 0xA0 && b1 <= 0xBF && b2 >= 0x80 && b2 <= 0xBF) {
            return true;
        }
    }
    return false;
}

using RoundTrip = ListingTest;

TEST_F(RoundTrip, RandomByteNamesComeBackToTheirBytes) {
    const char *seedText = std::getenv("FSSTAT_ROUNDTRIP_SEED");
    const std::uint32_t seed = seedText != nullptr ? static_cast<std::uint32_t>(std::strtoul(seedText, nullptr, 10))
                                                   : std::random_device{}();
    std::printf("round trip: seed %u (FSSTAT_ROUNDTRIP_SEED=%u repeats this run)\n", seed, seed);
    std::mt19937 rng(seed);

    const bool utf8Mode = utf8ModeForThisRun();

    TempDir dir;
    std::map<jlong, std::string> byInode;
    std::set<std::string> names;
    int surrogateNames = 0;
    while (names.size() < 3000) {
        std::string name = randomName(rng);
        if (name.empty() || name.size() > 255 || name == "." || name == ".." || !names.insert(name).second) continue;
        int fd = open(dir.at(name).c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
        ASSERT_GE(fd, 0) << hex(name);
        struct stat st;
        ASSERT_EQ(fstat(fd, &st), 0);
        close(fd);
        byInode[static_cast<jlong>(st.st_ino)] = name;
        surrogateNames += holdsEncodedSurrogate(name) ? 1 : 0;
    }

    int surrogateMisses = 0, firstCandidateMisses = 0;
    std::set<jlong> seen;
    for (const Entry &e : lister->list(dir.path())) {
        ASSERT_TRUE(seen.insert(e.inode()).second) << "delivered twice: " << hex(e.native);
        const std::string &onDisk = byInode.at(e.inode());
        if (e.native == onDisk) continue;
        if (utf8Mode && holdsEncodedSurrogate(onDisk)) {
            // The JVM's UTF-8 decoder replaces encoded surrogates, so such a
            // name may not survive the trip.
            surrogateMisses++;
        } else if (names.count(e.native) != 0) {
            // Both candidates name files: the unescaped default-charset bytes
            // are tried first and win.
            firstCandidateMisses++;
        } else {
            ADD_FAILURE() << hex(onDisk) << " came back as " << hex(e.native) << " (Java \"" << hex(e.java) << "\")";
        }
    }
    EXPECT_EQ(seen.size(), names.size());
    std::printf("round trip: %zu names, %d misses among the %d holding an encoded surrogate, %d by an existing first "
                "candidate\n", names.size(), surrogateMisses, surrogateNames, firstCandidateMisses);
}

} // namespace
} // namespace fsstat::test
