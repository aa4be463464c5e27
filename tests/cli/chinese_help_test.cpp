// What razere-cli and razere-gen say of their own is Chinese: the help of
// every command and the usage errors, CLI11's labels and messages included.
// Only option names, placeholders, file names and the words the user typed
// may be ASCII words. --version prints the build tag.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/build_tag.h"
#include "fixtures/cli_runner.h"
#include "fixtures/files.h"

namespace razere {
namespace {

using testing::CliResult;
using testing::RunTool;

// ASCII words that are no option name (-x, --name), no placeholder or
// acronym (no lower-case letter: TEXT, FILE, UTF-8, JSON), no file name or
// path (a dot or a slash: Config.ini, .bak, GuildBase/) and not among
// allowed: the programs' and commands' names, choice values, units.
std::vector<std::string> EnglishWords(const std::string& text, const std::set<std::string>& allowed) {
  std::vector<std::string> words;
  std::string token;
  auto finish = [&] {
    const bool lower = std::any_of(token.begin(), token.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    if (lower && token[0] != '-' && token.find_first_of("./\\") == std::string::npos && !allowed.contains(token)) {
      words.push_back(token);
    }
    token.clear();
  };
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80 && (std::isalnum(b) || std::string_view("._-/\\!$").find(c) != std::string_view::npos)) {
      token += c;
    } else if (!token.empty()) {
      finish();
    }
  }
  if (!token.empty()) finish();
  return words;
}

const std::set<std::string> kNames = {"razere-cli", "razere-gen", "merge",  "verify", "restore", "history", "encode-setup-value",
                                      "pair",       "server",     "master", "slave",  "GiB",
                                      "0x"};

bool HasChinese(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xE0; });
}

struct HelpCase {
  const char* tool;
  std::vector<std::string> args;
  std::vector<std::string> lines;  // parts the help must show
};

class ChineseHelpTest : public ::testing::TestWithParam<HelpCase> {};

