#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/install_fixture.h"
#include "app/web_merge_stage.h"
#include "merge/accounts.h"
#include "remote/area_merge.h"
#include "remote/json_text.h"
#include "support/ansi.h"
#include "support/codecs.h"
#include "support/datetime.h"

namespace razere {
namespace {

using Json = nlohmann::ordered_json;
using testing::ScratchDir;
using testing::WriteBytes;

std::string Quoted(std::string_view utf8) {
  std::string out;
  AppendJsonString(out, utf8);
  return out;
}

struct EscapeCase {
  std::string utf8;
  std::string text;
};

class JsonEscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonEscapeTest, WritesPureAscii) { EXPECT_EQ(Quoted(GetParam().utf8), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonEscapeTest,
    ::testing::Values(EscapeCase{"", R"("")"}, EscapeCase{"abc 123", R"("abc 123")"},
                      EscapeCase{"a/b", R"("a\/b")"}, EscapeCase{"\"\\", R"("\"\\")"},
                      EscapeCase{"\b\t\n\f\r", R"("\b\t\n\f\r")"},
                      EscapeCase{std::string("\x00\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
                      EscapeCase{"\x7f", "\"\x7f\""},                 // 127 stands as it is
                      EscapeCase{"\xC2\x80\xC3\xA9", R"("\u0080\u00e9")"},
                      EscapeCase{"张三", R"("\u5f20\u4e09")"},          // lower-case hex
                      EscapeCase{"\xEF\xBF\xBF", R"("\uffff")"},
                      EscapeCase{"\xF0\x9F\x98\x80", R"("\ud83d\ude00")"},  // a pair of code units
                      EscapeCase{"\xED\xB2\x80", R"("\udc80")"},            // a surrogate escape
                      EscapeCase{"a\xFF" "b\xC3", R"("a\udcffb\udcc3")"}));  // malformed bytes

TEST(JsonText, WritesCompactlyInMemberOrderWithoutRecursionLimits) {
  Json j = Json::parse(R"({ "z": 1, "a": [ true, false, null, -5, 18446744073709551615, 1.5 ], "m": { } , "e": []})");
  EXPECT_EQ(WriteJsonText(j), R"({"z":1,"a":[true,false,null,-5,18446744073709551615,1.5],"m":{},"e":[]})");
  EXPECT_EQ(WriteJsonText(Json("x/y")), R"("x\/y")");
  EXPECT_EQ(WriteJsonText(Json(Json::object({{"k/", "v"}}))), R"({"k\/":"v"})");

  // An answer nested far deeper than any call stack would take.
  const size_t depth = 200000;
  std::string deep = std::string(depth, '[') + std::string(depth, ']');
  EXPECT_EQ(WriteJsonText(Json::parse(deep)), deep);
}

TEST(AreaMergeRequest, BodyBytesAreExact) {
  const std::vector<RenamedRole> roles = {
      {77, "张三"}, {0, "zero"}, {-3, "negative"}, {12, ""}, {2147483647, "a/b\"c"}};
  const Json r = BuildAreaMergeRequest("main/key", "slave-key", roles, 42, 1796893507);
  EXPECT_EQ(WriteJsonText(r),
            R"({"uid":42,"area_main_key":"main\/key","area_keys":[{"key":"slave-key","names":[)"
            R"({"new":"\u5f20\u4e09","role_id":77},{"new":"a\/b\"c","role_id":2147483647}]}],)"
            R"("timestamp":1796893507})");
}

TEST(AreaMergeRequest, NamesIsAnEmptyArrayWithoutRenames) {
  EXPECT_EQ(WriteJsonText(BuildAreaMergeRequest("M", "S", {}, 1, 0)),
            R"({"uid":1,"area_main_key":"M","area_keys":[{"key":"S","names":[]}],"timestamp":0})");
  EXPECT_EQ(WriteJsonText(BuildAreaMergeRequest("M", "S", {{0, "x"}, {5, ""}}, 1, 0)),
            R"({"uid":1,"area_main_key":"M","area_keys":[{"key":"S","names":[]}],"timestamp":0})");
}

TEST(AreaMergeRequest, TimestampIsTheLocalWallClockReadAsUtc) {
  EXPECT_EQ(RequestTimestamp(EncodeDateTime(2026, 12, 10, 9, 5, 7)), 1796893507);
  EXPECT_EQ(RequestTimestamp(EncodeDateTime(2026, 12, 10, 9, 5, 7, 999)), 1796893507);  // whole seconds
  EXPECT_EQ(RequestTimestamp(EncodeDateTime(1970, 1, 1)), 0);
  EXPECT_EQ(RequestTimestamp(EncodeDateTime(1969, 12, 31, 23, 59, 59)), -1);
  EXPECT_EQ(LogDateTimeText(EncodeDateTime(2026, 12, 10, 9, 5, 7)), "2026/12/10 9:05:07");
  EXPECT_EQ(LogDateTimeText(EncodeDateTime(2027, 1, 2, 23, 0, 0)), "2027/1/2 23:00:00");
}

