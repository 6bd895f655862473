// The fsstat: file system's channels, stores, attribute views and directory
// streams: what they do to the disk is what the system's own calls (the
// oracle here) then report, and where the JDK has the same they behave alike.
#include "JvmTest.h"

#include <mntent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>

#include <iterator>
#include <thread>

namespace fsstat::test {
namespace {

struct Channels : ChecksTest {
    Channels() : ChecksTest("nio/ChannelChecks") {}
};
struct Attributes : ChecksTest {
    Attributes() : ChecksTest("nio/AttributeChecks") {}
};
struct Directories : ChecksTest {
    Directories() : ChecksTest("nio/DirectoryChecks") {}
};

TEST_F(Channels, OpenOptionsDoWhatTheSystemsOpenDoes) {
    TempDir dir;
    const std::string e9 = runEncoding() == "ISO-8859-1" ? "\xC3\xA9" : "\\xE9";  // \xE9 as display shows it
    const std::string shownF = dir.at("f") + e9, shownNone = dir.at("none") + e9;
    ASSERT_EQ(symlink("f\xE9", dir.at("link").c_str()), 0);
    struct Row {
        const char *options;
        bool exists;  // f holds "old" first
        const char *text;
        std::string result;  // "at P wrote N read R" or the start of "Class: message"
        const char *after;   // the file's content after, "<none>" when gone
        const char *name = "f\xE9";
    } rows[] = {
        {"READ", true, "", "at 0 wrote 0 read old", "old"},
        {"READ,WRITE", true, "xy", "at 0 wrote 2 read xyd", "xyd"},
        {"WRITE,APPEND", true, "xy", "at 3 wrote 2 read ", "oldxy"},
        {"WRITE,TRUNCATE_EXISTING", true, "xy", "at 0 wrote 2 read ", "xy"},
        {"WRITE,CREATE_NEW", true, "xy", "java.nio.file.FileAlreadyExistsException: " + shownF, "old"},
        {"WRITE,CREATE,SYNC,DSYNC", true, "xy", "at 0 wrote 2 read ", "xyd"},
        {"READ,WRITE,DELETE_ON_CLOSE", true, "xy", "at 0 wrote 2 read xyd", "<none>"},
        {"WRITE", false, "xy", "java.nio.file.NoSuchFileException: " + shownNone, "<none>", "none\xE9"},
        {"WRITE,CREATE,perms=r--------", false, "xy", "at 0 wrote 2 read ", "xy", "none\xE9"},
        {"READ,CREATE_NEW", false, "", "java.nio.file.NoSuchFileException: " + shownNone, "<none>", "none\xE9"},
        {"READ,APPEND", true, "", "java.lang.IllegalArgumentException: READ + APPEND not allowed", "old"},
        // A final link is refused, as open(O_NOFOLLOW) refuses it.
        {"READ,NOFOLLOW_LINKS", true, "", "java.io.IOException: Too many levels of symbolic links (NOFOLLOW_LINKS specified)",
         "old", "link"},
    };
    // The JDK's channel made over our descriptor, and the reopen through /proc/self/fd of JVMs without that.
    for (const bool reopen : {false, true}) {
        const char *route = reopen ? "reopened" : "made over the descriptor";
        for (const Row &r : rows) {
            unlink(dir.at("f\xE9").c_str());
            unlink(dir.at("none\xE9").c_str());
            if (r.exists) dir.file("f\xE9", "old");
            const std::string path = dir.at(r.name);
            env->PushLocalFrame(8);
            const std::string got = call("open", "([BLjava/lang/String;Ljava/lang/String;Z)Ljava/lang/String;",
                                         javaBytes(env, path), str(r.options), str(r.text), static_cast<jboolean>(reopen));
            env->PopLocalFrame(nullptr);
            EXPECT_EQ(got.substr(0, r.result.size()), r.result) << r.options << ", " << route;
            EXPECT_EQ(contentOf(path), r.after) << r.options << ", " << route;
            struct stat st;
            if (std::string(r.options).find("perms=r--") != std::string::npos) {
                ASSERT_EQ(stat(path.c_str(), &st), 0);
                EXPECT_EQ(st.st_mode & 0777, 0400u) << "its own mode, yet written through the channel, " << route;
            }
        }
        EXPECT_EQ(descriptorsOn(dir.path()), 0) << "every open's descriptors closed, " << route;
    }
}

TEST_F(Channels, ChannelsAreTheJdksOwnCloseAndInterruptEndABlockedRead) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.at("fifo\xE9").c_str(), 0600), 0);
    dir.file("file\xE9", "content");
    for (const bool reopen : {false, true}) {
        // A writer that holds the FIFO open and never writes, so that reads wait.
        std::thread writer([&] {
            const int fd = open(dir.at("fifo\xE9").c_str(), O_WRONLY);
            sleep(2);
            close(fd);
        });
        SCOPED_TRACE(reopen ? "reopened" : "made over the descriptor");
        expectCases(call("channels", "([B[BZ)Ljava/lang/String;", javaBytes(env, dir.at("fifo\xE9")),
                         javaBytes(env, dir.at("file\xE9")), static_cast<jboolean>(reopen)),
                    " ",
                    {{"read ended by a close", "AsynchronousCloseException"}, {"open after the close", "false"},
                     {"read ended by an interrupt", "ClosedByInterruptException"}, {"open after it", "false"},
                     {"lock valid", "true"}, {"transferred after a mapped write", "Montent"}});
        writer.join();
        EXPECT_EQ(contentOf(dir.at("file\xE9")), "Montent") << "written through the mapping";
        EXPECT_EQ(descriptorsOn(dir.path()), 0);
        dir.file("file\xE9", "content");
    }
}

