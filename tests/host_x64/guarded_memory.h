// Memory between guard pages for the 64-bit kernel tests, and a way to run a kernel that may
// touch a guard: the touch ends the run and is reported with the address it went to, so a test
// can say exactly where a kernel stopped reading or writing.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <csetjmp>
#include <csignal>
#include <cstddef>
#include <cstdint>

namespace vardelo {

// `bytes` (rounded up to whole pages) of memory with `access` protection, with an inaccessible
// page right below begin() and right at end().
class GuardedMemory {
 public:
  static constexpr std::size_t PAGE = 4096;

  explicit GuardedMemory(std::size_t bytes, int access = PROT_READ | PROT_WRITE)
      : bytes_((bytes + PAGE - 1) / PAGE * PAGE) {
    void* map = mmap(nullptr, bytes_ + 2 * PAGE, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) return;
    map_ = static_cast<std::uint8_t*>(map);
    if (mprotect(map_ + PAGE, bytes_, access) != 0) {
      munmap(map_, bytes_ + 2 * PAGE);
      map_ = nullptr;
    }
  }
  ~GuardedMemory() {
    if (map_ != nullptr) munmap(map_, bytes_ + 2 * PAGE);
  }
  GuardedMemory(const GuardedMemory&) = delete;
  GuardedMemory& operator=(const GuardedMemory&) = delete;

  bool ok() const { return map_ != nullptr; }
  std::uint8_t* begin() const { return map_ + PAGE; }
  std::uint8_t* end() const { return map_ + PAGE + bytes_; }
  std::size_t size() const { return bytes_; }
  bool protect(int access) { return mprotect(begin(), bytes_, access) == 0; }

 private:
  std::size_t bytes_;
  std::uint8_t* map_ = nullptr;
};

namespace guard_detail {
inline sigjmp_buf jump;
inline void* volatile faultAddress = nullptr;

inline void onFault(int, siginfo_t* info, void*) {
  faultAddress = info->si_addr;
  siglongjmp(jump, 1);
}
}  // namespace guard_detail

// Runs `run`; returns the address of the access that faulted, or null when it ran to the end.
// The handler is installed for the run only. A run that faults is cut off where it stood: the
// caller clears any processor state it would have cleared on the way out.
template <class Run>
void* faultOf(Run run) {
  struct sigaction handler {}, previous {};
  handler.sa_sigaction = guard_detail::onFault;
  handler.sa_flags = SA_SIGINFO;
  sigemptyset(&handler.sa_mask);
  sigaction(SIGSEGV, &handler, &previous);
  guard_detail::faultAddress = nullptr;
  if (sigsetjmp(guard_detail::jump, 1) == 0) run();
  sigaction(SIGSEGV, &previous, nullptr);
  return guard_detail::faultAddress;
}

}  // namespace vardelo
