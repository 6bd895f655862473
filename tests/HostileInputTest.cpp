// Hostile names, paths and directories: one clear outcome each, and no overrun (ASan runs these).
#include "Listing.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>


extern char **environ;

namespace fsstat::test {
namespace {

class HostileInput : public ListingTest {
protected:
    // dir holds noread (0311), nosearch (0644) and nosearch/sub; the caller cannot bypass permissions.
    void checkPermissionOutcomes(const std::string &dir) {
        DIR *probe = opendir((dir + "/noread").c_str());
        if (probe != nullptr) {
            closedir(probe);
            GTEST_SKIP() << "this process reads directories without read permission (a capability?)";
        }
        for (const char *path : {"noread", "nosearch", "nosearch/sub"}) {
            EXPECT_EQ(firstOfUndeliverable(dir + "/" + path), -1) << path;
        }
        EXPECT_EQ(getFileSysStat(env, nullptr, env->NewStringUTF((dir + "/nosearch/sub").c_str())), nullptr);
        Pending p = takePending(env);
        EXPECT_EQ(p.className, "java.io.IOException");
        EXPECT_NE(p.message.find("Permission denied"), std::string::npos) << p.message;
    }
};

// Directories under base until the path is exactly len bytes long.
std::string makeDirOfLength(const std::string &base, size_t len) {
    std::string path = base;
    while (path.size() < len) {
        size_t comp = std::min<size_t>(200, len - path.size() - 1);
        if (len - (path.size() + 1 + comp) == 1) comp--;  // never leave room for "/" alone
        path += "/" + std::string(comp, 'd');
        EXPECT_EQ(mkdir(path.c_str(), 0700), 0) << path.size() << ": " << std::strerror(errno);
    }
    return path;
}

// Creates name under the directory open as dirFd.
void fileAt(int dirFd, const std::string &name) {
    int fd = openat(dirFd, name.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0) << hex(name) << ": " << std::strerror(errno);
    close(fd);
}

std::string repeat(const std::string &s, int n) {
    std::string out;
    for (int i = 0; i < n; i++) out += s;
    return out;
}

// Every name comes back to its bytes, in each default charset.
TEST_F(HostileInput, EveryByteAndMarkOnlyNamesComeBack) {
    std::vector<std::string> singleBytes;
    std::string allBytes;
    for (int b = 1; b <= 0xFF; b++) {
        if (b == '/') continue;
        allBytes += static_cast<char>(b);
        // "?" is what US-ASCII makes of every byte above 7F: with a file of
        // that name the first candidate would exist and win.
        if (b != '.' && b != '?') singleBytes.push_back(std::string(1, static_cast<char>(b)));
    }
    const std::map<std::string, std::vector<std::string>> sets = {
        {"each byte 01..FF alone", singleBytes},
        {"all of them in one name", {allBytes}},
        {"escape marks only (the last: one literal mark's escaped form)",
         {"\xC2\xB6", "\xC2\xB6\xC2\xB6", repeat("\xC2\xB6", 127), "\xB6", "\xB6\xB6", "\xB6\xB6\xB6",
          std::string(255, '\xB6'), "\xC2\xB6\xB6", "\xB6\xC2\xB6", "\xC2\xB6\xC2",
          "\xC2\xB6\xC3\x82\xC2\xB6\xC2\xB6"}},
        {"255-byte names", {std::string(255, 'a'), std::string(255, '\xFF'), repeat("\xE2\x80\x93", 85),
                            repeat("\xC2\xB6", 127) + "x"}},
        {"valid in one charset or none", {"plain", "caf\xE9", "a\xC2\xB6" "b", "a\xC2\xB6", "\xB6\xB6\xB6",
                                          "\xE2\x80\x93\xFF", "A\xC2\xB6\xFF", "\xC2\xB6\xC2\xB6", "x\x7F\x80\xBF"}},
    };
    for (const auto &[what, names] : sets) {
        TempDir dir;
        for (const std::string &name : names) dir.file(name);
        std::multiset<std::string> back;
        for (const Entry &e : lister->list(dir.path())) back.insert(e.native);
        for (const std::string &name : names) EXPECT_EQ(back.count(name), 1u) << what << ": " << hex(name);
        EXPECT_EQ(back.size(), names.size()) << what;
    }
}

// Paths around the 1024-byte buffer and PATH_MAX; prefix names show a path cut short.
TEST_F(HostileInput, EntriesAroundThePathBufferAndPathMaxKeepTheirAttributes) {
    const std::pair<size_t, std::vector<std::string>> rows[] = {
        {1000, {std::string(21, 'n'), std::string(22, 'n'), std::string(23, 'n'), std::string(24, 'n')}},
        {1100, {"leaf"}},
        {4095, {"a", std::string(254, 'n'), std::string(255, 'n')}},
    };
    for (const auto &[length, names] : rows) {
        TempDir dir;
        const std::string deep = makeDirOfLength(dir.path(), length);
        ASSERT_EQ(deep.size(), length);
        int fd = open(deep.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        for (const std::string &name : names) fileAt(fd, name);
        std::map<std::string, std::vector<int64_t>> got, want;
        for (const Entry &e : lister->list(deep)) got[e.native] = e.values;
        for (const std::string &name : names) {
            struct stat st;
            EXPECT_EQ(fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW), 0);
            want[name] = statValues(st);
            // Beyond PATH_MAX only a descriptor reaches them, not TempDir's cleanup.
            EXPECT_EQ(unlinkat(fd, name.c_str(), 0), 0);
        }
        close(fd);
        EXPECT_EQ(got, want) << length;
    }
}

// Beyond PATH_MAX or with a component beyond NAME_MAX a directory cannot be opened.
TEST_F(HostileInput, PathsBeyondTheSystemLimitsGiveMinusOne) {
    TempDir dir;
    const std::string deep = makeDirOfLength(dir.path(), 4095);
    int fd = open(deep.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(mkdirat(fd, "b", 0700), 0);
    fileAt(fd, "b/f");
    EXPECT_EQ(firstOfUndeliverable(deep + "/b"), -1) << "4097-byte path to an existing directory";
    EXPECT_EQ(firstOfUndeliverable(dir.path() + "/" + std::string(256, 'd')), -1) << "256-byte component";
    ASSERT_EQ(unlinkat(fd, "b/f", 0), 0);
    ASSERT_EQ(unlinkat(fd, "b", AT_REMOVEDIR), 0);  // out of reach of TempDir's cleanup by path
    close(fd);
}

// Messages of over-long paths are cut to their buffers and still become an IOException.
TEST_F(HostileInput, ErrorMessagesOfOverlongPathsAreCutToTheirBuffers) {
    auto expectCut = [this](const std::string &prefix, size_t maxBytes) {
        Pending p = takePending(env);
        EXPECT_EQ(p.className, "java.io.IOException") << prefix;
        EXPECT_EQ(p.message.compare(0, prefix.size(), prefix), 0) << p.message;
        EXPECT_GT(p.message.size(), prefix.size() + 100) << prefix;
        // Each byte of the message makes at most one character, whatever the charset.
        size_t characters = 0;
        for (unsigned char c : p.message) characters += (c & 0xC0) != 0x80 ? 1 : 0;
        EXPECT_LE(characters, maxBytes) << prefix;
    };
    for (const std::string &tail : {std::string(5000, 'x'), repeat("\xC3\xA9", 1500)}) {
        const std::string path = "/nope/" + tail;
        EXPECT_EQ(getFileSysStat(env, nullptr, newJavaString(env, path)), nullptr);
        expectCut("[UNIXFileSysUtil.getFileSysStat] statvfs failed for '/nope/", 1023);
        struct stat st;
        EXPECT_NE(getStat(env, path.c_str(), &st, 1), 0);
        expectCut("[JniUtil.getStat]  stat() failed on  '/nope/", 511);
    }
}

TEST_F(HostileInput, DirectoryRemovedWhileIteratedEndsTheIteration) {
    TempDir dir;
    const std::string victim = dir.at("victim");
    ASSERT_EQ(mkdir(victim.c_str(), 0700), 0);
    for (int i = 0; i < 50; i++) dir.file("victim/e" + std::to_string(i));
    jstring js = env->NewStringUTF(victim.c_str());
    jobject child = lister->child();
    const int before = openDescriptors();
    jlong handle = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, js, child);
    ASSERT_NE(handle, -1);
    for (int i = 0; i < 50; i++) ASSERT_EQ(unlink((victim + "/e" + std::to_string(i)).c_str()), 0);
    ASSERT_EQ(rmdir(victim.c_str()), 0);
    // What the stream still holds can no longer be examined, so nothing more is delivered.
    EXPECT_EQ(Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, js, child), JNI_FALSE);
    EXPECT_EQ(Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, js, child), JNI_FALSE);
    EXPECT_FALSE(env->ExceptionCheck());
    Java_com_durvo_ufe_fsutil_FolderIteratorNix_closeSearchHandleN(env, nullptr, handle);
    EXPECT_EQ(openDescriptors(), before);
}

