#include "app/run_report.h"

#include <gtest/gtest.h>

#include <string>

namespace razere {
namespace {

struct NameCase {
  const char* name;
  std::string gbk;
  std::string text;
};

TEST(ReportName, InvalidBytesAndBackslashesAreEscapesThatRoundTrip) {
  const NameCase cases[] = {
      {"plain GBK", "\xD5\xBD\xC9\xF1", "战神"},
      {"ASCII", "Titan_01", "Titan_01"},
      {"a lone lead byte at the end", "ab\x81", "ab\\x81"},
      {"an invalid pair", "\xFF\x30x", "\\xFF0x"},
      {"a backslash of the name", "a\\b", "a\\x5Cb"},
      {"text that looks like an escape", "\\x41", "\\x5Cx41"},
      {"empty", "", ""},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReportName(c.gbk), c.text);
    EXPECT_EQ(ReportNameBytes(ReportName(c.gbk)), c.gbk);
  }
}

TEST(ReportName, TextWithABrokenEscapeHasNoBytes) {
  for (const char* text : {"\\", "a\\x4", "\\y41", "\\xG1"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ReportNameBytes(text), std::nullopt);
  }
}

TEST(RunReportJson, UnknownCountsAreNullAndSecretsAreLeftOut) {
  RunReport r;
  r.haveSettings = true;
  r.settings.Master.AreaKey = "secret-area-key";
  r.master.accounts = 5;
  const std::string json = RunReportJson(r);
  EXPECT_EQ(json.find("secret-area-key"), std::string::npos);
  EXPECT_NE(json.find("\"accounts\": 5"), std::string::npos) << json;
  EXPECT_NE(json.find("\"characters\": null"), std::string::npos) << json;
}

}  // namespace
}  // namespace razere
