// The embedded JVM that every test of a process shares, and the helpers the tests have in common.
#ifndef FSSTAT_TESTS_JVMTEST_H
#define FSSTAT_TESTS_JVMTEST_H

#include "JniUtil.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fsstat::test {

extern JNIEnv *gEnv;  // the main thread's, in the process's one JVM

// The run's default charset (FSSTAT_FILE_ENCODING), "" when unset.
inline std::string runEncoding() {
    const char *encoding = std::getenv("FSSTAT_FILE_ENCODING");
    return encoding != nullptr ? encoding : "";
}

// Bytes as "61 C2 B6": compare through this so that a mismatch shows the bytes.
inline std::string hex(const std::string &bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += {digits[c >> 4], digits[c & 15]};
    }
    return out;
}

// The charset mode the Java side chooses for this run's default charset.
inline bool utf8ModeForThisRun() { return runEncoding() == "" || runEncoding() == "UTF-8"; }

// A Java byte[] (a local reference) holding bytes, and the bytes a byte[] holds.
inline jbyteArray javaBytes(JNIEnv *env, const std::string &bytes) {
    jbyteArray a = env->NewByteArray(static_cast<jsize>(bytes.size()));
    env->SetByteArrayRegion(a, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<const jbyte *>(bytes.data()));
    return a;
}
inline std::string bytesOf(JNIEnv *env, jobject array) {
    if (array == nullptr) return "<null>";
    auto a = static_cast<jbyteArray>(array);
    std::string out(static_cast<size_t>(env->GetArrayLength(a)), '\0');
    env->GetByteArrayRegion(a, 0, static_cast<jsize>(out.size()), reinterpret_cast<jbyte *>(out.data()));
    return out;
}

// A Java string as real UTF-8 ("<null>" for null), and a Java string made from real UTF-8 (U+0000 and
// supplementary characters allowed): Java's own codec both ways.
inline std::string utf8(JNIEnv *env, jstring js) {
    if (js == nullptr) return "<null>";
    env->PushLocalFrame(4);
    jmethodID getBytes = env->GetMethodID(env->FindClass("java/lang/String"), "getBytes", "(Ljava/lang/String;)[B");
    jobject bytes = env->CallObjectMethod(js, getBytes, env->NewStringUTF("UTF-8"));
    env->ExceptionClear();
    const std::string out = bytesOf(env, bytes);
    env->PopLocalFrame(nullptr);
    return out;
}
inline jstring newJavaString(JNIEnv *env, const std::string &utf8Text) {
    env->PushLocalFrame(4);
    jclass cls = env->FindClass("java/lang/String");
    jmethodID ctor = env->GetMethodID(cls, "<init>", "([BLjava/lang/String;)V");
    jobject js = env->NewObject(cls, ctor, javaBytes(env, utf8Text), env->NewStringUTF("UTF-8"));
    env->ExceptionClear();
    return static_cast<jstring>(env->PopLocalFrame(js));
}

// The pending exception as its toString() ("class: message"), cleared; "" when none is pending.
inline std::string thrown(JNIEnv *env) {
    jthrowable exc = env->ExceptionOccurred();
    if (exc == nullptr) return "";
    env->ExceptionClear();
    jclass cls = env->FindClass("java/lang/Object");
    jmethodID toString = env->GetMethodID(cls, "toString", "()Ljava/lang/String;");
    auto js = static_cast<jstring>(env->CallObjectMethod(exc, toString));
    std::string out = env->ExceptionCheck() ? "toString threw" : utf8(env, js);
    env->ExceptionClear();
    for (jobject ref : {jobject(exc), jobject(cls), jobject(js)}) env->DeleteLocalRef(ref);
    return out;
}

// A test in a local frame of its own that fails if it leaves an exception pending.
class JniTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(env->PushLocalFrame(64), 0); }
    void TearDown() override {
        EXPECT_EQ(thrown(env), "") << "left pending";
        env->PopLocalFrame(nullptr);
    }
    JNIEnv *env = gEnv;
};

// The charset mode, set through init for one scope.
struct ScopedMode {
    explicit ScopedMode(bool utf8) { Java_com_durvo_ufe_fsutil_FolderIteratorNix_init(gEnv, nullptr, utf8); }
    ~ScopedMode() { IS_UTF8_DEFAULT_CHARSET = saved; }
    const int saved = IS_UTF8_DEFAULT_CHARSET;
};

