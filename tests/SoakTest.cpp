// A long loop must not grow descriptors, memory or local references (label "soak").
#include "JvmTest.h"

#include <chrono>

namespace fsstat::test {
namespace {

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

using IsolatedSoak = JniTest;  // in UTF-8 mode: the process has no FSSTAT_FILE_ENCODING

TEST_F(IsolatedSoak, DescriptorsMemoryAndLocalReferencesDoNotGrow) {
    const char *roundsText = std::getenv("FSSTAT_SOAK_ROUNDS");
    const long rounds = roundsText != nullptr ? std::strtol(roundsText, nullptr, 10) : 40000;
    ScopedMode utf8(true);
    // Names that take every route: plain, escaped, marked, and carried as ISO-8859-1.
    const std::vector<std::string> names = {"plain", "caf\xE9", "a\xC2\xB6" "b", "\xB6\xB6", "\xE2\x80\x93\xFF",
                                            "a\xED\xA0\x80", std::string(200, 'l')};
    TempDir dir;
    for (const std::string &name : names) dir.file(name);
    jstring jsDir = env->NewStringUTF(dir.path().c_str());
    jobject child = env->AllocObject(env->FindClass("com/durvo/ufe/fsutil/ChildFile"));
    auto round = [&] {
        jlong handle = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, jsDir, child);
        while (Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, jsDir, child)) {}
        Java_com_durvo_ufe_fsutil_FolderIteratorNix_closeSearchHandleN(env, nullptr, handle);
        env->DeleteLocalRef(getFileSysStat(env, nullptr, jsDir));
        for (const std::string &name : names) {
            std::string copy = name;
            jstring js = getJavaFilePath(env, copy.data());
            std::free(getNativeFilePath(env, js));
            env->DeleteLocalRef(js);
        }
        return handle != -1 && !env->ExceptionCheck();
    };
    // Let the JVM load, compile and size what the loop needs before measuring.
    for (long i = 0; i < rounds / 10; i++) ASSERT_TRUE(round());
    const int descriptorsBefore = descriptorsOn();
    const long residentBefore = residentKiB();
    const auto start = std::chrono::steady_clock::now();
    // A reference the library leaves behind makes -Xcheck:jni report that the frame exceeds its capacity.
    ASSERT_EQ(env->PushLocalFrame(16), 0);
    bool ok = true;
    const std::string printed = printedBy([&] {
        for (long i = 0; i < rounds && ok; i++) ok = round();
    });
    env->PopLocalFrame(nullptr);
    const long grown = residentKiB() - residentBefore;
    std::printf("soak: %ld rounds in %.1f s, resident memory %+ld KiB\n", rounds,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), grown);
    EXPECT_TRUE(ok) << "a call failed";
    EXPECT_EQ(printed, "");
    EXPECT_EQ(descriptorsOn(), descriptorsBefore);
    EXPECT_LE(grown, 4096) << "KiB: less than 16 bytes kept per conversion";
}

} // namespace
} // namespace fsstat::test