TEST_F(Attributes, FileStoreIsTheMountOfTheFileWithStatvfsFigures) {
    TempDir dir;
    struct statvfs vfs;
    struct stat st;
    ASSERT_EQ(statvfs(dir.path().c_str(), &vfs) | stat(dir.path().c_str(), &st), 0);
    std::string name, type;  // the last mount of the directory's device, by getmntent
    FILE *table = setmntent("/proc/self/mounts", "r");
    for (struct mntent *m = getmntent(table); m != nullptr; m = getmntent(table)) {
        struct stat mst;
        if (stat(m->mnt_dir, &mst) == 0 && mst.st_dev == st.st_dev) {
            name = m->mnt_fsname;
            type = m->mnt_type;
        }
    }
    endmntent(table);
    std::istringstream got(call("store", "([B)Ljava/lang/String;", javaBytes(env, dir.path())));
    const std::vector<std::string> f{std::istream_iterator<std::string>(got), {}};
    ASSERT_EQ(f.size(), 18u);
    // Free figures move while the test runs: compare the fixed ones.
    auto s = [](auto v) { return std::to_string(v); };
    EXPECT_EQ(std::vector<std::string>({f[0], f[1], f[2], f[3], f[6], f[7], f[8], f[9], f[12], f[15], f[16], f[17]}),
              std::vector<std::string>({name, type, vfs.f_flag & ST_RDONLY ? "true" : "false",
                                        s(vfs.f_blocks * vfs.f_frsize), s(vfs.f_frsize), s(vfs.f_bsize), s(vfs.f_frsize),
                                        s(vfs.f_blocks), s(vfs.f_files), s(vfs.f_fsid), s(vfs.f_flag), s(vfs.f_namemax)}));
}

TEST_F(Attributes, UserAttributesReachTheFilesOwnNamesAndFailAsTheJdksView) {
    TempDir dir;
    dir.file("f\xE9");
    if (setxattr(dir.at("f\xE9").c_str(), "user.caf\xE9", "v1", 2, 0) != 0) {
        GTEST_SKIP() << "no user attributes in " << dir.path() << ": " << std::strerror(errno);
    }
    ASSERT_EQ(symlink("f\xE9", dir.at("l").c_str()), 0);
    expectCases(call("userAttributes", "([B)Ljava/lang/String;", javaBytes(env, dir.path())), "; ",
                {{"list", "1"}, {"size", "2"}, {"write", "3"}, {"get through a link", "[110, 0, 119]"},
                 {"read into a short buffer", "FileSystemException: Insufficient space in buffer"}, {"user:*", "2"},
                 {"delete", "deleted"}, {"read a missing one", "FileSystemException: No data available"},
                 {"write a name holding NUL", "IllegalArgumentException"},
                 {"list of a link itself", "FileSystemException: Too many levels of symbolic links or unable to "
                                           "access attributes of symbolic link"},
                 {"list of a missing file", "NoSuchFileException: null"}, {"the store supports the view", "true"}});
    // What the system sees: caf\xE9 gone, and w\u00e9 under the bytes the charset gives it (ISO-8859-1's where
    // it has none).
    char names[256], value[16];
    const ssize_t n = listxattr(dir.at("f\xE9").c_str(), names, sizeof names);
    const std::string name = runEncoding() == "ISO-8859-1" || runEncoding() == "US-ASCII" ? "user.w\xE9" : "user.w\xC3\xA9";
    EXPECT_EQ(hex(std::string(names, static_cast<size_t>(std::max<ssize_t>(n, 0)))), hex(name + '\0'));
    const ssize_t size = getxattr(dir.at("f\xE9").c_str(), name.c_str(), value, sizeof value);
    EXPECT_EQ(hex(std::string(value, static_cast<size_t>(std::max<ssize_t>(size, 0)))), hex(std::string("n\0w", 3)));
    // A copy with its attributes takes them along, by their bytes.
    ASSERT_EQ(setxattr(dir.at("f\xE9").c_str(), "user.\xB6", "v2", 2, 0), 0);
    EXPECT_EQ(callIn("nio/PathChecks", "op", "(Ljava/lang/String;[B[B)Ljava/lang/String;", str("copyAll"),
                     javaBytes(env, dir.at("f\xE9")), javaBytes(env, dir.at("g\xE9")))
                  .substr(0, 5),
              "path ");
    EXPECT_EQ(getxattr(dir.at("g\xE9").c_str(), "user.\xB6", value, sizeof value), 2);
    EXPECT_EQ(getxattr(dir.at("g\xE9").c_str(), name.c_str(), value, sizeof value), 3);
}

