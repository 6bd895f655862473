// A long loop must not grow descriptors, memory or local references (label "soak").
#include "Listing.h"

#include <chrono>
#include <fstream>

namespace fsstat::test {
namespace {

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A reference the library leaves behind makes -Xcheck:jni report "exceeds capacity".
constexpr jint kFrameCapacity = 16;
constexpr long kResidentGrowthBoundKiB = 4096;  // less than 16 bytes kept per conversion

using IsolatedSoak = ListingTest;  // in UTF-8 mode: the process has no FSSTAT_FILE_ENCODING

TEST_F(IsolatedSoak, DescriptorsMemoryAndLocalReferencesDoNotGrow) {
    const char *roundsText = std::getenv("FSSTAT_SOAK_ROUNDS");
    const long rounds = roundsText != nullptr ? std::strtol(roundsText, nullptr, 10) : 40000;

    // Names that take every route: plain, escaped, marked, and carried as ISO-8859-1.
    const std::vector<std::string> names = {"plain", "caf\xE9", "a\xC2\xB6" "b", "\xB6\xB6", "\xE2\x80\x93\xFF",
                                            "a\xED\xA0\x80", std::string(200, 'l'), "sub"};
    TempDir dir;
    for (const std::string &name : names) dir.file(name);
    jstring jsDir = env->NewStringUTF(dir.path().c_str());
    jobject child = lister->child();
    ASSERT_NE(child, nullptr);

    long calls = 0;
    auto round = [&] {
        jlong handle = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, jsDir, child);
        calls++;
        if (handle == -1) return false;
        while (Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env, nullptr, handle, jsDir, child)) calls++;
        Java_com_durvo_ufe_fsutil_FolderIteratorNix_closeSearchHandleN(env, nullptr, handle);
        jobject stat = getFileSysStat(env, nullptr, jsDir);
        if (stat == nullptr) return false;
        env->DeleteLocalRef(stat);
        calls += 3;
        for (const std::string &name : names) {
            std::string copy = name;
            jstring js = getJavaFilePath(env, copy.data());
            if (js == nullptr) return false;
            char *native = getNativeFilePath(env, js);
            env->DeleteLocalRef(js);
            if (native == nullptr) return false;
            std::free(native);
            calls += 2;
        }
        return !env->ExceptionCheck();
    };

    // Let the JVM load, compile and size what the loop needs before measuring.
    for (long i = 0; i < rounds / 10; i++) ASSERT_TRUE(round());
    calls = 0;
    const int descriptorsBefore = openDescriptors();
    const long residentBefore = residentKiB();
    const auto start = std::chrono::steady_clock::now();

    ASSERT_EQ(env->PushLocalFrame(kFrameCapacity), 0);
    StdoutCapture jvmOutput;
    bool ok = true;
    for (long i = 0; i < rounds && ok; i++) ok = round();
    const std::string output = jvmOutput.finish();
    env->PopLocalFrame(nullptr);

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int descriptorsAfter = openDescriptors();
    const long residentAfter = residentKiB();
    std::printf("soak: %ld calls in %ld rounds, %.1f s\n", calls, rounds, seconds);
    std::printf("soak: open directory descriptors %d before, %d after\n", descriptorsBefore, descriptorsAfter);
    std::printf("soak: resident memory %ld KiB before, %ld KiB after (%+ld KiB, bound %ld)\n", residentBefore,
                residentAfter, residentAfter - residentBefore, kResidentGrowthBoundKiB);
    std::printf("soak: local references: %s a frame of %d\n",
                output.find("JNI local refs") == std::string::npos ? "stayed within" : "EXCEEDED", kFrameCapacity);
    EXPECT_TRUE(ok) << "a call failed";
    EXPECT_EQ(output, "");
    EXPECT_EQ(descriptorsAfter, descriptorsBefore);
    EXPECT_LE(residentAfter - residentBefore, kResidentGrowthBoundKiB);
}

} // namespace
} // namespace fsstat::test
