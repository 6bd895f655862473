// Stat wrappers, link targets and raw file access, beside a file, a dangling link, a loop and a locked folder.
#include "JvmTest.h"

namespace fsstat::test {
namespace {

#ifdef SYS_newfstatat
constexpr int kFstatatCall = SYS_newfstatat;
#else
constexpr int kFstatatCall = SYS_fstatat64;
#endif

class FileAccess : public JniTest {
protected:
    void SetUp() override {
        JniTest::SetUp();
        tmp.file("regular", "0123456789");
        tmp.lockedFolders();
        for (auto [target, link] : {std::pair{"missing-target", "dangling"}, {"loopB", "loopA"}, {"loopA", "loopB"}}) {
            ASSERT_EQ(symlink(target, tmp.at(link).c_str()), 0);
        }
    }
    TempDir tmp;
    const std::string dir = tmp.path();
};

using Wrapper = int (*)(JNIEnv *, const char *, struct stat *, int);

TEST_F(FileAccess, StatWrappersRaiseTheirSentenceOrLeaveErrno) {
    const Wrapper fstatatNotOpen = [](JNIEnv *e, const char *name, struct stat *st, int t) {
        return getFstatat(e, -1, name, st, 0, t, kFstatatCall);
    };
    const Wrapper fstatatBadFlag = [](JNIEnv *e, const char *name, struct stat *st, int t) {
        return getFstatat(e, AT_FDCWD, name, st, 0x8000, t, kFstatatCall);  // a flag fstatat refuses
    };
    const Wrapper fstatatBadRecord = [](JNIEnv *e, const char *name, struct stat *, int t) {
        return getFstatat(e, AT_FDCWD, name, reinterpret_cast<struct stat *>(8), 0, t, kFstatatCall);
    };
    const std::string enoent = "'. A component of the path does not exist, or the path is an empty string.";
    const std::string longPath = "/" + std::string(600, 'x');
    const struct {
        Wrapper wrapper;
        std::string path;
        int error;            // 0: succeeds
        std::string message;  // of the IOException
    } cases[] = {
        {getStat, dir + "/regular", 0, ""},
        {getLstat, dir + "/dangling", 0, ""},  // the link itself
        {getLstat, dir + "/missing", ENOENT, "[JniUtil.getLstat]  stat() failed on  '" + dir + "/missing" + enoent},
        {getStat, dir + "/dangling", ENOENT, "[JniUtil.getStat]  stat() failed on  '" + dir + "/dangling" + enoent},
        {getStat, dir + "/regular/x", ENOTDIR,
         "[JniUtil.getStat]  stat() failed on  '" + dir + "/regular/x'. A component of the path is not a directory."},
        {getStat, dir + "/loopA", ELOOP,
         "[JniUtil.getStat]  stat() failed on  '" + dir +
             "/loopA'. Too many symbolic links encountered while traversing the path. "},
        {getStat, dir + "/nosearch/sub", EACCES,
         "[JniUtil.getStat]  stat() failed on  '" + dir +
             "/nosearch/sub'. Search permission is denied for one of the directories in the path prefix of path."},
        {fstatatNotOpen, "name", EBADF, "[JniUtil.getFstatat]  stat() failed on  'name'. filedes is bad."},
        {fstatatBadRecord, dir, EFAULT, "[JniUtil.getFstatat]  stat() failed on  '" + dir + "'. Bad address."},
        {fstatatBadFlag, "name", EINVAL,
         std::string("[JniUtil.getFstatat]  stat() failed on  'name'. ") + strerror(EINVAL)},
        // Longer than the 511 bytes that the message buffer holds: cut there.
        {getLstat, longPath, ENAMETOOLONG,
         ("[JniUtil.getLstat]  stat() failed on  '" + longPath + "'. File name too long.").substr(0, 511)},
    };
    Unprivileged unprivileged;
    for (const auto &c : cases) {
        struct stat st;
        EXPECT_EQ(c.wrapper(env, c.path.c_str(), &st, 1), c.error != 0 ? -1 : 0) << c.path;
        EXPECT_EQ(thrown(env), c.error != 0 ? "java.io.IOException: " + c.message : "");
        errno = 0;
        EXPECT_EQ(c.wrapper(env, c.path.c_str(), &st, 0), c.error != 0 ? -1 : 0);
        EXPECT_EQ(errno, c.error) << c.message;  // TearDown catches a raise here
    }
}

// A target that fills the buffer exactly needs a second, larger try.
TEST_F(FileAccess, ReadLinkTargetGrowsUntilTheTargetFits) {
    for (size_t length : {511u, 512u, 3000u}) {
        const std::string target(length, 't'), link = dir + "/link" + std::to_string(length);
        ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
        char *got = nullptr;
        ASSERT_EQ(readLinkTarget(link.c_str(), &got), 0);
        EXPECT_EQ(std::string(got), target);
        std::free(got);
    }
    char *untouched = nullptr;
    EXPECT_EQ(readLinkTarget((dir + "/regular").c_str(), &untouched), -1);
    EXPECT_EQ(untouched, nullptr);
}

// A failed move counts -1 on its side of the distance, so on an unseekable descriptor both sides cancel.
TEST_F(FileAccess, SkipReturnsTheDistanceAndReportsFailedMoves) {
    const int fd = openFile((dir + "/regular").c_str());
    char buf[16];
    EXPECT_EQ(readFile(fd, buf, 4), 4);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const int closedFd = fcntl(pipeFds[0], F_DUPFD, 900);  // far above the numbers in use
    close(closedFd);
    const struct {
        int fd;
        off_t offset, result, position;
        const char *line;
    } steps[] = {
        {fd, 100, 100, 104, ""},  // past the end of the 10-byte file
        {fd, -34, -34, 70, ""},
        {fd, -80, -71, 70, "[JniUtil.skipFile] whence is not one of SEEK_SET, SEEK_CUR, SEEK_END, or the resulting "
                           "file offset would be negative.\n"},
        {closedFd, 5, 0, -1, "[JniUtil.skipFile] iFileDescriptor is not an open file descriptor.\n"},
        {pipeFds[0], 5, 0, -1, "[JniUtil.skipFile] iFileDescriptor is associated with a pipe, socket, or FIFO.\n"},
    };
    for (const auto &s : steps) {
        off_t moved = 0;
        EXPECT_EQ(printedBy([&] { moved = skipFile(s.fd, s.offset); }), s.line);
        EXPECT_EQ(moved, s.result) << s.line;
        EXPECT_EQ(lseek(s.fd, 0, SEEK_CUR), s.position) << s.line;
    }
    EXPECT_EQ(readFile(fd, buf, sizeof buf), 0);
    EXPECT_EQ(closeFile(fd), 0);
    EXPECT_EQ(closeFile(fd), -1);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

} // namespace
} // namespace fsstat::test
