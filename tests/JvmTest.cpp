#include "JvmTest.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <vector>

namespace fsstat::test {
namespace {

JavaVM *gVm = nullptr;
JNIEnv *gEnv = nullptr;

std::string envOr(const char *name, const char *fallback) {
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

void appendUtf8(std::string &out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

JNIEnv *jniEnv() { return gEnv; }

void JniTest::SetUp() {
    env = gEnv;
    ASSERT_NE(env, nullptr);
    ASSERT_EQ(env->PushLocalFrame(64), 0);
}

void JniTest::TearDown() {
    Pending left = takePending(env);
    EXPECT_EQ(left.className, "") << "exception left pending: " << left.message;
    env->PopLocalFrame(nullptr);
}

std::string hex(const std::string &bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", c);
        if (!out.empty()) out += ' ';
        out += buf;
    }
    return out;
}

std::string utf8(JNIEnv *env, jstring js) {
    if (js == nullptr) return "<null>";
    jsize n = env->GetStringLength(js);
    std::vector<jchar> chars(static_cast<size_t>(n));
    env->GetStringRegion(js, 0, n, chars.data());
    std::string out;
    for (size_t i = 0; i < chars.size(); i++) {
        unsigned cp = chars[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < chars.size() && chars[i + 1] >= 0xDC00 && chars[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (chars[i + 1] - 0xDC00u);
            i++;
        }
        appendUtf8(out, cp);
    }
    return out;
}

jstring newJavaString(JNIEnv *env, const std::string &text) {
    std::vector<jchar> chars;
    for (size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        unsigned cp;
        size_t len = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        cp = len == 1 ? lead : len == 2 ? (lead & 0x1Fu) : len == 3 ? (lead & 0x0Fu) : (lead & 0x07u);
        for (size_t k = 1; k < len && i + k < text.size(); k++) cp = (cp << 6) | (text[i + k] & 0x3Fu);
        i += len;
        if (cp >= 0x10000) {
            chars.push_back(static_cast<jchar>(0xD800 + ((cp - 0x10000) >> 10)));
            chars.push_back(static_cast<jchar>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            chars.push_back(static_cast<jchar>(cp));
        }
    }
    return env->NewString(chars.data(), static_cast<jsize>(chars.size()));
}

Pending takePending(JNIEnv *env) {
    jthrowable exc = env->ExceptionOccurred();
    if (exc == nullptr) return {};
    env->ExceptionClear();
    jclass cls = env->GetObjectClass(exc);
    jclass classClass = env->FindClass("java/lang/Class");
    jmethodID getName = env->GetMethodID(classClass, "getName", "()Ljava/lang/String;");
    auto name = static_cast<jstring>(env->CallObjectMethod(cls, getName));
    env->ExceptionClear();
    jclass throwable = env->FindClass("java/lang/Throwable");
    jmethodID getMessage = env->GetMethodID(throwable, "getMessage", "()Ljava/lang/String;");
    auto message = static_cast<jstring>(env->CallObjectMethod(exc, getMessage));
    env->ExceptionClear();
    Pending p{utf8(env, name), utf8(env, message)};
    for (jobject ref : {static_cast<jobject>(exc), static_cast<jobject>(cls), static_cast<jobject>(classClass),
                        static_cast<jobject>(name), static_cast<jobject>(throwable), static_cast<jobject>(message)}) {
        if (ref != nullptr) env->DeleteLocalRef(ref);
    }
    return p;
}

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    char path[] = "/tmp/fsstat-stdout-XXXXXX";
    file_ = mkstemp(path);
    unlink(path);
    saved_ = dup(1);
    dup2(file_, 1);
}

StdoutCapture::~StdoutCapture() {
    if (saved_ >= 0) finish();
}

std::string StdoutCapture::finish() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    saved_ = -1;
    std::string out;
    char buf[4096];
    lseek(file_, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(file_, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(file_);
    return out;
}

TempDir::TempDir() {
    char templ[] = "/tmp/fsstat-test-XXXXXX";
    if (mkdtemp(templ) != nullptr) path_ = templ;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    // Owner permissions back first, so a test's unreadable folders go too.
    nftw(path_.c_str(), [](const char *p, const struct stat *st, int type, struct FTW *) {
        if (type == FTW_D || type == FTW_DNR) chmod(p, st->st_mode | S_IRWXU);
        return 0;
    }, 16, FTW_PHYS);
    nftw(path_.c_str(), [](const char *p, const struct stat *, int, struct FTW *) { return remove(p); }, 16,
         FTW_DEPTH | FTW_PHYS);
}

void TempDir::file(const std::string &name, const std::string &content) const {
    int fd = open(at(name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << "cannot create " << hex(name);
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
}

int openDescriptors() {
    int count = 0;
    DIR *dp = opendir("/proc/self/fd");
    if (dp == nullptr) return -1;
    while (readdir(dp) != nullptr) count++;
    closedir(dp);
    return count - 3;  // ".", ".." and the descriptor of this listing
}

} // namespace fsstat::test

// One JVM for the whole process, made the way a Java launcher would: the
// locale from the environment, then the JVM with -Xcheck:jni.
int main(int argc, char **argv) {
    using namespace fsstat::test;
    std::setlocale(LC_ALL, "");
    ::testing::InitGoogleTest(&argc, argv);

    std::vector<std::string> options = {
        "-Djava.class.path=" + envOr("FSSTAT_TEST_CLASSPATH", FSSTAT_TEST_CLASSPATH),
        "-Dfsstat.library.path=" FSSTAT_LIBRARY_PATH,
        "-Xcheck:jni",
    };
    // FSSTAT_JVM_ENCODING asks for the run's charset another way (COMPAT: by the locale).
    const char *encoding = std::getenv("FSSTAT_JVM_ENCODING");
    if (encoding == nullptr) encoding = std::getenv("FSSTAT_FILE_ENCODING");
    if (encoding != nullptr) options.push_back(std::string("-Dfile.encoding=") + encoding);
    std::vector<JavaVMOption> vmOptions;
    for (std::string &o : options) vmOptions.push_back({o.data(), nullptr});

    JavaVMInitArgs args{};
    args.version = JNI_VERSION_10;
    args.nOptions = static_cast<jint>(vmOptions.size());
    args.options = vmOptions.data();
    args.ignoreUnrecognized = JNI_FALSE;
    void *envOut = nullptr;
    if (JNI_CreateJavaVM(&gVm, &envOut, &args) != JNI_OK) {
        std::fprintf(stderr, "JNI_CreateJavaVM failed\n");
        return 1;
    }
    gEnv = static_cast<JNIEnv *>(envOut);
    return RUN_ALL_TESTS();
}
