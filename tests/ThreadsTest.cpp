// Threads race the first deliveries and conversions of a fresh process, then list while the mode keeps switching.
#include "JvmTest.h"

#include <langinfo.h>

#include <atomic>
#include <barrier>
#include <thread>

namespace fsstat::test {
namespace {

constexpr int kWorkers = 4;

// Runs body on a new thread attached to the JVM, in a local frame of its own.
template <typename Body>
std::thread attached(JavaVM *vm, Body body) {
    return std::thread([vm, body] {
        JNIEnv *env = nullptr;
        ASSERT_EQ(vm->AttachCurrentThread(reinterpret_cast<void **>(&env), nullptr), JNI_OK);
        env->PushLocalFrame(32);
        body(env);
        EXPECT_EQ(thrown(env), "");
        env->PopLocalFrame(nullptr);
        vm->DetachCurrentThread();
    });
}

using IsolatedThreads = JniTest;

TEST_F(IsolatedThreads, RacingFirstUsesThenParallelListingsEachSeeTheirOwnEntries) {
    ASSERT_EQ(jclsChildFile, nullptr) << "needs a process whose first delivery is still to come";
    ASSERT_EQ(codepage[0], '\0') << "needs a process whose first conversion is still to come";
    JavaVM *vm = nullptr;
    ASSERT_EQ(env->GetJavaVM(&vm), JNI_OK);
    ScopedMode saved(true);
    std::vector<TempDir> dirs(kWorkers);
    std::vector<std::set<std::string>> names(kWorkers);
    for (int w = 0; w < kWorkers; w++) {
        for (int i = 0; i < 200; i++) names[w].insert("t" + std::to_string(w) + "-" + std::to_string(i));
        for (const std::string &name : names[w]) dirs[w].file(name);
    }
    std::barrier start(kWorkers + 1);  // the workers and the mode switcher
    std::atomic<int> working{kWorkers};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWorkers; w++) {
        threads.push_back(attached(vm, [&, w](JNIEnv *tenv) {
            jstring jsDir = tenv->NewStringUTF(dirs[w].path().c_str());
            start.arrive_and_wait();
            tenv->DeleteLocalRef(getFileSysStat(tenv, nullptr, jsDir));  // the first fills codepage
            EXPECT_EQ(thrown(tenv), "") << "worker " << w;
            for (int round = 0; round < 25; round++) {  // round 0 makes the racing first deliveries
                std::multiset<std::string> seen;
                for (const Entry &e : listDir(tenv, dirs[w].path())) seen.insert(e.native);
                EXPECT_EQ(seen, std::multiset<std::string>(names[w].begin(), names[w].end())) << w << ", " << round;
            }
            working--;
        }));
    }
    threads.push_back(attached(vm, [&](JNIEnv *tenv) {
        start.arrive_and_wait();
        for (jboolean mode = JNI_TRUE; working > 0; mode = !mode) {
            Java_com_durvo_ufe_fsutil_FolderIteratorNix_init(tenv, nullptr, mode);
            std::this_thread::yield();
        }
    }));
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(env->GetObjectRefType(jclsChildFile), JNIGlobalRefType);
    EXPECT_TRUE(env->IsSameObject(jclsChildFile, env->FindClass("com/durvo/ufe/fsutil/ChildFile")));
    EXPECT_STREQ(codepage, nl_langinfo(CODESET));
}

} // namespace
} // namespace fsstat::test