TEST_F(Attributes, DosFlagsLiveInTheAttributeWhereTheJdkKeepsThem) {
    TempDir dir;
    dir.file("f", "ab");
    const std::string f = dir.at("f");
    if (setxattr(f.c_str(), "user.probe", "", 0, 0) != 0) {
        GTEST_SKIP() << "no user attributes in " << dir.path() << ": " << std::strerror(errno);
    }
    const char *sig = "([BLjava/lang/String;)Ljava/lang/String;";
    EXPECT_EQ(call("dos", sig, javaBytes(env, f), env->NewStringUTF("read")),
              "{archive=false, hidden=false, readonly=false, size=2, system=false} ---- true | same");
    EXPECT_EQ(call("dos", sig, javaBytes(env, f), env->NewStringUTF("set")), "");
    char value[32];
    ssize_t n = getxattr(f.c_str(), "user.DOSATTRIB", value, sizeof value);
    EXPECT_EQ(hex(std::string(value, static_cast<size_t>(std::max<ssize_t>(n, 0)))), hex(std::string("0x22\0", 5)));
    // As Samba writes it, with no NUL.
    ASSERT_EQ(setxattr(f.c_str(), "user.DOSATTRIB", "0x21", 4, 0), 0);
    EXPECT_EQ(call("dos", sig, javaBytes(env, f), env->NewStringUTF("read")),
              "{archive=true, hidden=false, readonly=true, size=2, system=false} r--a true | same");
    ASSERT_EQ(setxattr(f.c_str(), "user.DOSATTRIB", "0x", 2, 0), 0);
    EXPECT_EQ(call("dos", sig, javaBytes(env, f), env->NewStringUTF("read")),
              "IOException: Value of user.DOSATTRIB attribute is invalid | same");
}

TEST_F(Directories, SecureDirectoryStreamsReachPastPathMaxAndStayWithTheirDirectory) {
    TempDir dir;
    const std::string name(250, '\xE9');
    const int depth = 20;  // 20 x 251 bytes: past PATH_MAX
    int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < depth; i++) {
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0700), 0);
        const int down = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = down;
    }
    close(fd);
    const char *sig = "([B[BI)Ljava/lang/String;";
    const std::string got = call("secureDown", sig, javaBytes(env, dir.path()), javaBytes(env, name), depth);
    const std::string wholeLength = std::to_string(dir.path().size() + 251 * depth);
    expectCases(got, " ",
                {{"read at the bottom", "deep"}, {"size through the view", "4"}, {"the bottom is a directory", "true"},
                 {"the listed path's length", wholeLength}, {"the whole path", "FileSystemException"}});
    // The system's view of g\xE9, one level above the bottom, reached the same way.
    fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < depth - 1; i++) {
        const int down = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = down;
    }
    struct stat st;
    ASSERT_EQ(fstatat(fd, "g\xE9", &st, AT_SYMLINK_NOFOLLOW), 0);
    EXPECT_EQ(std::vector<long>({st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec}), std::vector<long>({4, 3, 5}));
    EXPECT_NE(fstatat(fd, (name + "/f\xE9").c_str(), &st, AT_SYMLINK_NOFOLLOW), 0) << "moved, not copied";
    close(fd);
    expectCases(call("secureRemove", sig, javaBytes(env, dir.path()), javaBytes(env, name), depth), " ",
                {{"delete in a closed stream", "ClosedDirectoryStreamException"},
                 {"iterate a closed stream", "IllegalStateException"}});
    EXPECT_NE(lstat(dir.at(name).c_str(), &st), 0) << "every level removed";
    EXPECT_EQ(descriptorsOn(dir.path()), 0);

    ASSERT_EQ(mkdir(dir.at("a").c_str(), 0700), 0);
    EXPECT_EQ(call("renamedUnder", "([B)Ljava/lang/String;", javaBytes(env, dir.path())), "true false 1");
}

