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
};

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
// none; --blocks a comma-separated list of 32, 64, 128 and 256. A later option overrides an
// earlier one of the same name.
ParsedOptions parseReportOptions(int argc, const char* const* argv);

}  // namespace vardelo
