// Threads race the first deliveries, then list in parallel while the mode keeps switching.
#include "Listing.h"

#include <langinfo.h>

#include <atomic>
#include <barrier>
#include <thread>

namespace fsstat::test {
namespace {

constexpr int kWorkers = 4;
constexpr int kEntries = 200;
constexpr int kRounds = 25;

std::set<std::string> namesOf(int worker) {
    std::set<std::string> names;
    for (int i = 0; i < kEntries; i++) names.insert("t" + std::to_string(worker) + "-" + std::to_string(i));
    return names;
}

// Runs body on a new thread attached to the JVM, in a local frame of its own.
template <typename Body>
std::thread attached(JavaVM *vm, Body body) {
    return std::thread([vm, body] {
        JNIEnv *env = nullptr;
        if (vm->AttachCurrentThread(reinterpret_cast<void **>(&env), nullptr) != JNI_OK) {
            ADD_FAILURE() << "AttachCurrentThread failed";
            return;
        }
        env->PushLocalFrame(32);
        body(env);
        EXPECT_FALSE(env->ExceptionCheck());
        env->PopLocalFrame(nullptr);
        vm->DetachCurrentThread();
    });
}

using IsolatedThreads = JniTest;

TEST_F(IsolatedThreads, RacingFirstDeliveriesThenParallelListingsEachSeeTheirOwnEntries) {
    ASSERT_EQ(jclsChildFile, nullptr) << "needs a process whose first delivery is still to come";
    ASSERT_EQ(codepage[0], '\0') << "needs a process whose first conversion is still to come";
    JavaVM *vm = nullptr;
    ASSERT_EQ(env->GetJavaVM(&vm), JNI_OK);
    SavedMode savedMode;

    std::vector<TempDir> dirs(kWorkers);
    for (int w = 0; w < kWorkers; w++) {
        for (const std::string &name : namesOf(w)) dirs[w].file(name);
    }

    std::barrier start(kWorkers + 1);  // the workers and the mode switcher
    std::barrier firstDelivery(kWorkers);
    std::atomic<int> working{kWorkers};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWorkers; w++) {
        threads.push_back(attached(vm, [&, w](JNIEnv *tenv) {
            Lister lister(tenv);
            EXPECT_TRUE(lister.ok());
            jstring jsDir = tenv->NewStringUTF(dirs[w].path().c_str());
            const std::set<std::string> expected = namesOf(w);
            start.arrive_and_wait();
            jobject stat = getFileSysStat(tenv, nullptr, jsDir);  // fills codepage on first use
            EXPECT_NE(stat, nullptr) << "worker " << w;
            if (stat == nullptr) takePending(tenv);
            firstDelivery.arrive_and_wait();
            for (int round = 0; round < kRounds; round++) {  // round 0 makes the racing first deliveries
                std::set<std::string> seen;
                for (const Entry &e : lister.list(dirs[w].path())) {
                    EXPECT_TRUE(seen.insert(e.native).second) << "worker " << w << " twice: " << e.native;
                }
                EXPECT_EQ(seen, expected) << "worker " << w << ", round " << round;
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

    jclass childClass = env->FindClass("com/durvo/ufe/fsutil/ChildFile");
    ASSERT_NE(childClass, nullptr);
    EXPECT_EQ(env->GetObjectRefType(jclsChildFile), JNIGlobalRefType);
    EXPECT_TRUE(env->IsSameObject(jclsChildFile, childClass));
    EXPECT_NE(jmidSetBasic, nullptr);
    EXPECT_STREQ(codepage, nl_langinfo(CODESET));
}

// A name converts whatever mode each step of its conversion sees.
TEST_F(IsolatedThreads, NamesStillConvertWhileTheModeSwitches) {
    SavedMode savedMode;
    std::atomic<bool> stop{false};
    std::thread switcher([&stop] {
        for (jboolean mode = JNI_TRUE; !stop; mode = !mode) {
            Java_com_durvo_ufe_fsutil_FolderIteratorNix_init(nullptr, nullptr, mode);
        }
    });
    char name[] = "plain";
    int failed = 0;
    for (int i = 0; i < 100000; i++) {
        jstring js = getJavaFilePath(env, name);
        if (js == nullptr) {
            failed++;
            takePending(env);
        }
        env->DeleteLocalRef(js);
    }
    stop = true;
    switcher.join();
    EXPECT_EQ(failed, 0) << "of 100000 conversions";
}

} // namespace
} // namespace fsstat::test