// Removed entries never come, untouched ones exactly once, new ones at most once.
TEST_F(HostileInput, EntriesAddedAndRemovedDuringIteration) {
    TempDir dir;
    for (int i = 0; i < 200; i++) dir.file("e" + std::to_string(i));
    jstring js = env->NewStringUTF(dir.path().c_str());
    jobject child = lister->child();
    jlong handle = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, js, child);
    ASSERT_NE(handle, -1);
    std::vector<std::string> delivered = {lister->read(js, child).native};
    for (int i = 1; i < 200; i += 2) {
        const std::string name = "e" + std::to_string(i);
        if (name != delivered[0]) {
            ASSERT_EQ(unlink(dir.at(name).c_str()), 0);
        }
    }
    for (int i = 0; i < 100; i++) dir.file("n" + std::to_string(i));
    while (Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, js, child) == JNI_TRUE) {
        delivered.push_back(lister->read(js, child).native);
    }
    Java_com_durvo_ufe_fsutil_FolderIteratorNix_closeSearchHandleN(env, nullptr, handle);
    EXPECT_FALSE(env->ExceptionCheck());

    std::multiset<std::string> got(delivered.begin(), delivered.end());
    for (int i = 0; i < 200; i++) {
        const std::string name = "e" + std::to_string(i);
        const size_t expected = i % 2 == 0 || name == delivered[0] ? 1 : 0;
        EXPECT_EQ(got.count(name), expected) << name;
    }
    for (int i = 0; i < 100; i++) EXPECT_LE(got.count("n" + std::to_string(i)), 1u);
}

