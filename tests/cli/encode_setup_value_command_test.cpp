#include <gtest/gtest.h>

#include "fixtures/cli_runner.h"
#include "support/codecs.h"

namespace razere {
namespace {

using testing::RunCli;

// The printed value without its line break.
std::string Value(const testing::CliResult& r) {
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_FALSE(r.out.empty());
  return r.out.empty() ? "" : r.out.substr(0, r.out.size() - 1);
}

TEST(EncodeSetupValueCommand, PrintsAValueThatDecodesBack) {
  const std::string a = Value(RunCli({"encode-setup-value", "区/Key-01"}));
  EXPECT_EQ(DecodeSetupValue(a), "区/Key-01");
  for (char c : a) EXPECT_TRUE(c >= 60 && c <= 124) << a;  // plain ASCII for !Setup.txt

  const std::string b = Value(RunCli({"encode-setup-value", "secret", "--fill", "0x5A"}));
  EXPECT_EQ(DecodeSetupValue(b, 0x5A), "secret");
  EXPECT_NE(DecodeSetupValue(b, 0), "secret");
  EXPECT_EQ(DecodeSetupValue(Value(RunCli({"encode-setup-value", "--fill", "255", "x"})), 255), "x");
}

TEST(EncodeSetupValueCommand, UsageErrors) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"encode-setup-value"}, {"encode-setup-value", "x", "--fill", "256"},
           {"encode-setup-value", "x", "--fill", "-1"}, {"encode-setup-value", "x", "--fill", "ab"}}) {
    const auto r = RunCli(args);
    EXPECT_EQ(r.exitCode, 2) << args.back();
    EXPECT_TRUE(r.out.empty());
  }
}

}  // namespace
}  // namespace razere
