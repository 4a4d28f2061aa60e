#include "report/report_options.h"

#include <cstring>
#include <string_view>

namespace vardelo {

#ifdef _WIN32
const char REPORT_USAGE[] =
    "usage: vardelo-report.exe [--stride] [--no-cache] [--passes=read,write|read|write|none] "
    "[--blocks=32,64,128,256] [--help]\n";
#else
const char REPORT_USAGE[] =
    "usage: vardelo-report [--cpu=N] [--stride] [--no-cache] "
    "[--passes=read,write|read|write|none] [--blocks=32,64,128,256] [--help]\n";
#endif

namespace {

constexpr std::string_view PASSES = "--passes=";
constexpr std::string_view BLOCKS = "--blocks=";
constexpr std::string_view CPU = "--cpu";

// Calls `item` for each comma-separated item of `list`; false for an empty list, an empty item
// or an item that `item` refuses.
template <typename Item>
bool forEachItem(std::string_view list, Item item) {
  if (list.empty()) return false;
  for (;;) {
    const std::size_t comma = list.find(',');
    const std::string_view one = list.substr(0, comma);
    if (one.empty() || !item(one)) return false;
    if (comma == std::string_view::npos) return true;
    list.remove_prefix(comma + 1);
  }
}

bool parsePasses(std::string_view list, ReportOptions& options) {
  if (list == "none") {
    options.readPass = options.writePass = false;
    return true;
  }
  bool read = false, write = false;
  const bool ok = forEachItem(list, [&](std::string_view pass) {
    if (pass == "read") return read = true;
    if (pass == "write") return write = true;
    return false;
  });
  if (!ok) return false;
  options.readPass = read;
  options.writePass = write;
  return true;
}

bool parseBlocks(std::string_view list, ReportOptions& options) {
  bool chosen[RAM_BLOCK_KINDS] = {};
  const bool ok = forEachItem(list, [&](std::string_view block) {
    for (int b = 0; b < RAM_BLOCK_KINDS; ++b) {
      if (block == std::to_string(RAM_BLOCK_BYTES[b])) return chosen[b] = true;
    }
    return false;
  });
  if (!ok) return false;
  for (int b = 0; b < RAM_BLOCK_KINDS; ++b) options.blocks[b] = chosen[b];
  return true;
}

// A processor number: decimal digits only, no sign or blank, at most REPORT_MAX_CPU.
bool parseCpu(std::string_view number, ReportOptions& options) {
  if (number.empty() || number.size() > 4) return false;
  u32 cpu = 0;
  for (const char c : number) {
    if (c < '0' || c > '9') return false;
    cpu = cpu * 10 + static_cast<u32>(c - '0');
  }
  if (cpu > REPORT_MAX_CPU) return false;
  options.cpu = cpu;
  return true;
}

ParsedOptions refuse(std::string message) {
  ParsedOptions parsed;
  parsed.verdict = OptionsVerdict::Bad;
  parsed.message = std::move(message);
  return parsed;
}

}  // namespace

ParsedOptions parseReportOptions(int argc, const char* const* argv) {
  ParsedOptions parsed;
  ReportOptions& options = parsed.options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      parsed.verdict = OptionsVerdict::Help;
      return parsed;
    }
    if (arg == "--stride") {
      options.stride = true;
    } else if (arg == "--no-cache") {
      options.cache = false;
    } else if (arg.substr(0, PASSES.size()) == PASSES) {
      const std::string_view value = arg.substr(PASSES.size());
      if (!parsePasses(value, options)) {
        return refuse("--passes takes read, write, read,write or none, not '" +
                      std::string(value) + "'");
      }
    } else if (arg.substr(0, BLOCKS.size()) == BLOCKS) {
      const std::string_view value = arg.substr(BLOCKS.size());
      if (!parseBlocks(value, options)) {
        return refuse("--blocks takes a comma-separated list of 32, 64, 128 and 256, not '" +
                      std::string(value) + "'");
      }
    } else if (REPORT_TAKES_CPU && arg.substr(0, CPU.size()) == CPU &&
               (arg.size() == CPU.size() || arg[CPU.size()] == '=')) {
      // --cpu=N, or --cpu and N as the next argument
      const bool joined = arg.size() > CPU.size();
      if (!joined && i + 1 == argc) return refuse("--cpu takes a processor number");
      const std::string_view value = joined ? arg.substr(CPU.size() + 1) : argv[++i];
      if (!parseCpu(value, options)) {
        return refuse("--cpu takes a processor number from 0 to " +
                      std::to_string(REPORT_MAX_CPU) + ", not '" + std::string(value) + "'");
      }
    } else {
      return refuse("unknown option '" + std::string(arg) + "'");
    }
  }
  return parsed;
}

}  // namespace vardelo