constexpr char kUnprivilegedDir[] = "FSSTAT_UNPRIVILEGED_DIR";
constexpr int kExitUnreadableBuild = 77;  // the child cannot read the build tree

TEST_F(HostileInput, DirectoriesWithoutReadOrSearchPermissionGiveMinusOne) {
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.at("noread").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.at("nosearch").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.at("nosearch/sub").c_str(), 0700), 0);
    dir.file("noread/f");
    dir.file("nosearch/f");
    ASSERT_EQ(chmod(dir.at("noread").c_str(), 0311), 0);
    ASSERT_EQ(chmod(dir.at("nosearch").c_str(), 0644), 0);

    if (geteuid() != 0) {
        checkPermissionOutcomes(dir.path());
        return;
    }
    // Root ignores permissions: the checks run as nobody, in a copy of this program with its own JVM.
    const struct passwd *pw = getpwnam("nobody");
    if (pw == nullptr) GTEST_SKIP() << "running as root and there is no user 'nobody' to run as";
    const uid_t uid = pw->pw_uid, gid = pw->pw_gid;
    std::string exe = "/proc/self/exe", filter = "--gtest_filter=IsolatedUnprivileged.*";
    std::vector<char *> argv = {exe.data(), filter.data(), nullptr};
    std::vector<std::string> envStrings;
    for (char **e = environ; *e != nullptr; e++) envStrings.emplace_back(*e);
    envStrings.push_back(std::string(kUnprivilegedDir) + "=" + dir.path());
    std::vector<char *> envp;
    for (std::string &s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::fflush(stdout);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Only async-signal-safe calls until exec: this process has the JVM's threads.
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the unprivileged run ended by signal " << WTERMSIG(status);
    const int code = WEXITSTATUS(status);
    if (code == 126 || code == 127 || code == kExitUnreadableBuild) {
        GTEST_SKIP() << "running as root and could not run this program as nobody (status " << code
                     << "; is the build tree readable by others?)";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the unprivileged run failed; its output is above";
}

// Runs only as the unprivileged child of the test above.
class IsolatedUnprivileged : public HostileInput {};
TEST_F(IsolatedUnprivileged, PermissionOutcomes) {
    const char *dir = std::getenv(kUnprivilegedDir);
    if (dir == nullptr) GTEST_SKIP() << "started by HostileInput.DirectoriesWithoutReadOrSearchPermissionGiveMinusOne";
    ASSERT_NE(geteuid(), 0u);
    if (access(FSSTAT_LIBRARY_PATH, R_OK) != 0) {
        std::fflush(stdout);
        _exit(kExitUnreadableBuild);
    }
    checkPermissionOutcomes(dir);
}

} // namespace
} // namespace fsstat::test