// A file's content, "<none>" when it cannot be opened.
inline std::string contentOf(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<none>";
}

// What run() writes to standard output (descriptor 1, the JVM's warnings too).
template <typename Run>
std::string printedBy(Run run) {
    FILE *file = std::tmpfile();
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(fileno(file), 1);
    run();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    const std::string out = contentOf("/proc/self/fd/" + std::to_string(fileno(file)));
    std::fclose(file);
    return out;
}

// A check's answer of one line per failed case ("" when all pass), each line reported as a failure of its own.
inline void expectNoFailedCases(const std::string &lines) {
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) ADD_FAILURE() << line;
}

// A check's answer of parts joined by sep against named expected parts: a mismatch names its case.
inline void expectCases(const std::string &got, const std::string &sep,
                        const std::vector<std::pair<const char *, std::string>> &cases) {
    size_t at = 0;
    for (const auto &[name, expected] : cases) {
        const size_t end = std::min(got.find(sep, at), got.size());
        EXPECT_EQ(got.substr(at, end - at), expected) << name << ", in " << got;
        at = std::min(end + sep.size(), got.size());
    }
    EXPECT_EQ(got.substr(at), "") << "parts past the named cases";
}

// A fresh directory under /tmp, removed with everything in it at scope end.
struct TempDir {
    TempDir() {
        char name[] = "/tmp/fsstat-test-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~TempDir() {
        // Owner permissions back first, so that locked folders go too.
        auto unlock = [](const char *p, const struct stat *st, int type, FTW *) {
            return type == FTW_D || type == FTW_DNR ? chmod(p, st->st_mode | S_IRWXU) : 0;
        };
        nftw(path_.c_str(), unlock, 16, FTW_PHYS);
        auto removeOne = [](const char *p, const struct stat *, int, FTW *) { return remove(p); };
        nftw(path_.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
    }
    const std::string &path() const { return path_; }
    std::string at(const std::string &name) const { return path_ + "/" + name; }
    // A regular file (name is raw bytes) holding content.
    void file(const std::string &name, const std::string &content = "") const {
        const int fd = open(at(name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size())) << hex(name);
        close(fd);
    }
    // "noread" (mode 0311) and "nosearch" (0644) holding "sub": both refuse their owner.
    void lockedFolders() const {
        for (const char *name : {"noread", "nosearch", "nosearch/sub"}) EXPECT_EQ(mkdir(at(name).c_str(), 0700), 0);
        EXPECT_EQ(chmod(at("noread").c_str(), 0311) | chmod(at("nosearch").c_str(), 0644), 0);
    }

private:
    std::string path_;
};

// The calling thread without its capabilities for one scope: root then meets permissions as anyone does.
class Unprivileged {
public:
    Unprivileged() {
        syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct none[2] = {{0, saved_[0].permitted, 0}, {0, saved_[1].permitted, 0}};
        EXPECT_EQ(syscall(SYS_capset, &header_, none), 0) << std::strerror(errno);
    }
    ~Unprivileged() { syscall(SYS_capset, &header_, saved_); }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
};

// Descriptors the process holds on prefix or below it (the JVM opens files of its own at any time).
inline int descriptorsOn(const std::string &prefix = "/tmp/fsstat-test-") {
    DIR *dp = opendir("/proc/self/fd");
    int count = 0;
    char target[4096];
    for (struct dirent *e = readdir(dp); e != nullptr; e = readdir(dp)) {
        const ssize_t n = readlinkat(dirfd(dp), e->d_name, target, sizeof target);
        count += n > 0 && std::string(target, static_cast<size_t>(n)).rfind(prefix, 0) == 0;
    }
    closedir(dp);
    return count;
}

// The thirteen values of a child file, in delivery order.
inline const char *const kChildFields[][2] = {
    {"device", "J"}, {"inode", "J"}, {"mode", "I"}, {"links", "I"}, {"uid", "I"}, {"gid", "I"}, {"rdev", "J"},
    {"size", "J"}, {"blockSize", "J"}, {"blocks", "J"}, {"accessTime", "J"}, {"modifiedTime", "J"}, {"changeTime", "J"},
};
inline std::vector<int64_t> statValues(const struct stat &st) {
    return {static_cast<int64_t>(st.st_dev), static_cast<int64_t>(st.st_ino), static_cast<int32_t>(st.st_mode),
            static_cast<int32_t>(st.st_nlink), static_cast<int32_t>(st.st_uid), static_cast<int32_t>(st.st_gid),
            static_cast<int64_t>(st.st_rdev), st.st_size, st.st_blksize, st.st_blocks, st.st_atime, st.st_mtime,
            st.st_ctime};
}

struct Entry {
    std::string java;    // the delivered name, as UTF-8
    std::string native;  // what getNativeFilePath finds for dir + "/" + the delivered name; "<elsewhere>" outside dir
    std::vector<int64_t> values;  // kChildFields
};

// Every entry of dir through the iteration natives, as FolderIteratorNix walks it, each into a fresh child file.
inline std::vector<Entry> listDir(JNIEnv *env, const std::string &dir) {
    std::vector<Entry> entries;
    env->PushLocalFrame(8);
    jclass cls = env->FindClass("com/durvo/ufe/fsutil/ChildFile");
    jmethodID concat =
        env->GetMethodID(env->FindClass("java/lang/String"), "concat", "(Ljava/lang/String;)Ljava/lang/String;");
    jstring jsDir = env->NewStringUTF(dir.c_str()), jsPrefix = env->NewStringUTF((dir + "/").c_str());
    jobject child = env->AllocObject(cls);
    const jlong handle = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, jsDir, child);
    // A bound, so that an iteration that never ends fails instead of hanging.
    for (jboolean more = handle != -1; more == JNI_TRUE && entries.size() < 10000;) {
        env->PushLocalFrame(4);
        Entry e;
        jobject jsName = env->GetObjectField(child, env->GetFieldID(cls, "name", "Ljava/lang/String;"));
        auto jsFull = static_cast<jstring>(env->CallObjectMethod(jsPrefix, concat, jsName));
        char *full = env->ExceptionCheck() ? nullptr : getNativeFilePath(env, jsFull);
        const bool within = full != nullptr && std::strncmp(full, (dir + "/").c_str(), dir.size() + 1) == 0;
        e.native = within ? full + dir.size() + 1 : "<elsewhere>";
        e.java = utf8(env, static_cast<jstring>(jsName));
        std::free(full);
        for (auto &f : kChildFields) {
            jfieldID id = env->GetFieldID(cls, f[0], f[1]);
            e.values.push_back(f[1][0] == 'J' ? env->GetLongField(child, id) : env->GetIntField(child, id));
        }
        entries.push_back(e);
        env->PopLocalFrame(nullptr);
        env->DeleteLocalRef(child);
        child = env->AllocObject(cls);
        more = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, jsDir, child);
        EXPECT_LE(more, 1);
    }
    if (handle != -1) Java_com_durvo_ufe_fsutil_FolderIteratorNix_closeSearchHandleN(env, nullptr, handle);
    env->PopLocalFrame(nullptr);
    return entries;
}

