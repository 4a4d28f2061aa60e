// A program that dies of an unhandled exception ends at once with the exception's code, and
// nothing it started holds its output open: no debugger is started (tools/wine-env switches
// Wine's off). Under an emulator Wine's debugger cannot attach and lingers with the dead
// program's output, so a test runner reading it waits for its time-out.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

constexpr const wchar_t* CHILD_FLAG = L"VARDELO_FAULT_CHILD";
// A Wine start takes a second or two, longer under an emulator; a debugger that cannot attach
// holds the program far longer.
constexpr DWORD END_BOUND_MS = 30000;

// Reads the pipe until every writer has closed it or `boundMs` pass; true at its end.
bool drained(HANDLE pipe, DWORD boundMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
      return GetLastError() == ERROR_BROKEN_PIPE;
    }
    char buffer[512];
    DWORD got = 0;
    if (available > 0) {
      ReadFile(pipe, buffer, sizeof buffer, &got, nullptr);
    } else if (GetTickCount() - start >= boundMs) {
      return false;
    } else {
      Sleep(50);
    }
  }
}

TEST(UnhandledFault, EndsTheProgramAtOnceWithTheExceptionsCode) {
  if (std::getenv("VARDELO_FAULT_CHILD") != nullptr) {
    // The child: a load from address 0, with nothing to handle it.
    SetUnhandledExceptionFilter(nullptr);
    *static_cast<volatile int*>(nullptr) = 1;
    return;
  }
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  std::wstring command = std::wstring(L"\"") + self + L"\" --gtest_filter=UnhandledFault.*";
  // The child's output goes into a pipe, as a test runner's does.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = startup.hStdError = writeEnd;
  PROCESS_INFORMATION child{};
  SetEnvironmentVariableW(CHILD_FLAG, L"1");
  const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &child);
  SetEnvironmentVariableW(CHILD_FLAG, nullptr);
  CloseHandle(writeEnd);
  ASSERT_TRUE(started) << GetLastError();
  const bool outputEnded = drained(readEnd, END_BOUND_MS);
  CloseHandle(readEnd);
  const DWORD waited = WaitForSingleObject(child.hProcess, outputEnded ? END_BOUND_MS : 0);
  if (waited != WAIT_OBJECT_0) TerminateProcess(child.hProcess, 1);
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  EXPECT_TRUE(outputEnded) << "the faulting program's output was still held open after 30 s";
  ASSERT_EQ(waited, DWORD{WAIT_OBJECT_0}) << "the faulting program still ran";
  // Natively an access violation; under an emulator Wine sees the fault without its trap number
  // and reports an illegal instruction.
  EXPECT_TRUE(code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_ILLEGAL_INSTRUCTION)
      << std::hex << code;
}

}  // namespace