// A change that does not follow links, or a copy with attributes, raced against a thread that swaps the file
// for a link to a victim outside the tree: the victim keeps its mode, owner, times and attributes. A file
// opened to be read is checked on what was opened: a link to a directory swapped in is refused at the open. Bounded in
// rounds and time, in one charset's run; FSSTAT_RACE_ROUNDS=N runs N rounds of each whatever they take.
TEST_F(Attributes, AttributeChangesAndCopiesNeverReachTheTargetOfALinkSwappedIn) {
    if (runEncoding() != "" && runEncoding() != "UTF-8") GTEST_SKIP() << "raced in the UTF-8 run only";
    const char *given = std::getenv("FSSTAT_RACE_ROUNDS");
    const int rounds = given != nullptr ? std::atoi(given) : 1000000;
    const jlong millis = given != nullptr ? 0 : 500;
    for (const std::string kind : {"view", "secure", "copy", "read"}) {
        TempDir tree, outside;
        outside.file("victim", "secret");
        const std::string victim = kind == "read" ? outside.path() : outside.at("victim");
        const struct timespec times[2] = {{5000, 0}, {6000, 0}};
        ASSERT_EQ(chmod(victim.c_str(), 0600) | utimensat(AT_FDCWD, victim.c_str(), times, 0), 0);
        struct stat before, after;
        ASSERT_EQ(lstat(victim.c_str(), &before), 0);
        const std::string got = call("race", "(Ljava/lang/String;[B[BIJ)Ljava/lang/String;", str(kind.c_str()),
                                     javaBytes(env, tree.path()), javaBytes(env, victim), rounds, millis);
        EXPECT_EQ(got.rfind("rounds ", 0), 0u) << kind << ": " << got;
        EXPECT_EQ(got.find(" swaps 0 "), std::string::npos) << kind << ": no race without swaps";
        EXPECT_EQ(got.find(" done 0"), std::string::npos) << kind << ": a file, when it was one, was changed";
        if (kind == "read") continue;  // a stream of the directory failed the call
        if (kind != "copy") {  // the file kept aside, which f was in turn
            ASSERT_EQ(lstat(tree.at("plain").c_str(), &after), 0);
            EXPECT_EQ(after.st_mode & 07777, 0777u) << kind;
        }
        ASSERT_EQ(lstat(victim.c_str(), &after), 0);
        EXPECT_EQ(std::vector<long>({after.st_mode, after.st_uid, after.st_gid, after.st_mtim.tv_sec,
                                     after.st_atim.tv_sec}),
                  std::vector<long>({before.st_mode, before.st_uid, before.st_gid, 6000, 5000}))
            << kind << " changed the victim, " << got;
        EXPECT_LE(listxattr(victim.c_str(), nullptr, 0), 0) << kind << " gave the victim an attribute";
        EXPECT_EQ(contentOf(victim), "secret") << kind;
    }
}

TEST_F(Directories, WatchServiceSeesWhatTheDefaultOneSeesByExactNamesAndLeavesNothingOpen) {
    TempDir theirs, ours;
    auto watchDescriptors = [] { return descriptorsOn("anon_inode:inotify") + descriptorsOn("anon_inode:[eventfd]"); };
    const int before = watchDescriptors();
    const std::string y = "\\xED\\xA0\\x80\\xC2\\xB6..";  // Y as spelled
    // Each step's outcome, led by the steps where the default service differs, and " | poller left running".
    expectCases(call("watchSameAsDefault", "(Ljava/lang/String;[B)Ljava/lang/String;", str(theirs.path()),
                     javaBytes(env, ours.path())),
                " | ",
                {{"register again: the same key", "true"},
                 {"register a missing directory", "NoSuchFileException"},
                 {"register a file", "NotDirectoryException"},
                 {"register with another provider's service", "ProviderMismatchException"},
                 {"register OVERFLOW alone", "IllegalArgumentException"},
                 {"register a kind of our own", "UnsupportedOperationException"},
                 {"register with a modifier", "UnsupportedOperationException"},
                 {"events while the directory lives",
                  "ENTRY_CREATE a\\xE9 1 listed, ENTRY_MODIFY a\\xE9 2 listed, ENTRY_CREATE b" + y + " 1, ENTRY_MODIFY b" +
                      y + " 1, ENTRY_DELETE b" + y + " 1, ENTRY_CREATE m" + y + " 1 listed, ENTRY_CREATE end 1 listed, "
                      "true true"},
                 {"events as the directory goes",
                  "ENTRY_DELETE a\\xE9 1, ENTRY_DELETE m" + y + " 1, ENTRY_DELETE end 1, false false"},
                 {"close: take, key, poll, register",
                  "ClosedWatchServiceException false ClosedWatchServiceException ClosedWatchServiceException"}});
    EXPECT_EQ(watchDescriptors(), before);
}

} // namespace
} // namespace fsstat::test
