// Walks with options: each entry carries the attributes asked for and says
// which it lacks (lstat and statx are the oracle), depth, links, filters and
// file systems as asked, the same set with any thread count at any depth, and
// no walk ever below a directory swapped for a link.
#include "JvmTest.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace fsstat::test {
namespace {

class Walk : public ChecksTest {
public:
    Walk() : ChecksTest("WalkChecks") {}
    std::string walk(const std::string &root, const std::string &words) {
        return call("walk", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;", str(root), str(words));
    }
};

// The line WalkChecks.walk gives for the entry at root + rel when what is read is named by words
// ("types", "size", "statx" or "all"), from the system's own answers.
std::string expectedLine(const std::string &root, const std::string &rel, const std::string &words) {
    struct statx x;
    EXPECT_EQ(statx(AT_FDCWD, (root + rel).c_str(), AT_SYMLINK_NOFOLLOW, STATX_ALL | STATX_MNT_ID, &x), 0) << rel;
    const bool every = words == "statx" || words == "all";
    auto time = [](const struct statx_timestamp &t) { return std::to_string(t.tv_sec) + "." + std::to_string(t.tv_nsec); };
    auto oct = [](unsigned v) { std::ostringstream o; o << std::oct << v; return o.str(); };
    const std::string dev = std::to_string(makedev(x.stx_dev_major, x.stx_dev_minor)) + ":" +
                            std::to_string(makedev(x.stx_rdev_major, x.stx_rdev_minor)) + ":" +
                            std::to_string(x.stx_blksize);
    const std::vector<std::string> values = {
        words == "size" || every ? std::to_string(x.stx_size) : "-",
        every ? oct(x.stx_mode) : "-",
        every ? std::to_string(x.stx_nlink) : "-",
        every ? std::to_string(x.stx_uid) : "-",
        every ? std::to_string(x.stx_gid) : "-",
        every ? std::to_string(x.stx_ino) : "-",
        every ? std::to_string(x.stx_blocks) : "-",
        words == "types" ? "-" : dev,
        every ? time(x.stx_atime) : "-",
        every ? time(x.stx_mtime) : "-",
        every ? time(x.stx_ctime) : "-",
        words == "statx" && (x.stx_mask & STATX_BTIME) ? time(x.stx_btime) : "-",
        words == "statx" && (x.stx_mask & STATX_MNT_ID) ? std::to_string(x.stx_mnt_id) : "-",
    };
    const mode_t m = x.stx_mode;
    std::string line = rel + " " + (S_ISDIR(m) ? 'd' : S_ISLNK(m) ? 'l' : S_ISFIFO(m) ? 'p' : '-');
    for (const auto &v : values) line += " " + v;
    return line + " -";
}

// A line of an entry that has its type alone (and "device:rdev:blksize" when dev is given: what any
// stat brings), then its attribute error (or "-").
std::string typeOnly(const std::string &rel, char type, const std::string &error = "-", const std::string &dev = "-") {
    std::string line = rel + " " + type;
    for (int i = 0; i < 13; i++) line += i == 7 ? " " + dev : " -";
    return line + " " + error;
}

std::string joinSorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto &l : lines) out += (out.empty() ? "" : "\n") + l;
    return out;
}

