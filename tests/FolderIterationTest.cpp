// Folder iteration: the entries, names and attributes delivered, and the stream released on every path.
#include "JvmTest.h"

#include <map>

namespace fsstat::test {
namespace {

class FolderIteration : public JniTest {
protected:
    ScopedMode mode{utf8ModeForThisRun()};
};

std::vector<int64_t> lstatValues(const std::string &path) {
    struct stat st;
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return statValues(st);
}

// Entries against lstat through a folder path with a trailing slash, an owner above 65535 (as root), and full
// paths of 1022 to 1025 bytes: the longest that fit the 1024-byte path buffer, and the shortest that do not.
TEST_F(FolderIteration, EntriesArriveWithTheirLstatValuesWhateverTheirPathsLength) {
    TempDir dir;
    dir.file("file", "twelve bytes");
    if (geteuid() == 0) {
        EXPECT_EQ(chown(dir.at("file").c_str(), 70000, 70001), 0);
    }
    std::string deep = dir.path();
    while (deep.size() < 1000) {
        deep += "/" + std::string(std::min<size_t>(200, 999 - deep.size()), 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0750), 0) << deep.size();
    }
    std::map<std::string, std::vector<int64_t>> slashed, got, want, wantDeep;
    for (const Entry &e : listDir(env, dir.path() + "/")) slashed[e.native] = e.values;
    for (const std::string &name : {std::string("file"), deep.substr(dir.path().size() + 1, 200)}) {
        want[name] = lstatValues(dir.at(name));
    }
    EXPECT_EQ(slashed, want);
    EXPECT_NE(jmidSetBasic, nullptr) << "setBasic is looked up once per process";
    for (size_t length = 21; length <= 24; length++) {
        const std::string name(length, 'n');
        close(open((deep + "/" + name).c_str(), O_CREAT | O_WRONLY, 0600));
        wantDeep[name] = lstatValues(deep + "/" + name);
    }
    for (const Entry &e : listDir(env, deep)) got[e.native] = e.values;
    EXPECT_EQ(got, wantDeep);
}

// getFirstFileN on path, which must deliver nothing: its answer, with nothing pending or printed and no
// descriptor left open.
jlong firstOfUndeliverable(JNIEnv *env, const char *path) {
    jstring js = path != nullptr ? env->NewStringUTF(path) : nullptr;
    jobject child = env->AllocObject(env->FindClass("com/durvo/ufe/fsutil/ChildFile"));
    const int before = descriptorsOn();
    jlong handle = 0;
    const std::string printed = printedBy(
        [&] { handle = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, js, child); });
    EXPECT_EQ(printed, "") << path;
    EXPECT_EQ(thrown(env), "") << path;
    EXPECT_EQ(descriptorsOn(), before) << path;
    return handle;
}

TEST_F(FolderIteration, NothingToDeliverGivesMinusOneAndLeavesNoDescriptor) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.at("empty").c_str(), 0700), 0);
    dir.file("regular");
    dir.lockedFolders();
    Unprivileged unprivileged;
    for (const char *name : {"empty", "missing", "regular", "noread", "nosearch", "nosearch/sub"}) {
        EXPECT_EQ(firstOfUndeliverable(env, dir.at(name).c_str()), -1) << name;
    }
    EXPECT_EQ(firstOfUndeliverable(env, ""), -1);
    EXPECT_EQ(firstOfUndeliverable(env, nullptr), -1) << "a path that cannot be converted";
}

// Without a folder path the stream alone finds the entries.
TEST_F(FolderIteration, NextWithoutTheFolderPathReadsTheStream) {
    TempDir dir;
    dir.file("one");
    dir.file("two");
    jstring js = env->NewStringUTF(dir.path().c_str());
    jobject child = env->AllocObject(env->FindClass("com/durvo/ufe/fsutil/ChildFile"));
    const jlong handle = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, js, child);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, nullptr, child), JNI_TRUE);
    EXPECT_EQ(Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, nullptr, child), JNI_FALSE);
    Java_com_durvo_ufe_fsutil_FolderIteratorNix_closeSearchHandleN(env, nullptr, handle);
}

// In a process whose first child object has no setBasic: nothing is delivered, and the lookup error is pending.
using IsolatedChildWithoutSetBasic = JniTest;
TEST_F(IsolatedChildWithoutSetBasic, DeliveriesFailWithNoSuchMethodError) {
    TempDir dir;
    dir.file("entry");
    jobject child = env->AllocObject(env->FindClass("NoSetBasic"));
    jstring js = env->NewStringUTF(dir.path().c_str());
    const int before = descriptorsOn();
    EXPECT_EQ(Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, js, child), -1);
    EXPECT_EQ(thrown(env).substr(0, 28), "java.lang.NoSuchMethodError:");
    EXPECT_EQ(descriptorsOn(), before);
    DIR *stream = opendir(dir.path().c_str());  // a search handle is the stream's address
    const jlong handle = static_cast<jlong>(reinterpret_cast<intptr_t>(stream));
    EXPECT_EQ(Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, js, child), 255);
    EXPECT_EQ(thrown(env).substr(0, 28), "java.lang.NoSuchMethodError:");
    closedir(stream);
}

} // namespace
} // namespace fsstat::test
