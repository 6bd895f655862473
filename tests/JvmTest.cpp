#include "JvmTest.h"

#include <dirent.h>
#include <ftw.h>

#include <clocale>

namespace fsstat::test {
namespace {

JavaVM *gVm = nullptr;
JNIEnv *gEnv = nullptr;

std::string envOr(const char *name, const char *fallback) {
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
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

// Java's own UTF-8 codec converts between the tests' UTF-8 text and Java strings.
std::string utf8(JNIEnv *env, jstring js) {
    if (js == nullptr) return "<null>";
    env->PushLocalFrame(4);
    jmethodID getBytes = env->GetMethodID(env->FindClass("java/lang/String"), "getBytes", "(Ljava/lang/String;)[B");
    auto bytes = static_cast<jbyteArray>(env->CallObjectMethod(js, getBytes, env->NewStringUTF("UTF-8")));
    env->ExceptionClear();
    std::string out(static_cast<size_t>(env->GetArrayLength(bytes)), '\0');
    env->GetByteArrayRegion(bytes, 0, static_cast<jsize>(out.size()), reinterpret_cast<jbyte *>(out.data()));
    env->PopLocalFrame(nullptr);
    return out;
}

jstring newJavaString(JNIEnv *env, const std::string &text) {
    env->PushLocalFrame(4);
    jclass cls = env->FindClass("java/lang/String");
    jbyteArray bytes = env->NewByteArray(static_cast<jsize>(text.size()));
    env->SetByteArrayRegion(bytes, 0, static_cast<jsize>(text.size()), reinterpret_cast<const jbyte *>(text.data()));
    jobject js = env->NewObject(cls, env->GetMethodID(cls, "<init>", "([BLjava/lang/String;)V"), bytes,
                                env->NewStringUTF("UTF-8"));
    env->ExceptionClear();
    return static_cast<jstring>(env->PopLocalFrame(js));
}

jbyteArray javaBytes(JNIEnv *env, const std::string &bytes) {
    jbyteArray a = env->NewByteArray(static_cast<jsize>(bytes.size()));
    env->SetByteArrayRegion(a, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<const jbyte *>(bytes.data()));
    return a;
}

std::string bytesOf(JNIEnv *env, jobject array) {
    auto a = static_cast<jbyteArray>(array);
    std::string out(static_cast<size_t>(env->GetArrayLength(a)), '\0');
    env->GetByteArrayRegion(a, 0, static_cast<jsize>(out.size()), reinterpret_cast<jbyte *>(out.data()));
    return out;
}

Pending takePending(JNIEnv *env) {
    jthrowable exc = env->ExceptionOccurred();
    if (exc == nullptr) return {};
    env->ExceptionClear();
    env->PushLocalFrame(8);
    jmethodID getName = env->GetMethodID(env->FindClass("java/lang/Class"), "getName", "()Ljava/lang/String;");
    auto name = static_cast<jstring>(env->CallObjectMethod(env->GetObjectClass(exc), getName));
    env->ExceptionClear();
    jclass throwable = env->FindClass("java/lang/Throwable");
    jmethodID getMessage = env->GetMethodID(throwable, "getMessage", "()Ljava/lang/String;");
    auto message = static_cast<jstring>(env->CallObjectMethod(exc, getMessage));
    env->ExceptionClear();
    Pending p{utf8(env, name), utf8(env, message)};
    env->PopLocalFrame(nullptr);
    env->DeleteLocalRef(exc);
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
    DIR *dp = opendir("/proc/self/fd");
    if (dp == nullptr) return -1;
    int count = 0;
    struct stat st;
    for (struct dirent *e = readdir(dp); e != nullptr; e = readdir(dp)) {
        int fd = std::atoi(e->d_name);
        if (e->d_name[0] != '.' && fd != dirfd(dp) && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) count++;
    }
    closedir(dp);
    return count;
}

} // namespace fsstat::test

// One JVM per process, made as a Java launcher would: locale first, then -Xcheck:jni.
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

    JavaVMInitArgs args{JNI_VERSION_10, static_cast<jint>(vmOptions.size()), vmOptions.data(), JNI_FALSE};
    if (JNI_CreateJavaVM(&gVm, reinterpret_cast<void **>(&gEnv), &args) != JNI_OK) {
        std::fprintf(stderr, "JNI_CreateJavaVM failed\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
