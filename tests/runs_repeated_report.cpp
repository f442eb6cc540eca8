// Linked into every test program: at its end, each says how many runs it
// repeated after Wine failed a start (test_support's WineFailedAStart).
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

class RunsRepeatedReport : public ::testing::Environment {
  void TearDown() override { PrintRunsRepeated(); }
};
const ::testing::Environment* const runsRepeatedReport = ::testing::AddGlobalTestEnvironment(new RunsRepeatedReport);

}  // namespace