TEST_F(Walk, EachEntryCarriesWhatWasAskedAndAnyThreadCountGivesTheSameSet) {
    TempDir dir;
    for (const char *d : {"a", "a/b", "a/b/c", "e"}) ASSERT_EQ(mkdir(dir.at(d).c_str(), 0750), 0);
    dir.file("a/one", "1");
    dir.file("a/b/two", "22");
    dir.file("a/b/c/three", "333");
    dir.file("caf\xE9", "latin-1");
    ASSERT_EQ(symlink("a/b", dir.at("link").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.at("a/fifo").c_str(), 0600), 0);
    // Reading a directory moves its access time unless that lies past its change time: set every one so.
    for (const char *p : {"a", "a/b", "a/b/c", "e", "a/one", "a/b/two", "a/b/c/three", "caf\xE9", "link", "a/fifo"}) {
        const struct timespec later[2] = {{time(nullptr) + 100, 123456789}, {0, UTIME_OMIT}};
        ASSERT_EQ(utimensat(AT_FDCWD, dir.at(p).c_str(), later, AT_SYMLINK_NOFOLLOW), 0) << p;
    }
    const std::vector<std::string> all = {"/a", "/a/b", "/a/b/c", "/a/b/c/three", "/a/b/two", "/a/fifo",
                                          "/a/one", "/caf\xE9", "/e", "/link"};
    const struct {
        std::string words;
        std::vector<std::string> entries;  // expected, by path relative to the root
    } rows[] = {
        {"types", all},
        {"size", all},
        {"statx", all},
        {"all", all},
        {"all nosync threads=2", all},
        {"types depth=1", {"/a", "/caf\xE9", "/e", "/link"}},
        {"types depth=2 threads=2", {"/a", "/a/b", "/a/fifo", "/a/one", "/caf\xE9", "/e", "/link"}},
        {"types depth=0", {}},
        {"types skip=b", {"/a", "/a/b", "/a/fifo", "/a/one", "/caf\xE9", "/e", "/link"}},
        {"size skip=a threads=2", {"/a", "/caf\xE9", "/e", "/link"}},
    };
    for (const auto &r : rows) {
        const std::string what = r.words.substr(0, r.words.find(' '));
        std::vector<std::string> expected;
        for (const auto &e : r.entries) expected.push_back(expectedLine(dir.path(), e, what));
        // Names travel as the library's strings: compare them as that string's UTF-8.
        std::string want = joinSorted(expected);
        const std::string shown = utf8ModeForThisRun() ? "/caf\xC2\xB6\xC3\xA9" : "/caf\xC3\xA9";
        if (size_t at = want.find("/caf\xE9"); at != std::string::npos) want.replace(at, 5, shown);
        EXPECT_EQ(walk(dir.path(), r.words), want) << r.words;
    }
    EXPECT_EQ(descriptorsOn(dir.path()), 0);
}

