#include "app/merge_history.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace razere {
namespace {

SideFingerprint Fp(const std::string& tag) {
  SideFingerprint fp;
  fp.files = {"ID.DB 1 " + tag, "Hum.DB 2 " + tag, "Qel.DB 3 " + tag, "HeroQel.DB 4 " + tag};
  fp.noRecords = false;
  return fp;
}

TEST(MergeHistoryLines, OnlyALineWithAllFourFingerprintsNamesTheSlave) {
  ServerPaths slave;
  slave.QelServer = "/srv/slave/";
  slave.ID = "/srv/slave/LoginSrv/IDDB/ID.DB";
  const std::string line = HistoryLine(45000.5, slave, Fp("a"));
  SideFingerprint partly = Fp("a");
  partly.files[3] = "HeroQel.DB 4 b";
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    SideFingerprint fp;
    std::optional<std::string> when;
  };
  const Case cases[] = {
      {"empty history", {}, Fp("a"), std::nullopt},
      {"the slave's line", {"operator's note", line}, Fp("a"), "2023-03-15 12:00:00"},
      {"another slave", {line}, Fp("b"), std::nullopt},
      {"three of four files alike", {line}, partly, std::nullopt},
      {"a line cut short", {line.substr(0, line.find("HeroQel.DB"))}, Fp("a"), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EarlierMerge(c.lines, c.fp), c.when);
  }
}

}  // namespace
}  // namespace razere
