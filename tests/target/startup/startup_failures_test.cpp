// How the start-up fails: threads that cannot all be made, a main dialog that returns, a
// processor that is refused. The end of the process (startupFatal, refuseProcessor) is replaced
// by a recorder, so each test sees what would have been reported and what was left behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "startup/threads_win.h"

namespace vardelo {
namespace {

struct Report {
  std::string text;
  unsigned exitCode = 0;
  int count = 0;
};
Report reported;

void recordFatal(const char* text, unsigned exitCode) {
  reported.text = text;
  reported.exitCode = exitCode;
  ++reported.count;
}

class StartupFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    reported = Report{};
    savedFatal_ = startupFatal;
    startupFatal = recordFatal;
  }
  void TearDown() override { startupFatal = savedFatal_; }

 private:
  StartupFatal savedFatal_ = nullptr;
};

// --- Worker threads --------------------------------------------------------------------------

constexpr DWORD ENTRY_RESULT = 0x600D;
constexpr DWORD WAIT_BOUND_MS = 20000;  // only a broken start-up waits this long

HANDLE ran[WORKER_THREAD_COUNT];  // manual-reset events, set by each entry when it runs
HANDLE anyRan;

template <int N>
unsigned long __stdcall entry(void*) {
  SetEvent(ran[N]);
  SetEvent(anyRan);
  return ENTRY_RESULT;
}
constexpr ThreadEntry ENTRIES[WORKER_THREAD_COUNT] = {entry<0>, entry<1>, entry<2>};

// A thread maker that fails its call number `failAt` (1-based; 0 never), hands out a handle that
// cannot resume its thread on call `unresumableAt`, and notes, for each call, the flags asked
// and whether any thread made so far could already run.
struct Maker {
  int failAt = 0;
  int unresumableAt = 0;
  int calls = 0;
  std::vector<u32> flags;
  bool ranBeforeAllExisted = false;
  std::vector<HANDLE> made;    // the handles it returned
  std::vector<HANDLE> copies;  // its own handles to the same threads
};
Maker maker;

void* makeThread(ThreadEntry e, void* parameter, u32 flags) {
  ++maker.calls;
  maker.flags.push_back(flags);
  if (WaitForSingleObject(anyRan, 0) == WAIT_OBJECT_0) maker.ranBeforeAllExisted = true;
  if (maker.calls == maker.failAt) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HANDLE thread = CreateThread(nullptr, 0, e, parameter, flags, nullptr);
  HANDLE copy = nullptr;
  DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  maker.copies.push_back(copy);
  if (maker.calls == maker.unresumableAt) {
    HANDLE limited = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &limited,
                    SYNCHRONIZE | THREAD_TERMINATE | THREAD_QUERY_INFORMATION, FALSE, 0);
    CloseHandle(thread);
    thread = limited;
  }
  maker.made.push_back(thread);
  return thread;
}

class WorkerThreads : public StartupFailure {
 protected:
  // The failure reported once, saying `text`, and no worker's handle kept.
  static void expectOneReportAndNoHandleKept(const char* text) {
    EXPECT_EQ(reported.count, 1);
    EXPECT_EQ(reported.exitCode, EXIT_NO_THREAD);
    EXPECT_NE(reported.text.find(text), std::string::npos) << reported.text;
    EXPECT_EQ(bench.machine.hCacheThread.load(), nullptr);
    EXPECT_EQ(bench.machine.hRamThread.load(), nullptr);
  }
  void SetUp() override {
    StartupFailure::SetUp();
    maker = Maker{};
    for (HANDLE& e : ran) e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    anyRan = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bench.machine.hCacheThread = nullptr;
    bench.machine.hRamThread = nullptr;
  }
  void TearDown() override {
    for (HANDLE copy : maker.copies) {
      WaitForSingleObject(copy, WAIT_BOUND_MS);
      CloseHandle(copy);
    }
    for (HANDLE e : ran) CloseHandle(e);
    CloseHandle(anyRan);
    StartupFailure::TearDown();
  }
};

TEST_F(WorkerThreads, AllThreeRunInOrderOnlyOnceAllExist) {
  startThreadsWith(ENTRIES, makeThread);
  EXPECT_EQ(reported.count, 0) << reported.text;
  ASSERT_EQ(maker.calls, 3);
  for (u32 flags : maker.flags) EXPECT_EQ(flags & CREATE_SUSPENDED, DWORD{CREATE_SUSPENDED});
  EXPECT_FALSE(maker.ranBeforeAllExisted) << "a thread ran before the last one was made";
  EXPECT_EQ(WaitForMultipleObjects(WORKER_THREAD_COUNT, ran, TRUE, WAIT_BOUND_MS), WAIT_OBJECT_0)
      << "not every thread was set going";

  // The two workers' handles are kept; the refresh thread's handle is closed, while the thread
  // itself ran.
  EXPECT_EQ(bench.machine.hCacheThread.load(), maker.made[0]);
  EXPECT_EQ(bench.machine.hRamThread.load(), maker.made[1]);
  DWORD handleFlags = 0;
  EXPECT_FALSE(GetHandleInformation(maker.made[2], &handleFlags)) << "refresh handle still open";
  CloseHandle(bench.machine.hCacheThread.load());
  CloseHandle(bench.machine.hRamThread.load());
}