TEST_P(ChineseHelpTest, IsChineseOnStandardOutput) {
  const HelpCase& c = GetParam();
  const CliResult r = RunTool(c.tool, c.args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(HasChinese(r.out)) << r.out;
  EXPECT_EQ(EnglishWords(r.out, kNames), std::vector<std::string>{}) << r.out;
  for (const std::string& line : c.lines) EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ChineseHelpTest,
    ::testing::Values(
        HelpCase{"razere-cli", {"--help"}, {"用法: razere-cli [选项] 命令", "命令:\n", "  merge ", "  verify ",
                                             "  encode-setup-value ", "--version", "显示帮助并退出"}},
        HelpCase{"razere-cli", {"merge", "--help"}, {"用法: razere-cli merge [选项]", "选项:\n", "--config FILE",
                                                      "--no-space-check", "--report FILE"}},
        HelpCase{"razere-cli", {"verify", "--help"}, {"用法: razere-cli verify [选项] PATH...", "参数:\n", "必需"}},
        HelpCase{"razere-cli", {"encode-setup-value", "--help"}, {"--fill BYTE", "TEXT"}},
        HelpCase{"razere-gen", {"--help"}, {"用法: razere-gen [选项] 命令", "  pair ", "  server "}},
        HelpCase{"razere-gen", {"pair", "--help"}, {"--out DIR 必需", "--accounts INT=300"}},
        HelpCase{"razere-gen", {"server", "--help"}, {"--side TEXT:{master,slave}=master"}}),
    [](const ::testing::TestParamInfo<HelpCase>& info) {
      std::string name = info.param.tool;
      for (const std::string& a : info.param.args) name += "_" + a;
      for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

// Columns a terminal gives the text: two for each Chinese character.
size_t Columns(std::string_view text) {
  size_t n = 0;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    n += b < 0x80 ? 1 : b >= 0xC0 ? 2 : 0;
  }
  return n;
}

// An option's description starts in one column whatever stands before it:
// a Chinese label ("必需") is two columns a character, not three bytes.
TEST(ChineseHelp, DescriptionsStayInOneColumn) {
  const CliResult r = RunTool("razere-gen", {"pair", "--help"});
  const std::pair<std::string, std::string> lines[] = {
      {"\n  --out DIR 必需", "写入的目录"}, {"\n  --seed UINT=1", "随机种子"}, {"\n  --force", "写入非空"}};
  for (const auto& [option, description] : lines) {
    const size_t line = r.out.find(option);
    ASSERT_NE(line, std::string::npos) << option << "\n" << r.out;
    const size_t text = r.out.find(description, line);
    ASSERT_NE(text, std::string::npos) << description << "\n" << r.out;
    EXPECT_EQ(Columns(r.out.substr(line + 1, text - line - 1)), 30u) << option << "\n" << r.out;
  }
}

struct UsageCase {
  const char* tool;
  std::vector<std::string> args;
  int exitCode;
  const char* message;  // the error's Chinese, as printed
  const char* hint;     // whose help it points to; "" for the commands' own checks
};

class ChineseUsageErrorTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(ChineseUsageErrorTest, IsChineseOnStandardError) {
  const UsageCase& c = GetParam();
  const CliResult r = RunTool(c.tool, c.args);
  EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  if (*c.hint != '\0') {
    EXPECT_NE(r.err.find(std::string("用 ") + c.hint + " 查看帮助。"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(HasChinese(r.err)) << r.err;
  // What the user typed comes back as typed.
  std::set<std::string> allowed = kNames;
  allowed.insert(c.args.begin(), c.args.end());
  EXPECT_EQ(EnglishWords(r.err, allowed), std::vector<std::string>{}) << r.err;
}

// CLI11's errors (missing command, unknown argument, missing value or
// argument, a value of the wrong type, a value outside a choice) and each
// command's own checks of its values.
INSTANTIATE_TEST_SUITE_P(
    Commands, ChineseUsageErrorTest,
    ::testing::Values(
        UsageCase{"razere-cli", {}, 2, "缺少命令，可用的命令：merge、verify、restore、history、encode-setup-value", "razere-cli --help"},
        UsageCase{"razere-cli", {"frobnicate"}, 2, "缺少命令", "razere-cli --help"},
        UsageCase{"razere-cli", {"merge", "--no-such-flag"}, 2, "无法识别的参数：--no-such-flag",
                  "razere-cli merge --help"},
        UsageCase{"razere-cli", {"merge", "--config"}, 2, "--config 缺少值（FILE）", "razere-cli merge --help"},
        UsageCase{"razere-cli", {"merge", "--min-day", "十"}, 2, "--min-day 的值不是十进制整数：十", ""},
        UsageCase{"razere-cli", {"verify"}, 2, "缺少 PATH", "razere-cli verify --help"},
        // Relative: CLI11 on Windows takes "/name" for an option.
        UsageCase{"razere-cli", {"verify", "无此目录"}, 2, "verify：不是目录：无此目录", ""},
        UsageCase{"razere-cli", {"encode-setup-value"}, 2, "缺少 TEXT", "razere-cli encode-setup-value --help"},
        UsageCase{"razere-cli", {"encode-setup-value", "值", "多余"}, 2, "无法识别的参数：多余",
                  "razere-cli encode-setup-value --help"},
        UsageCase{"razere-cli", {"encode-setup-value", "值", "--fill", "256"}, 2, "--fill 的值不是字节值", ""},
        UsageCase{"razere-gen", {}, 2, "缺少命令，可用的命令：pair、server", "razere-gen --help"},
        UsageCase{"razere-gen", {"pair"}, 2, "缺少 --out", "razere-gen pair --help"},
        UsageCase{"razere-gen", {"pair", "--out", "/无此目录", "--accounts", "十"}, 2, "--accounts 的值无效：十",
                  "razere-gen pair --help"},
        UsageCase{"razere-gen", {"server", "--out", "/无此目录", "--side", "两者"}, 2,
                  "--side 的值 两者 无效，可用的值：{master,slave}", "razere-gen server --help"},
        UsageCase{"razere-gen", {"pair", "--out", "/无此目录", "--items-per-char", "498"}, 2,
                  "--items-per-char 的值须在 0 到 497 之间", ""},
        UsageCase{"razere-gen", {"pair", "--out", "/无此目录", "--now", "昨天"}, 2, "--now 的值不是 YYYY-MM-DD 格式的日期",
                  ""}),
    [](const ::testing::TestParamInfo<UsageCase>& info) {
      std::string name = std::string(info.param.tool) + "_" + std::to_string(info.index);
      for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

TEST(ChineseHelp, VersionPrintsTheBuildTag) {
  for (const char* tool : {"razere-cli", "razere-gen"}) {
    const CliResult r = RunTool(tool, {"--version"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, std::string(tool) + " " + BuildTag() + "\n");
  }
  // The project's version, then the revision when the build had one.
  EXPECT_TRUE(std::regex_match(BuildTag(), std::regex(R"(\d+(\.\d+)+( \([0-9a-f]{4,}\+?\))?)"))) << BuildTag();
}

TEST(ChineseHelp, TheWordCheckFindsEnglish) {
  // The check above would pass on anything if it found nothing.
  EXPECT_EQ(EnglishWords("Usage: razere-cli [OPTIONS] --config FILE Config.ini", kNames),
            std::vector<std::string>{"Usage"});
  EXPECT_EQ(EnglishWords("缺少命令 A subcommand is required", kNames),
            (std::vector<std::string>{"subcommand", "is", "required"}));
}

}  // namespace
}  // namespace razere