TEST(AreaMergeRequest, RenamedRolesComeFromCharRenamesInOrder) {
  NameRenameMap map;
  CharIndexEntry a, b;
  AccountEntry acc;
  acc.name = "acc";
  acc.newName = "acca";
  a.name = "abc";
  a.newName = "abca";
  a.roleId = 5;
  b.name = "\xD5\xC5\xC8\xFD";          // GBK "张三"
  b.newName = "\xD5\xC5\xC8\xFD" "b";
  b.roleId = 0;                          // renamed, but without a data record
  map.Add(b.name, &b);
  map.Add(acc.name, &acc);               // account entries never belong here
  map.Add(a.name, &a);
  const std::vector<RenamedRole> roles = RenamedRoles(&map);
  ASSERT_EQ(roles.size(), 2u);
  EXPECT_EQ(roles[0].roleId, 0);
  EXPECT_EQ(roles[0].newName, "张三b");
  EXPECT_EQ(roles[1].roleId, 5);
  EXPECT_EQ(roles[1].newName, "abca");
  EXPECT_TRUE(RenamedRoles(nullptr).empty());
  EXPECT_EQ(WriteJsonText(BuildAreaMergeRequest("M", "S", roles, 1, 0)),
            R"({"uid":1,"area_main_key":"M","area_keys":[{"key":"S","names":[{"new":"abca","role_id":5}]}],"timestamp":0})");
}

// A !Setup.txt with a [WebService] section in GBK.
std::string SetupText(const std::string& areaKey, const std::string& safeId, const std::string& safeKey) {
  std::string t = "[Setup]\r\nServerName=Test\r\n[WebService]\r\n";
  if (!areaKey.empty()) t += "AreaKey=" + areaKey + "\r\n";
  if (!safeId.empty()) t += "SafeId=" + safeId + "\r\n";
  if (!safeKey.empty()) t += "SafeKey=" + safeKey + "\r\n";
  return Utf8ToGbk(t);
}

struct KeyCase {
  const char* name;
  std::string safeId;
  std::string safeKey;  // plain; "" = absent
  bool found;
};

class ReadAreaKeyTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(ReadAreaKeyTest, CredentialsDecideTheMastersKey) {
  const KeyCase& c = GetParam();
  ScratchDir dir;
  const auto setup = dir.path() / "!Setup.txt";
  const std::string encodedKey = c.safeKey.empty() ? "" : EncodeSetupValue(c.safeKey, "<AB{");
  WriteBytes(setup, SetupText(EncodeSetupValue("区/001", "MN<|"), c.safeId, encodedKey));

  WebServiceCredentials cred;
  EXPECT_EQ(ReadAreaKey(setup, &cred), c.found ? "区/001" : "");
  EXPECT_EQ(cred.SafeKey, c.safeKey);
  // Without credentials only the area key counts.
  EXPECT_EQ(ReadAreaKey(setup, nullptr), "区/001");
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadAreaKeyTest,
                         ::testing::Values(KeyCase{"complete", "1001", "秘密key", true},
                                           KeyCase{"idZero", "0", "secret", false},
                                           KeyCase{"idNegative", "-4", "secret", false},
                                           KeyCase{"idMissing", "", "secret", false},
                                           KeyCase{"idJunk", "12ab", "secret", false},
                                           KeyCase{"keyMissing", "1001", "", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadAreaKey, MissingOrUndecodableValuesAreEmpty) {
  ScratchDir dir;
  EXPECT_EQ(ReadAreaKey(dir.path() / "none.txt", nullptr), "");
  WriteBytes(dir.path() / "a.txt", SetupText("ABCD", "", ""));
  EXPECT_EQ(ReadAreaKey(dir.path() / "a.txt", nullptr), "");
  WriteBytes(dir.path() / "b.txt", SetupText("AB;;;;CD", "", ""));
  EXPECT_EQ(ReadAreaKey(dir.path() / "b.txt", nullptr), "");
}

TEST(ReadAreaKey, FillByteAndHostComeFromTheMergersConfig) {
  ScratchDir dir;
  const auto config = dir.path() / "Config.ini";
  EXPECT_EQ(ReadWebServiceOptions(config).Host, "127.0.0.1");
  EXPECT_EQ(ReadWebServiceOptions(config).FillByte, kDefaultSetupFillByte);
  EXPECT_EQ(ReadWebServiceOptions(config).ConnectTimeoutMs, 5000);
  EXPECT_EQ(ReadWebServiceOptions(config).ResponseTimeoutMs, 600000);

  WriteBytes(config, "[WebService]\r\nHost= shop.example:8080 \r\nFillByte=0x5A\r\n");
  EXPECT_EQ(ReadWebServiceOptions(config).Host, "shop.example:8080");
  EXPECT_EQ(ReadWebServiceOptions(config).FillByte, 0x5A);
  for (const char* bad : {"256", "-1", "x"}) {
    WriteBytes(config, std::string("[WebService]\r\nFillByte=") + bad + "\r\n");
    EXPECT_EQ(ReadWebServiceOptions(config).FillByte, kDefaultSetupFillByte) << bad;
  }

  // The stage reads the fill byte of Config.ini and fills the run's credentials.
  WriteBytes(config, "[WebService]\r\nFillByte=200\r\n");
  const auto setup = dir.path() / "!Setup.txt";
  WriteBytes(setup, SetupText(EncodeSetupValue("area", "<<<<", 200), "7", EncodeSetupValue("k", "====", 200)));
  RunContext ctx;
  ctx.ConfigFile = config.string();
  EXPECT_EQ(ReadAreaKey(ctx, ctx, setup.string(), true), "area");
  EXPECT_EQ(ctx.SafeId, 7);
  EXPECT_EQ(ctx.SafeKey, "k");
  WriteBytes(config, "[WebService]\r\nFillByte=201\r\n");
  EXPECT_NE(ReadAreaKey(ctx, ctx, setup.string(), false), "area");
}

}  // namespace
}  // namespace razere
