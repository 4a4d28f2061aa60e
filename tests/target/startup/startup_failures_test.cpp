// How the start-up fails: a processor that is refused. The end of the process is replaced by a
// recorder, so the test sees what would have happened.
#include <windows.h>

#include <gtest/gtest.h>

#include "startup/startup.h"

namespace vardelo {
namespace {

int refusals = 0;
void recordRefusal() { ++refusals; }

TEST(ProcessorRefusal, GoesThroughTheReplaceableEndAndOnlyOnFailure) {
  // The window program keeps its message box; the console companion installs its own.
  EXPECT_EQ(refuseProcessor, &showProcessorRefusal);
  const ProcessorRefusal saved = refuseProcessor;
  refuseProcessor = recordRefusal;
  refusals = 0;
  requireProcessor(true);
  EXPECT_EQ(refusals, 0);
  requireProcessor(false);
  EXPECT_EQ(refusals, 1);
  refuseProcessor = saved;
}

}  // namespace
}  // namespace vardelo
