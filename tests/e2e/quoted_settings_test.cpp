// Operators write Windows paths in quotes. A quoted save folder or file path
// in Config.ini names the folder or file inside the quotes, as the platform's
// profile functions read it, and never a folder named after a quote.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "fixtures/cli_runner.h"
#include "fixtures/files.h"
#include "fixtures/generated_pair.h"
#include "gen/generator.h"

namespace razere {
namespace {

using testing::RunCli;
using testing::ScratchDir;
using testing::Slurp;
using testing::WriteBytes;

namespace fs = std::filesystem;

// Puts `quote` around the value of every line whose key matches.
std::string QuoteValues(const std::string& ini, const std::string& keys, char quote) {
  const std::regex line("^((?:" + keys + ")=)([^\r\n]*)(\r?)$", std::regex::multiline);
  const std::string q(1, quote);
  return std::regex_replace(ini, line, "$1" + q + "$2" + q + "$3");
}

TEST(QuotedSettings, SaveFolderAndSidePathsAreReadWithoutTheirQuotes) {
  for (const char quote : {'"', '\''}) {
    SCOPED_TRACE(std::string(1, quote));
    ScratchDir scratch;
    gen::GenOptions o = testing::StagePairOptions();
    o.chars = 6;
    o.accounts = 12;
    const gen::GeneratedPair pair = gen::GeneratePair(o, scratch.path() / "pair");
    WriteBytes(pair.config, QuoteValues(Slurp(pair.config), "SavePath|Qel|Hum|ID", quote));
    ASSERT_NE(Slurp(pair.config).find(std::string("SavePath=") + quote), std::string::npos);

    const auto r = RunCli({"merge", "--config", pair.config.string(), "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    testing::ExpectVerifiedClean(pair.save);
    for (const char* name : {"ID.DB", "Hum.DB", "Qel.DB", "HeroQel.DB"}) {
      EXPECT_TRUE(fs::is_regular_file(pair.save / name)) << name;
    }
    // Nothing landed in a folder named after a quote, here or below the program's folder.
    EXPECT_FALSE(fs::exists(fs::current_path() / std::string(1, quote)));
    EXPECT_FALSE(fs::exists(pair.program / std::string(1, quote)));
  }
}

}  // namespace
}  // namespace razere
