// A lister over listDir, and a fixture in this run's charset mode holding one.
#ifndef FSSTAT_TESTS_LISTING_H
#define FSSTAT_TESTS_LISTING_H

#include "JvmTest.h"

#include <map>
#include <optional>
#include <set>

namespace fsstat::test {

struct Lister {
    JNIEnv *env;
    std::vector<Entry> list(const std::string &dir) { return listDir(env, dir); }
};

class ListingTest : public JniTest {
protected:
    void SetUp() override {
        JniTest::SetUp();
        lister.emplace(Lister{env});
    }
    ScopedMode mode{utf8ModeForThisRun()};
    std::optional<Lister> lister;
};

} // namespace fsstat::test

#endif
