// Folder iteration: the entries and attributes delivered, and the stream released on every path.
#include "Listing.h"

#include <sys/socket.h>
#include <sys/un.h>

namespace fsstat::test {
namespace {

class FolderIteration : public ListingTest {
protected:
    // Every entry of dir keyed by its bytes on disk, each delivered once.
    std::map<std::string, Entry> listAll(const std::string &dir) {
        std::map<std::string, Entry> entries;
        for (Entry &e : lister->list(dir)) {
            EXPECT_TRUE(entries.emplace(e.native, e).second) << "delivered twice: " << hex(e.native);
        }
        return entries;
    }
};

std::vector<int64_t> lstatValues(const std::string &path) {
    struct stat st;
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return statValues(st);
}

TEST_F(FolderIteration, DeliversEntriesWithTheirLstatAttributesAndSkipsSockets) {
    TempDir dir;
    dir.file("file", "twelve bytes");
    ASSERT_EQ(mkdir(dir.at("sub").c_str(), 0750), 0);
    ASSERT_EQ(mkfifo(dir.at("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("file", dir.at("link").c_str()), 0);
    ASSERT_EQ(symlink("no-such-target", dir.at("dangling").c_str()), 0);
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", dir.at("socket").c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);

    auto entries = listAll(dir.path());
    close(sock);
    std::vector<std::string> names;
    for (auto &[name, e] : entries) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"dangling", "fifo", "file", "link", "sub"}));
    for (auto &[name, e] : entries) EXPECT_EQ(e.values, lstatValues(dir.at(name))) << name;
    EXPECT_TRUE(S_ISLNK(static_cast<mode_t>(entries["dangling"].values[2])));
}

TEST_F(FolderIteration, TrailingSlashFindsTheSameEntries) {
    TempDir dir;
    dir.file("a");
    dir.file("b");
    auto plain = listAll(dir.path()), slashed = listAll(dir.path() + "/");
    ASSERT_EQ(plain.size(), 2u);
    ASSERT_EQ(slashed.size(), 2u);
    for (auto &[name, e] : plain) EXPECT_EQ(slashed[name].values, e.values) << name;
}

TEST_F(FolderIteration, NothingToDeliverGivesMinusOneAndLeavesNoDescriptor) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.at("empty").c_str(), 0700), 0);
    dir.file("regular");
    for (const std::string &path : {dir.at("empty"), dir.at("missing"), dir.at("regular"), std::string("")}) {
        EXPECT_EQ(firstOfUndeliverable(path), -1) << path;
    }
}

TEST_F(FolderIteration, TwoEntriesGiveHandleTrueFalseFalse) {
    TempDir dir;
    dir.file("one");
    dir.file("two");
    listAll(dir.path());  // the JVM opens what it needs for a first listing once
    const int before = openDescriptors();
    jstring js = env->NewStringUTF(dir.path().c_str());
    jobject child = lister->child();
    jlong handle = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, js, child);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(openDescriptors(), before + 1);
    for (jboolean more : {JNI_TRUE, JNI_FALSE, JNI_FALSE}) {
        EXPECT_EQ(Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, js, child), more);
    }
    EXPECT_EQ(openDescriptors(), before + 1);  // exhausted, still open until closed
    Java_com_durvo_ufe_fsutil_FolderIteratorNix_closeSearchHandleN(env, nullptr, handle);
    EXPECT_EQ(openDescriptors(), before);
}

// In a process whose first child object has no setBasic.
using IsolatedChildWithoutSetBasic = JniTest;
TEST_F(IsolatedChildWithoutSetBasic, FirstDeliveryFailsWithNoSuchMethodErrorAndClosesStream) {
    TempDir dir;
    dir.file("entry");
    jclass cls = env->FindClass("NoSetBasic");
    ASSERT_NE(cls, nullptr);
    jobject child = env->AllocObject(cls);
    ASSERT_NE(child, nullptr);
    jstring js = env->NewStringUTF(dir.path().c_str());
    const int before = openDescriptors();
    EXPECT_EQ(Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, js, child), -1);
    EXPECT_EQ(takePending(env).className, "java.lang.NoSuchMethodError");
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_NE(jclsChildFile, nullptr);  // the class stays cached
    EXPECT_EQ(jmidSetBasic, nullptr);
}

} // namespace
} // namespace fsstat::test