TEST_F(Walk, LinksAreFollowedOnlyWhenAskedAndALoopIsReportedNotEntered) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.at("a").c_str(), 0700), 0);
    dir.file("a/f");
    ASSERT_EQ(symlink("..", dir.at("a/up").c_str()), 0);
    ASSERT_EQ(symlink("a", dir.at("l1").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", dir.at("dangling").c_str()), 0);
    for (const char *threads : {"", " threads=2"}) {
        // Following links takes a stat of each entry, which brings the device.
        struct stat st;
        ASSERT_EQ(stat(dir.path().c_str(), &st), 0);
        const std::string dev = std::to_string(st.st_dev) + ":0:" + std::to_string(st.st_blksize);
        EXPECT_EQ(walk(dir.path(), std::string("types follow") + threads),
                  joinSorted({typeOnly("/a", 'd', "-", dev), typeOnly("/a/f", '-', "-", dev),
                              typeOnly("/a/up", 'd', "-", dev), typeOnly("/dangling", 'l', "-", dev),
                              typeOnly("/l1", 'd', "-", dev), typeOnly("/l1/f", '-', "-", dev),
                              typeOnly("/l1/up", 'd', "-", dev), "error FileSystemLoopException /a/up",
                              "error FileSystemLoopException /l1/up"}))
            << threads;
    }
    // Every lstat value, following: a dangling link is itself (its size the target's length), a link to a
    // directory the directory.
    const std::string got = walk(dir.path(), "all follow");
    EXPECT_NE(got.find("/dangling l 7 "), std::string::npos) << got;
    EXPECT_NE(got.find("/l1 d "), std::string::npos) << got;
}

TEST_F(Walk, AnyDepthAndPathLengthWithEveryThreadCountAndNeverThroughASwappedInLink) {
    TempDir dir, outside;
    outside.file("secret");
    // 40 levels of 200-byte names, each with two more directories beside it: paths reach past 8,000 bytes,
    // and the parallel walk holds more waiting directories than its descriptor budget.
    // Made relative to open directories, as such paths are too long for a system call.
    size_t count = 0;
    int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 40; level++) {
        for (char side : {'b', 'c'}) {
            const std::string beside = std::string(199, side) + std::to_string(level % 10);
            ASSERT_EQ(mkdirat(fd, beside.c_str(), 0700), 0);
            close(openat(fd, (beside + "/f").c_str(), O_CREAT | O_WRONLY, 0600));
            count += 2;
        }
        const std::string down = std::string(199, 'a') + std::to_string(level % 10);
        ASSERT_EQ(mkdirat(fd, down.c_str(), 0700), 0) << level;
        const int below = openat(fd, down.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = below;
        count++;
    }
    close(fd);
    const std::string ordered = walk(dir.path(), "types");
    EXPECT_EQ(static_cast<size_t>(std::count(ordered.begin(), ordered.end(), '\n') + 1), count);
    EXPECT_EQ(ordered.find("error"), std::string::npos);
    for (const char *threads : {"types threads=2", "types threads=3"}) EXPECT_EQ(walk(dir.path(), threads), ordered);
    EXPECT_EQ(descriptorsOn(dir.path()), 0);
    const jint most = env->CallStaticIntMethod(checks, env->GetStaticMethodID(checks, "mostOpen", "(Ljava/lang/String;I)I"),
                                               str(dir.path()), 2);
    EXPECT_EQ(thrown(env), "");
    EXPECT_LE(most, 18);  // the budget of two threads, and a directory each being opened
    // Deeper than a path can name: what TempDir cannot remove.
    EXPECT_EQ(system(("rm -rf " + dir.path() + "/a*").c_str()), 0);

    expectNoFailedCases(call("swapForLink", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;",
                             str(dir.path()), str("victim"), str(outside.path())));
    EXPECT_EQ(descriptorsOn(dir.path()), 0);
}

TEST_F(Walk, CloseFromAnotherThreadEndsItAndAnInterruptedConsumerIsTold) {
    TempDir dir;
    for (const char *d : {"a", "b", "c"}) ASSERT_EQ(mkdir(dir.at(d).c_str(), 0700), 0);
    EXPECT_EQ(call("closeAndInterrupt", "(Ljava/lang/String;I)Ljava/lang/String;", str(dir.path()), 2),
              "close: ended\ninterrupt: interrupted\n");
    EXPECT_EQ(descriptorsOn(dir.path()), 0);
}

TEST_F(Walk, AnUnsearchableDirectoryYieldsItsNamesEachSayingWhyItHasNoAttributes) {
    TempDir dir;
    dir.lockedFolders();  // nosearch (0644) holds sub
    dir.file("f");
    ASSERT_EQ(chmod(dir.at("nosearch").c_str(), 0700), 0);
    dir.file("nosearch/g");
    ASSERT_EQ(chmod(dir.at("nosearch").c_str(), 0644), 0);
    Unprivileged unprivileged;
    std::string got = walk(dir.path(), "size");
    // The directories' sizes are the file system's: compare all but them.
    EXPECT_NE(got.find(typeOnly("/nosearch/g", '-', "AccessDeniedException")), std::string::npos) << got;
    EXPECT_NE(got.find(typeOnly("/nosearch/sub", 'd', "AccessDeniedException")), std::string::npos) << got;
    EXPECT_NE(got.find("error AccessDeniedException /noread"), std::string::npos) << got;
    EXPECT_NE(got.find("error AccessDeniedException /nosearch/sub"), std::string::npos) << got;
    EXPECT_EQ(got.find("unclear"), std::string::npos) << got;
    // Names and types need no search permission at all.
    got = walk(dir.path(), "types threads=2");
    EXPECT_NE(got.find(typeOnly("/nosearch/g", '-')), std::string::npos) << got;
}

TEST_F(Walk, StaysOnTheRootsFileSystemWhenAsked) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.at("mnt").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.at("here").c_str(), 0700), 0);
    dir.file("here/f");
    if (mount("fsstat-test", dir.at("mnt").c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << "); needs root";
    }
    dir.file("mnt/inside");
    for (const char *words : {"types xdev", "all xdev threads=2"}) {
        const std::string got = walk(dir.path(), words);
        EXPECT_NE(got.find("/mnt "), std::string::npos) << words << ": " << got;
        EXPECT_NE(got.find("/here/f "), std::string::npos) << words << ": " << got;
        EXPECT_EQ(got.find("/mnt/inside"), std::string::npos) << words << ": " << got;
    }
    EXPECT_NE(walk(dir.path(), "types").find("/mnt/inside"), std::string::npos);
    EXPECT_EQ(umount(dir.at("mnt").c_str()), 0);
}

TEST_F(Walk, BadOptionsAreIllegalArgumentsAndANonDirectoryRootIsNioS) {
    TempDir dir;
    dir.file("f");
    EXPECT_EQ(call("badInput", "(Ljava/lang/String;)Ljava/lang/String;", str(dir.at("f"))),
              "IllegalArgumentException: threads must be from 1 to 128: 0\n"
              "IllegalArgumentException: threads must be from 1 to 128: 129\n"
              "IllegalArgumentException: maxDepth must be at least 0: -1\n"
              "IllegalArgumentException: nothing to read: name at least one EntryAttribute\n"
              "NotDirectoryException");
    EXPECT_EQ(descriptorsOn(dir.path()), 0);
}

} // namespace
} // namespace fsstat::test
