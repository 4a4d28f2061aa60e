// The console companion's command line: what it runs, or why it will not.
#pragma once

#include <string>

#include "core/bench_state.h"

namespace vardelo {

struct ReportOptions {
  bool stride = false;     // --stride: the ten strided read and write walks
  bool cache = true;       // cleared by --no-cache
  bool readPass = true;    // --passes=
  bool writePass = true;
  bool blocks[RAM_BLOCK_KINDS] = {true, true, true, true};  // --blocks=, by block size
  u32 cpu = 0;  // --cpu=N: the processor to measure on (native Linux build only)
};

// Whether this build takes --cpu: the Windows programs always measure on processor 0.
#ifdef _WIN32
inline constexpr bool REPORT_TAKES_CPU = false;
#else
inline constexpr bool REPORT_TAKES_CPU = true;
#endif

// The highest processor number --cpu accepts (the size of Linux's processor sets, less one).
inline constexpr u32 REPORT_MAX_CPU = 1023;

enum class OptionsVerdict {
  Run,   // options hold what to run
  Help,  // --help or -h: print the usage on stdout and end with 0
  Bad,   // message says what is wrong; print it and the usage on stderr and end with 2
};

struct ParsedOptions {
  OptionsVerdict verdict = OptionsVerdict::Run;
  ReportOptions options;
  std::string message;
};

// The usage text, one line ending in a newline.
extern const char REPORT_USAGE[];

// Reads argv[1..argc-1]. Option names and list values must match exactly: "--passes=unread" is
// refused, not read as "read". --passes takes read, write, both as a comma-separated list, or
// none; --blocks a comma-separated list of 32, 64, 128 and 256; where REPORT_TAKES_CPU, --cpu a
// processor number in decimal up to REPORT_MAX_CPU, as --cpu=N or --cpu N. A later option
// overrides an earlier one of the same name.
ParsedOptions parseReportOptions(int argc, const char* const* argv);

}  // namespace vardelo
