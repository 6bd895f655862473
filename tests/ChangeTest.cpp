// Snapshots and their differences: each kind of change made with system calls
// is reported as it was made, and only it; a snapshot file reads back exactly,
// and a file that is not one whole snapshot is refused.
#include "JvmTest.h"

#include <sys/stat.h>

#include <functional>

namespace fsstat::test {
namespace {

class Change : public ChecksTest {
public:
    Change() : ChecksTest("change/ChangeChecks") {}
    std::string twoPaths(const char *method, const std::string &a, const std::string &b) {
        return call(method, "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;", str(a), str(b));
    }
};

// Sets the modification time of every entry below root, root too, seconds ago (links themselves).
void age(const std::string &root, time_t seconds) {
    static time_t when;
    when = time(nullptr) - seconds;
    auto set = [](const char *p, const struct stat *, int, FTW *) {
        const struct timespec t[2] = {{when, 0}, {when, 0}};
        return utimensat(AT_FDCWD, p, t, AT_SYMLINK_NOFOLLOW);
    };
    ASSERT_EQ(nftw(root.c_str(), set, 16, FTW_PHYS), 0);
}

TEST_F(Change, EachChangeMadeIsReportedAsMadeAndNothingElse) {
    using Step = std::function<void(const TempDir &)>;
    struct Case {
        const char *name;
        Step before;  // aged an hour once done, so only what `change` touches is recent
        Step change;
        std::string expected;
    };
    auto mk = [](const char *d) { return [d](const TempDir &t) { ASSERT_EQ(mkdir(t.at(d).c_str(), 0755), 0); }; };
    auto both = [](Step a, Step b) { return [a, b](const TempDir &t) { a(t); b(t); }; };
    const Step file_f = [](const TempDir &t) { t.file("f", "12345"); };
    std::vector<Case> cases = {
        {"nothing changed", file_f, [](const TempDir &) {}, ""},
        {"a read (access time) is no change", file_f, [](const TempDir &t) { ASSERT_EQ(contentOf(t.at("f")), "12345"); },
         ""},
        {"created", mk("d"), [](const TempDir &t) { t.file("d/new", "x"); }, "M d\nA d/new"},
        {"deleted", both(mk("d"), [](const TempDir &t) { t.file("d/f"); }),
         [](const TempDir &t) { ASSERT_EQ(unlink(t.at("d/f").c_str()), 0); }, "M d\nD d/f"},
        {"rewritten", file_f, [](const TempDir &t) { t.file("f", "123"); }, "M f"},
        {"rewritten with the same size, its time set back: the change time tells", file_f,
         [](const TempDir &t) { t.file("f", "abcde"); age(t.path(), 3600); }, "M f"},
        {"chmod", file_f, [](const TempDir &t) { ASSERT_EQ(chmod(t.at("f").c_str(), 0600), 0); }, "M f"},
        {"a file replaced by a directory", file_f,
         [](const TempDir &t) {
             ASSERT_EQ(unlink(t.at("f").c_str()), 0);
             ASSERT_EQ(mkdir(t.at("f").c_str(), 0755), 0);
             t.file("f/x");
         }, "M f\nA f/x"},
        {"renamed across directories", both(both(mk("a"), mk("b")), [](const TempDir &t) { t.file("a/f", "1"); }),
         [](const TempDir &t) { ASSERT_EQ(rename(t.at("a/f").c_str(), t.at("b/g").c_str()), 0); },
         "M a\nM b\nR a/f -> b/g"},
        {"a renamed directory: its entries only as they changed", both(mk("d"), [](const TempDir &t) {
             t.file("d/same", "s");
             t.file("d/grown", "g");
         }),
         [](const TempDir &t) {
             ASSERT_EQ(rename(t.at("d").c_str(), t.at("e").c_str()), 0);
             t.file("e/grown", "gg");
         }, "R d -> e\nM e/grown"},
        {"two hard links gone and one new: no rename guessed", both(file_f, [](const TempDir &t) {
             ASSERT_EQ(link(t.at("f").c_str(), t.at("h").c_str()), 0);
         }),
         [](const TempDir &t) {
             ASSERT_EQ(rename(t.at("f").c_str(), t.at("g").c_str()), 0);
             ASSERT_EQ(unlink(t.at("h").c_str()), 0);
         }, "D f\nA g\nD h"},
        {"names of any bytes", [](const TempDir &t) { t.file("caf\xE9"); },
         [](const TempDir &t) { ASSERT_EQ(rename(t.at("caf\xE9").c_str(), t.at("\xFF\x01").c_str()), 0); },
         "R caf\\xE9 -> \\xFF\\x01"},
    };
    if (geteuid() == 0) {
        cases.push_back({"chown", file_f, [](const TempDir &t) { ASSERT_EQ(lchown(t.at("f").c_str(), 4321, 4321), 0); },
                         "M f"});
    }
    for (const auto &c : cases) {
        TempDir tree, keep;
        c.before(tree);
        age(tree.path(), 3600);
        ASSERT_EQ(twoPaths("snap", tree.path(), keep.at("s")), "") << c.name;
        c.change(tree);
        EXPECT_EQ(twoPaths("diff", keep.at("s"), tree.path()), c.expected) << c.name;
    }
}

TEST_F(Change, AFileWrittenJustBeforeTheSnapshotIsReportedAsPossiblyModified) {
    TempDir tree, keep;
    tree.file("old", "o");
    tree.file("recent", "r");
    tree.file("earlier", "e");
    age(tree.path(), 3600);
    const struct timespec recent[2] = {{0, UTIME_OMIT}, {time(nullptr) - 2, 0}};
    const struct timespec earlier[2] = {{0, UTIME_OMIT}, {time(nullptr) - 5, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, tree.at("recent").c_str(), recent, 0), 0);
    ASSERT_EQ(utimensat(AT_FDCWD, tree.at("earlier").c_str(), earlier, 0), 0);
    ASSERT_EQ(twoPaths("snap", tree.path(), keep.at("s")), "");
    // Unchanged since, but a write in the same tick could not have shown: said as possible, every time.
    EXPECT_EQ(twoPaths("diff", keep.at("s"), tree.path()), "M? recent");
    EXPECT_EQ(twoPaths("diff", keep.at("s"), tree.path()), "M? recent");
    tree.file("recent", "grown");  // now certainly changed
    EXPECT_EQ(twoPaths("diff", keep.at("s"), tree.path()), "M recent");
}

TEST_F(Change, ASnapshotFileReadsBackExactlyAndAnythingElseIsRefused) {
    TempDir tree, keep;
    ASSERT_EQ(mkdir(tree.at("d").c_str(), 0755), 0);
    tree.file("d/f", "f");
    tree.file("g", "g");
    ASSERT_EQ(symlink("d/f", tree.at("link").c_str()), 0);
    age(tree.path(), 3600);
    tree.file("fresh", "uncertain");
    expectNoFailedCases(twoPaths("roundTrip", tree.path(), keep.path()));
    TempDir other;
    expectNoFailedCases(twoPaths("refusals", tree.path(), other.path()));
    expectNoFailedCases(call("builder", "()Ljava/lang/String;"));
}

TEST_F(Change, ARootThatIsNoDirectoryIsRefusedAndNothingWritten) {
    TempDir keep;
    keep.file("f");
    EXPECT_EQ(twoPaths("snap", keep.at("f"), keep.at("s")).substr(0, 30), "java.nio.file.NotDirectoryExce");
    EXPECT_EQ(contentOf(keep.at("s")), "<none>");
}

} // namespace
} // namespace fsstat::test
