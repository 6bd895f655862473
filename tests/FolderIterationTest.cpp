// Folder iteration: which entries are delivered, with which attributes, and
// that the directory stream is released on every path.
#include "JniUtil.h"
#include "JvmTest.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace fsstat::test {
namespace {

// The thirteen values in delivery order, as the child file keeps them.
const char *const kLongOrInt[][2] = {
    {"device", "J"}, {"inode", "J"}, {"mode", "I"}, {"links", "I"}, {"uid", "I"}, {"gid", "I"}, {"rdev", "J"},
    {"size", "J"}, {"blockSize", "J"}, {"blocks", "J"}, {"accessTime", "J"}, {"modifiedTime", "J"},
    {"changeTime", "J"},
};

struct Delivered {
    std::string name;  // as bytes on disk, through getNativeFilePath
    std::vector<int64_t> values;
};

class FolderIteration : public JniTest {
protected:
    void SetUp() override {
        JniTest::SetUp();
        childClass = env->FindClass("com/durvo/ufe/fsutil/ChildFile");
        ASSERT_NE(childClass, nullptr);
        childCtor = env->GetMethodID(childClass, "<init>", "()V");
        ASSERT_NE(childCtor, nullptr);
        savedMode = IS_UTF8_DEFAULT_CHARSET;
        const char *encoding = std::getenv("FSSTAT_FILE_ENCODING");
        // The mode the Java side would choose for this run's default charset.
        Java_com_durvo_ufe_fsutil_FolderIteratorNix_init(
            env, nullptr, encoding != nullptr && std::strcmp(encoding, "UTF-8") == 0 ? JNI_TRUE : JNI_FALSE);
    }
    void TearDown() override {
        IS_UTF8_DEFAULT_CHARSET = savedMode;
        JniTest::TearDown();
    }

    jobject newChild() {
        jobject child = env->NewObject(childClass, childCtor);
        EXPECT_FALSE(env->ExceptionCheck());
        return child;
    }

    Delivered read(jstring jsDir, jobject child) {
        Delivered d;
        jfieldID nameField = env->GetFieldID(childClass, "name", "Ljava/lang/String;");
        auto jsName = static_cast<jstring>(env->GetObjectField(child, nameField));
        char *native = getNativeFilePath(env, jsName);
        // The bare name converts back on its own when it exists in the
        // directory; resolve it there to get the bytes on disk.
        jclass stringClass = env->FindClass("java/lang/String");
        jmethodID concat = env->GetMethodID(stringClass, "concat", "(Ljava/lang/String;)Ljava/lang/String;");
        auto jsSlash = static_cast<jstring>(env->CallObjectMethod(jsDir, concat, env->NewStringUTF("/")));
        EXPECT_FALSE(env->ExceptionCheck());
        auto jsFull = static_cast<jstring>(env->CallObjectMethod(jsSlash, concat, jsName));
        EXPECT_FALSE(env->ExceptionCheck());
        char *full = getNativeFilePath(env, jsFull);
        std::string prefix = utf8(env, jsDir) + "/";
        d.name = full != nullptr && std::strncmp(full, prefix.c_str(), prefix.size()) == 0 ? full + prefix.size()
                                                                                          : "<not in dir>";
        std::free(native);
        std::free(full);
        for (auto &field : kLongOrInt) {
            jfieldID id = env->GetFieldID(childClass, field[0], field[1]);
            d.values.push_back(field[1][0] == 'J' ? env->GetLongField(child, id) : env->GetIntField(child, id));
        }
        for (jobject ref : {static_cast<jobject>(jsName), static_cast<jobject>(stringClass),
                            static_cast<jobject>(jsSlash), static_cast<jobject>(jsFull)}) {
            env->DeleteLocalRef(ref);
        }
        return d;
    }

    // Every entry of dir, through the three natives, keyed by name.
    std::map<std::string, Delivered> listAll(const std::string &dir) {
        std::map<std::string, Delivered> entries;
        jstring jsDir = env->NewStringUTF(dir.c_str());
        jobject child = newChild();
        jlong handle = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, jsDir, child);
        EXPECT_FALSE(env->ExceptionCheck());
        if (handle == -1) return entries;
        for (jboolean more = JNI_TRUE; more == JNI_TRUE;) {
            Delivered d = read(jsDir, child);
            EXPECT_EQ(entries.count(d.name), 0u) << "delivered twice: " << hex(d.name);
            entries[d.name] = d;
            env->DeleteLocalRef(child);
            child = newChild();
            more = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, jsDir, child);
            EXPECT_FALSE(env->ExceptionCheck());
            EXPECT_TRUE(more == JNI_TRUE || more == JNI_FALSE) << static_cast<int>(more);
        }
        Java_com_durvo_ufe_fsutil_FolderIteratorNix_closeSearchHandleN(env, nullptr, handle);
        env->DeleteLocalRef(child);
        env->DeleteLocalRef(jsDir);
        return entries;
    }

    static std::vector<int64_t> lstatValues(const std::string &path) {
        struct stat st;
        EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
        return {static_cast<int64_t>(st.st_dev), static_cast<int64_t>(st.st_ino), static_cast<int32_t>(st.st_mode),
                static_cast<int32_t>(st.st_nlink), static_cast<int32_t>(st.st_uid), static_cast<int32_t>(st.st_gid),
                static_cast<int64_t>(st.st_rdev), st.st_size, st.st_blksize, st.st_blocks, st.st_atime,
                st.st_mtime, st.st_ctime};
    }

    jclass childClass = nullptr;
    jmethodID childCtor = nullptr;
    int savedMode = 0;
};

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

    std::map<std::string, Delivered> entries = listAll(dir.path());
    close(sock);
    std::vector<std::string> names;
    for (auto &[name, d] : entries) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"dangling", "fifo", "file", "link", "sub"}));
    for (auto &[name, d] : entries) EXPECT_EQ(d.values, lstatValues(dir.at(name))) << name;
    EXPECT_TRUE(S_ISLNK(static_cast<mode_t>(entries["dangling"].values[2])));
}

