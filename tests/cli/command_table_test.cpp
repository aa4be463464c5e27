// The command table's dispatch: every command is reachable by its name and
// listed in the help; whatever names no single command is a usage error.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "fixtures/cli_runner.h"

namespace razere {
namespace {

using testing::RunCli;

TEST(CommandTable, HelpListsEveryCommandWithItsDescription) {
  const auto r = RunCli({"--help"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const char* line : {"merge", "把从库合并进主库的数据，在保存目录中写出新的一套数据", "verify",
                           "检查合并后的数据（保存目录或服务器根目录）", "encode-setup-value",
                           "把 TEXT 编码为 !Setup.txt 中网络服务项的值并输出"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  }
}

TEST(CommandTable, EachCommandsHelpShowsItsOwnOptions) {
  const auto merge = RunCli({"merge", "--help"});
  EXPECT_EQ(merge.exitCode, 0);
  EXPECT_NE(merge.out.find("--config"), std::string::npos) << merge.out;
  EXPECT_EQ(merge.out.find("--fill"), std::string::npos);
  const auto encode = RunCli({"encode-setup-value", "--help"});
  EXPECT_EQ(encode.exitCode, 0);
  EXPECT_NE(encode.out.find("--fill"), std::string::npos) << encode.out;
  EXPECT_EQ(encode.out.find("--config"), std::string::npos);
}

struct UsageCase {
  const char* why;
  std::vector<std::string> args;
};

class CommandTableUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CommandTableUsageTest, ExitsTwoAndRunsNothing) {
  const auto r = RunCli(GetParam().args);
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;  // encode-setup-value would have printed a value
  EXPECT_FALSE(r.err.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandTableUsageTest,
    ::testing::Values(UsageCase{"no command", {}}, UsageCase{"unknown command", {"frobnicate"}},
                      UsageCase{"a name's prefix", {"encode"}},
                      UsageCase{"another command's option", {"encode-setup-value", "x", "--config", "c.ini"}},
                      UsageCase{"an option before the command", {"--fill", "1", "encode-setup-value", "x"}},
                      UsageCase{"two commands", {"encode-setup-value", "x", "merge"}}),
    [](const ::testing::TestParamInfo<UsageCase>& info) {
      std::string name;
      for (const char* p = info.param.why; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

}  // namespace
}  // namespace razere
