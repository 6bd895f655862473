// The tree watcher against snapshots as the oracle: churned by writer threads
// at full speed, then what it reports covers every difference between a
// snapshot before and a fresh one, and its own snapshot equals the fresh one.
// FSSTAT_CHURN_SEEDS runs more seeds than the few of a default run, and
// FSSTAT_CHURN_WRITERS another number of writers beside the single one.
#include "JvmTest.h"

namespace fsstat::test {
namespace {

class Watch : public ChecksTest {
public:
    Watch() : ChecksTest("change/WatchChecks") {}
    std::string inDir(const char *method) {
        TempDir dir;
        return call(method, "(Ljava/lang/String;)Ljava/lang/String;", str(dir.path()));
    }
};

TEST_F(Watch, EveryChangeOfAChurnIsReportedAndTheHeldTreeEqualsAFreshSnapshot) {
    const char *seeds = std::getenv("FSSTAT_CHURN_SEEDS");
    const char *writers = std::getenv("FSSTAT_CHURN_WRITERS");
    TempDir dir;
    expectNoFailedCases(call("churn", "(Ljava/lang/String;III)Ljava/lang/String;", str(dir.path()),
                             seeds != nullptr ? std::atoi(seeds) : 2, writers != nullptr ? std::atoi(writers) : 4,
                             250));
}

// Skipped unless root: the limits are the system's, set for a moment and restored, in a process that
// runs alone (see CMakeLists.txt), so that no other test's watches meet them.
class IsolatedWatchLimits : public Watch {};
TEST_F(IsolatedWatchLimits, LostEventsAndTheWatchLimitAreMadeGoodByRescans) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to lower fs.inotify.max_queued_events and max_user_watches";
    expectNoFailedCases(inDir("lostEvents"));
}

TEST_F(Watch, ARemovedOrMovedRootEndsTheWatcherAndCloseWorksFromAnotherThread) {
    expectNoFailedCases(inDir("ending"));
}

} // namespace
} // namespace fsstat::test
