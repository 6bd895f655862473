// A snapshot taken with several threads: the columns each thread filled are
// joined into the snapshot one builder of every entry gives.
#include "JvmTest.h"

namespace fsstat::test {
namespace {

class SnapshotJoin : public ChecksTest {
public:
    SnapshotJoin() : ChecksTest("change/JoinChecks") {}
};

TEST_F(SnapshotJoin, PartsNumberingDevicesAndDirectoriesApartJoinIntoOneSnapshot) {
    expectNoFailedCases(call("joined", "()Ljava/lang/String;"));
}

} // namespace
} // namespace fsstat::test