TEST_F(WorkerThreads, AFailedCreationEndsTheStartWithNoThreadRun) {
  for (int failAt : {1, 2, 3}) {
    SCOPED_TRACE("creation " + std::to_string(failAt) + " fails");
    TearDown();
    SetUp();
    maker.failAt = failAt;
    startThreadsWith(ENTRIES, makeThread);

    expectOneReportAndNoHandleKept("creating a measuring thread failed (error 8)");
    EXPECT_EQ(maker.calls, failAt) << "threads were made after a failure";
    // The threads made before the failure were ended without running their entries.
    for (HANDLE copy : maker.copies) {
      ASSERT_EQ(WaitForSingleObject(copy, WAIT_BOUND_MS), WAIT_OBJECT_0) << "a thread lives on";
      DWORD code = 0;
      GetExitCodeThread(copy, &code);
      EXPECT_EQ(code, EXIT_NO_THREAD) << "a thread ran to its end";
    }
    EXPECT_EQ(WaitForSingleObject(anyRan, 0), DWORD{WAIT_TIMEOUT}) << "an entry ran";
  }
}

TEST_F(WorkerThreads, AFailedResumeLetsTheThreadsNotGoingEndAndPublishesNoHandle) {
  for (int unresumableAt : {1, 2, 3}) {
    SCOPED_TRACE("resuming thread " + std::to_string(unresumableAt) + " fails");
    TearDown();
    SetUp();
    maker.unresumableAt = unresumableAt;
    startThreadsWith(ENTRIES, makeThread);

    expectOneReportAndNoHandleKept("starting a measuring thread failed");
    // Those set going before the failure run their entries to the end; those after it end at
    // once without running theirs. The one that could not be set going stays suspended: set
    // going from here, it ends like those after it.
    ASSERT_EQ(maker.copies.size(), std::size_t{WORKER_THREAD_COUNT});
    HANDLE failing = maker.copies[unresumableAt - 1];
    EXPECT_EQ(WaitForSingleObject(failing, 0), DWORD{WAIT_TIMEOUT}) << "the failing thread ran";
    ResumeThread(failing);
    for (int i = 0; i < WORKER_THREAD_COUNT; ++i) {
      ASSERT_EQ(WaitForSingleObject(maker.copies[i], WAIT_BOUND_MS), WAIT_OBJECT_0)
          << "thread " << i << " lives on";
      DWORD code = 0;
      GetExitCodeThread(maker.copies[i], &code);
      const DWORD expected = i < unresumableAt - 1 ? ENTRY_RESULT : DWORD{EXIT_NO_THREAD};
      EXPECT_EQ(code, expected) << "thread " << i;
    }
    for (HANDLE made : maker.made) {
      DWORD handleFlags = 0;
      EXPECT_FALSE(GetHandleInformation(made, &handleFlags)) << "a thread's handle is still open";
    }
  }
}

// --- The main dialog returning ---------------------------------------------------------------

// The workers go on measuring in the test buffer until the process ends, so the buffer must
// still be there, locked in place and usable, after the report. (Touching a freed area here
// would crash the test program; its state is read instead.)
TEST_F(StartupFailure, AReturnedDialogLeavesTheBufferToTheWorkersAndSaysSo) {
  ASSERT_TRUE(allocateTestBuffer());
  u8* const area = bench.machine.testArea.load();
  HGLOBAL handle = static_cast<HGLOBAL>(bench.machine.bufferHandle.load());
  u8* const locked = static_cast<u8*>(GlobalLock(handle));
  GlobalUnlock(handle);

  mainDialogReturned();

  EXPECT_EQ(reported.count, 1);
  EXPECT_EQ(reported.exitCode, EXIT_NO_WINDOW);
  EXPECT_NE(reported.text.find("its window could not be opened"), std::string::npos)
      << reported.text;
  HGLOBAL block = static_cast<HGLOBAL>(bench.machine.bufferHandle.load());
  EXPECT_EQ(GlobalLock(block), locked) << "the test buffer was freed or moved";
  GlobalUnlock(block);
  for (u8* p : {area, area + TEST_AREA_BYTES - 1}) {
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_TRUE(VirtualQuery(p, &info, sizeof info));
    EXPECT_EQ(info.State, DWORD{MEM_COMMIT}) << "at offset " << (p - area);
    EXPECT_EQ(info.Protect, DWORD{PAGE_EXECUTE_READWRITE}) << "at offset " << (p - area);
  }
}

// --- The processor check ---------------------------------------------------------------------

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
