#include "report/report_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vardelo {
namespace {

ParsedOptions parse(std::vector<const char*> args) {
  args.insert(args.begin(), "vardelo-report.exe");
  return parseReportOptions(static_cast<int>(args.size()), args.data());
}

TEST(ReportOptions, NoOptionsRunEverything) {
  const ParsedOptions p = parse({});
  ASSERT_EQ(p.verdict, OptionsVerdict::Run);
  EXPECT_FALSE(p.options.stride);
  EXPECT_TRUE(p.options.cache && p.options.readPass && p.options.writePass);
  for (bool b : p.options.blocks) EXPECT_TRUE(b);
}

TEST(ReportOptions, PassesTakeExactNamesOnly) {
  const struct {
    const char* arg;
    bool ok, read, write;
  } cases[] = {
      {"--passes=read,write", true, true, true},
      {"--passes=write,read", true, true, true},
      {"--passes=read", true, true, false},
      {"--passes=write", true, false, true},
      {"--passes=none", true, false, false},
      {"--passes=unread", false},  // once read as "read" because it contains it
      {"--passes=rewrite", false},
      {"--passes=Read", false},
      {"--passes=reading", false},
      {"--passes=read,", false},
      {"--passes=,write", false},
      {"--passes=none,read", false},
      {"--passes=", false},
      {"--passes", false},
  };
  for (const auto& c : cases) {
    const ParsedOptions p = parse({c.arg});
    if (!c.ok) {
      EXPECT_EQ(p.verdict, OptionsVerdict::Bad) << c.arg;
      continue;
    }
    ASSERT_EQ(p.verdict, OptionsVerdict::Run) << c.arg << ": " << p.message;
    EXPECT_EQ(p.options.readPass, c.read) << c.arg;
    EXPECT_EQ(p.options.writePass, c.write) << c.arg;
  }
}

TEST(ReportOptions, BlockListsTakeOnlyTheFourBlockSizes) {
  const struct {
    const char* arg;
    bool ok;
    bool blocks[4];
  } cases[] = {
      {"--blocks=32,64,128,256", true, {true, true, true, true}},
      {"--blocks=256", true, {false, false, false, true}},
      {"--blocks=128,32", true, {true, false, true, false}},
      {"--blocks=48", false, {}},
      {"--blocks=032", false, {}},
      {"--blocks=+64", false, {}},
      {"--blocks= 32", false, {}},
      {"--blocks=2560", false, {}},
      {"--blocks=32,", false, {}},
      {"--blocks=32;64", false, {}},
      {"--blocks=", false, {}},
  };
  for (const auto& c : cases) {
    const ParsedOptions p = parse({c.arg});
    if (!c.ok) {
      EXPECT_EQ(p.verdict, OptionsVerdict::Bad) << c.arg;
      continue;
    }
    ASSERT_EQ(p.verdict, OptionsVerdict::Run) << c.arg << ": " << p.message;
    for (int b = 0; b < 4; ++b) {
      EXPECT_EQ(p.options.blocks[b], c.blocks[b]) << c.arg << " block " << b;
    }
  }
}

TEST(ReportOptions, CpuTakesOneProcessorNumber) {
  static_assert(REPORT_TAKES_CPU, "the host tests run where the native report does");
  EXPECT_EQ(parse({}).options.cpu, 0u) << "processor 0 unless told";
  const struct {
    std::vector<const char*> args;
    bool ok;
    u32 cpu;
  } cases[] = {
      {{"--cpu=3"}, true, 3},
      {{"--cpu", "12"}, true, 12},
      {{"--cpu=1023"}, true, 1023},
      {{"--cpu=0"}, true, 0},
      {{"--cpu=5", "--cpu", "1", "--stride"}, true, 1},  // the last one counts
      {{"--cpu=1024"}, false},
      {{"--cpu=99999"}, false},
      {{"--cpu=-1"}, false},
      {{"--cpu=+1"}, false},
      {{"--cpu= 1"}, false},
      {{"--cpu=1a"}, false},
      {{"--cpu="}, false},
      {{"--cpu"}, false},  // the number is missing
      {{"--cpu", "--stride"}, false},
      {{"--cpus=1"}, false},
  };
  for (const auto& c : cases) {
    const ParsedOptions p = parse(c.args);
    const std::string what = c.args[0] + std::string(c.args.size() > 1 ? " ..." : "");
    if (!c.ok) {
      EXPECT_EQ(p.verdict, OptionsVerdict::Bad) << what;
      continue;
    }
    ASSERT_EQ(p.verdict, OptionsVerdict::Run) << what << ": " << p.message;
    EXPECT_EQ(p.options.cpu, c.cpu) << what;
  }
}

TEST(ReportOptions, HelpWinsAndBadOnesSayWhatIsWrong) {
  EXPECT_EQ(parse({"--help"}).verdict, OptionsVerdict::Help);
  EXPECT_EQ(parse({"--stride", "-h"}).verdict, OptionsVerdict::Help);

  const struct {
    const char* arg;
    const char* says;
  } bad[] = {
      {"--passes=unread", "--passes takes read, write, read,write or none, not 'unread'"},
      {"--blocks=48", "not '48'"},
      {"--strides", "unknown option '--strides'"},
      {"--no-cache=1", "unknown option '--no-cache=1'"},
      {"help", "unknown option 'help'"},
  };
  for (const auto& c : bad) {
    const ParsedOptions p = parse({"--stride", c.arg});
    EXPECT_EQ(p.verdict, OptionsVerdict::Bad) << c.arg;
    EXPECT_NE(p.message.find(c.says), std::string::npos) << c.arg << ": " << p.message;
  }
}

TEST(ReportOptions, TheLastOfTwoSameOptionsCounts) {
  const ParsedOptions p = parse({"--stride", "--no-cache", "--passes=none", "--passes=write",
                                 "--blocks=32", "--blocks=64,256"});
  ASSERT_EQ(p.verdict, OptionsVerdict::Run);
  EXPECT_TRUE(p.options.stride);
  EXPECT_FALSE(p.options.cache);
  EXPECT_FALSE(p.options.readPass);
  EXPECT_TRUE(p.options.writePass);
  const bool want[4] = {false, true, false, true};
  for (int b = 0; b < 4; ++b) EXPECT_EQ(p.options.blocks[b], want[b]) << "block " << b;
}

}  // namespace
}  // namespace vardelo
