// The master replacement on a master that lacks a target's folder: a server
// that never had player shops or mail has no Envir/UserData, and the new
// Shop.dat, ShopItem.dat and Email.db must still arrive there.
#include <gtest/gtest.h>

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

namespace fs = std::filesystem;

TEST(ReplacementFolders, AMissingTargetFolderIsMade) {
  ScratchDir scratch;
  gen::GenOptions o = testing::StagePairOptions();
  o.chars = 6;
  o.accounts = 12;
  const gen::GeneratedPair pair = gen::GeneratePair(o, scratch.path() / "pair");
  const fs::path userData = fs::path(pair.master.paths.Shop).parent_path();
  ASSERT_EQ(fs::path(pair.master.paths.Email).parent_path(), userData);
  fs::remove_all(userData);

  const auto r = RunCli({"merge", "--config", pair.config.string(), "--replace", "--backup", "--quiet"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  testing::ExpectVerifiedClean(pair.save);
  testing::ExpectVerifiedClean(pair.master.root);
  for (const char* name : {"Shop.dat", "ShopItem.dat", "Email.db"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(fs::is_regular_file(pair.save / name));
    EXPECT_EQ(Slurp(userData / name), Slurp(pair.save / name));
    EXPECT_FALSE(fs::exists(userData / (std::string(name) + ".razere-new")));
    EXPECT_FALSE(fs::exists(userData / (std::string(name) + ".bak")));  // there was no old one to keep
  }
}

}  // namespace
}  // namespace razere