// A static method's String answer, or "Class: message" of what it threw.
template <typename... Args>
std::string callStatic(JNIEnv *env, jclass cls, const char *name, const char *sig, Args... args) {
    jmethodID method = env->GetStaticMethodID(cls, name, sig);
    if (method == nullptr) return std::string("no method ") + name + sig + ": " + thrown(env);
    auto js = static_cast<jstring>(env->CallStaticObjectMethod(cls, method, args...));
    const std::string failed = thrown(env);
    return failed.empty() ? utf8(env, js) : failed;
}

// A test driving the static methods of one check class (com/durvo/ufe/fsutil/NAME) in the run's charset mode.
class ChecksTest : public JniTest {
protected:
    explicit ChecksTest(const char *name) : name_(std::string("com/durvo/ufe/fsutil/") + name) {}
    void SetUp() override {
        JniTest::SetUp();
        checks = env->FindClass(name_.c_str());
        ASSERT_NE(checks, nullptr) << thrown(env);
    }
    template <typename... Args>
    std::string call(const char *method, const char *sig, Args... args) {
        return callStatic(env, checks, method, sig, args...);
    }
    // A static method of another check class, named as for the constructor.
    template <typename... Args>
    std::string callIn(const char *name, const char *method, const char *sig, Args... args) {
        jclass other = env->FindClass((std::string("com/durvo/ufe/fsutil/") + name).c_str());
        return other != nullptr ? callStatic(env, other, method, sig, args...) : thrown(env);
    }
    jstring str(const std::string &s) { return env->NewStringUTF(s.c_str()); }

    ScopedMode mode{utf8ModeForThisRun()};
    jclass checks = nullptr;

private:
    std::string name_;
};

} // namespace fsstat::test

#endif
