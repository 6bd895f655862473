// The embedded JVM that every test of a process shares, and small helpers.
#ifndef FSSTAT_TESTS_JVMTEST_H
#define FSSTAT_TESTS_JVMTEST_H

#include "JniUtil.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <jni.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fsstat::test {

// The JNIEnv of the main thread of the process's one JVM.
JNIEnv *jniEnv();

// A test in its own local frame; it fails if a Java exception is left pending.
class JniTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    JNIEnv *env = nullptr;
};

// The charset mode, put back at the end of the scope.
struct SavedMode {
    ~SavedMode() { IS_UTF8_DEFAULT_CHARSET = saved; }
    const int saved = IS_UTF8_DEFAULT_CHARSET;
};
struct ScopedMode : SavedMode {
    explicit ScopedMode(bool utf8) { Java_com_durvo_ufe_fsutil_FolderIteratorNix_init(jniEnv(), nullptr, utf8); }
};

// The run's default charset (FSSTAT_FILE_ENCODING), "" when unset.
inline std::string runEncoding() {
    const char *encoding = std::getenv("FSSTAT_FILE_ENCODING");
    return encoding != nullptr ? encoding : "";
}

// Bytes as "61 C2 B6"; compare with this so a mismatch shows the bytes.
std::string hex(const std::string &bytes);

// A Java string as UTF-8 (real UTF-8, not modified UTF-8).
std::string utf8(JNIEnv *env, jstring js);

// A Java string made from UTF-8 (U+0000 and supplementary characters allowed).
jstring newJavaString(JNIEnv *env, const std::string &utf8);

// A Java byte[] (a local reference) holding bytes, and the bytes a byte[] holds.
jbyteArray javaBytes(JNIEnv *env, const std::string &bytes);
std::string bytesOf(JNIEnv *env, jobject array);

// The pending exception's class and message ("<null>" for null), cleared; empty when none is.
struct Pending {
    std::string className, message;
};
Pending takePending(JNIEnv *env);

// Everything written to standard output (descriptor 1) between start and finish.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    std::string finish();

private:
    int saved_ = -1;
    int file_ = -1;
};

// A fresh directory under /tmp, removed with everything in it at scope end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string at(const std::string &name) const { return path_ + "/" + name; }
    // Creates a regular file (name is raw bytes) holding content.
    void file(const std::string &name, const std::string &content = "") const;

private:
    std::string path_;
};

// Directory descriptors the process holds: what a search handle owns. The
// JVM opens files of its own at any time, so other descriptors are not counted.
int openDescriptors();

} // namespace fsstat::test

#endif
