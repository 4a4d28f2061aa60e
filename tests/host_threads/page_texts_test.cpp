// The console companion's page texts, written at once by a worker thread (as the cache worker
// sets its fields) and by the main thread (as the analysis does), which also reads them back
// while the worker writes. Under ThreadSanitizer an access outside the store's lock fails here.
#include "report/page_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace vardelo {
namespace {

constexpr int ROUNDS = 3000;

std::string numbered(const char* prefix, int n) { return prefix + std::to_string(n); }

TEST(PageTextStore, WorkerAndAnalysisWriteWhileTheMainThreadReads) {
  PageTextStore store;
  std::thread worker([&] {
    for (int n = 0; n < ROUNDS; ++n) {
      store.set(0, 130, numbered("best ", n).c_str());
      store.set(0, 139, numbered("<|", n).c_str());
      store.set(1, 200 + n % 8, numbered("read ", n).c_str());  // new fields on another page
    }
    store.set(0, 139, "mode");
  });

  int bad = 0;
  for (int n = 0; n < ROUNDS; ++n) {
    store.set(0, 101, numbered("d", n).c_str());
    store.set(0, 111, numbered("s", n).c_str());
    const std::string progress = store.text(0, 139);
    if (!progress.empty() && progress != "mode" && progress.rfind("<|", 0) != 0) ++bad;
    const auto page = store.page(0);
    const auto best = page.find(130);
    if (best != page.end() && best->second.rfind("best ", 0) != 0) ++bad;
  }
  worker.join();

  EXPECT_EQ(bad, 0) << "texts read back that no writer wrote";
  EXPECT_EQ(store.text(0, 139), "mode");
  EXPECT_EQ(store.text(0, 130), numbered("best ", ROUNDS - 1));
  EXPECT_EQ(store.text(0, 101), numbered("d", ROUNDS - 1));
  EXPECT_EQ(store.page(0).size(), 4u);
  EXPECT_EQ(store.page(1).size(), 8u);
  EXPECT_EQ(store.text(2, 101), "");
  EXPECT_TRUE(store.page(3).empty());
}

}  // namespace
}  // namespace vardelo