TEST_F(FolderIteration, TrailingSlashFindsTheSameEntries) {
    TempDir dir;
    dir.file("a");
    dir.file("b");
    auto plain = listAll(dir.path());
    auto slashed = listAll(dir.path() + "/");
    ASSERT_EQ(plain.size(), 2u);
    ASSERT_EQ(slashed.size(), 2u);
    for (auto &[name, d] : plain) EXPECT_EQ(slashed[name].values, d.values) << name;
}

TEST_F(FolderIteration, NothingToDeliverGivesMinusOneAndLeavesNoDescriptor) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.at("empty").c_str(), 0700), 0);
    dir.file("regular");
    const int before = openDescriptors();
    for (const std::string &path : {dir.at("empty"), dir.at("missing"), dir.at("regular"), std::string("")}) {
        jstring js = env->NewStringUTF(path.c_str());
        jobject child = newChild();
        EXPECT_EQ(Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, js, child), -1) << path;
        EXPECT_FALSE(env->ExceptionCheck()) << path;
        env->DeleteLocalRef(child);
        env->DeleteLocalRef(js);
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(FolderIteration, TwoEntriesGiveHandleTrueFalseFalse) {
    TempDir dir;
    dir.file("one");
    dir.file("two");
    listAll(dir.path());  // the JVM opens what it needs for a first listing once
    const int before = openDescriptors();
    jstring js = env->NewStringUTF(dir.path().c_str());
    jobject child = newChild();
    jlong handle = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, js, child);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(openDescriptors(), before + 1);
    EXPECT_EQ(Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, js, child), JNI_TRUE);
    EXPECT_EQ(Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, js, child), JNI_FALSE);
    EXPECT_EQ(Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, js, child), JNI_FALSE);
    EXPECT_EQ(openDescriptors(), before + 1);  // exhausted, still open until closed
    Java_com_durvo_ufe_fsutil_FolderIteratorNix_closeSearchHandleN(env, nullptr, handle);
    EXPECT_EQ(openDescriptors(), before);
}

// Every name, valid in the default charset or not, comes back to its bytes.
TEST_F(FolderIteration, RawNamesComeBackToTheSameBytes) {
    const std::vector<std::string> names = {
        "plain", "caf\xE9", "a\xC2\xB6"
                            "b",
        "a\xC2\xB6", "\xB6\xB6\xB6", "\xE2\x80\x93\xFF", "A\xC2\xB6\xFF", "\xC2\xB6\xC2\xB6", "x\x7F\x80\xBF",
    };
    TempDir dir;
    for (const std::string &name : names) dir.file(name);
    auto entries = listAll(dir.path());
    ASSERT_EQ(entries.size(), names.size());
    for (const std::string &name : names) EXPECT_EQ(entries.count(name), 1u) << hex(name);
}

// Directories deeper than the path buffer still list, relative to the stream.
TEST_F(FolderIteration, EntriesBeyondThePathBufferAreStillDelivered) {
    TempDir dir;
    std::string deep = dir.path();
    while (deep.size() < 1100) {
        deep += "/" + std::string(200, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    int fd = open((deep + "/leaf").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    auto entries = listAll(deep);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.begin()->second.values, lstatValues(deep + "/leaf"));
}

std::string callCheck(JNIEnv *env, const char *method, const std::string &dir) {
    jclass checks = env->FindClass("ListingChecks");
    if (checks == nullptr) return "ListingChecks not found: " + takePending(env).className;
    jmethodID id = env->GetStaticMethodID(checks, method, "(Ljava/lang/String;)Ljava/lang/String;");
    auto result = static_cast<jstring>(env->CallStaticObjectMethod(checks, id, env->NewStringUTF(dir.c_str())));
    Pending p = takePending(env);
    return p.className.empty() ? utf8(env, result) : p.className + ": " + p.message;
}

TEST_F(FolderIteration, JavaListingClosesItsHandleOnEveryPath) {
    TempDir dir;
    for (const char *name : {"a", "b", "c"}) {
        dir.file(name);
        ASSERT_EQ(chmod(dir.at(name).c_str(), 0640), 0);
    }
    ASSERT_EQ(mkdir(dir.at("d").c_str(), 0750), 0);
    ASSERT_EQ(chmod(dir.at("d").c_str(), 0750), 0);
    EXPECT_EQ(callCheck(env, "iteration", dir.path()), "");
}

TEST_F(FolderIteration, JavaNamesMatchTheLibrarysForm) {
    TempDir dir;
    for (const char *name : {"plain", "caf\xE9", "a\xC2\xB6z", "\xB6\xB6", "\xE2\x80\x93\xFF", "\xF0\x9F\x98\x80"}) {
        dir.file(name);
    }
    EXPECT_EQ(callCheck(env, "names", dir.path()), "");
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
