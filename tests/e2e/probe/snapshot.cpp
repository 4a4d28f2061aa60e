// Copies from the program (UM_SNAPSHOT): its BenchState and where its tabs are, received as
// WM_COPYDATA by a message-only window of the probe while the probe waits for its request to be
// answered.
#include "probe_common.h"

namespace probe {

namespace {

// The copy awaited: what was asked for, where it goes and how long it must be.
unsigned asked = 0;
void* receiving = nullptr;
std::size_t expected = 0;
bool received = false;

LRESULT CALLBACK receiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COPYDATA) return DefWindowProcW(window, message, wParam, lParam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  if (receiving == nullptr || data->dwData != asked || data->cbData != expected) return FALSE;
  std::memcpy(receiving, data->lpData, data->cbData);
  received = true;
  return TRUE;
}

HWND receiver() {
  static HWND window = [] {
    WNDCLASSW type{};
    type.lpfnWndProc = receiverProc;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = L"VardeloProbeSnapshot";
    RegisterClassW(&type);
    return CreateWindowExW(0, type.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           type.hInstance, nullptr);
  }();
  return window;
}

}  // namespace

bool copyFromProgram(HWND main, unsigned what, void* out, std::size_t bytes) {
  asked = what;
  receiving = out;
  expected = bytes;
  received = false;
  DWORD_PTR result = 0;
  // Not SMTO_BLOCK: the copy is sent back to this thread while it waits here.
  SendMessageTimeoutW(main, vardelo::UM_SNAPSHOT, what, reinterpret_cast<LPARAM>(receiver()),
                      SMTO_NORMAL, 10000, &result);
  receiving = nullptr;
  return received;
}

bool BenchReader::update() {
  ok_ = copyFromProgram(main_, vardelo::SNAPSHOT_BENCH, bytes_.data(), bytes_.size());
  return ok_;
}

}  // namespace probe
