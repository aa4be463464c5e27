#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "remote/area_merge.h"
#include "remote/http_client.h"
#include "remote/json_text.h"
#include "remote/loopback_server.h"
#include "support/codecs.h"
#include "support/datetime.h"

namespace razere {
namespace {

using Json = nlohmann::ordered_json;
using testing::LoopbackServer;

constexpr const char* kStamp = "2026/12/10 9:05:07";

class WebCallBackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClockForTesting(EncodeDateTime(2026, 12, 10, 9, 5, 7));
    options.Host = server.host();
    credentials.SafeId = 1001;
    credentials.SafeKey = "签名key";
    request = BuildAreaMergeRequest("主区/A", "从区B", {{77, "张三"}, {0, "x"}}, 1001, 1796893507);
  }
  void TearDown() override { SetClockForTesting(std::nullopt); }

  void Call() { WebCallBack(request, credentials, options, log); }

  // The message of the error the call raises, or "" when it succeeds.
  std::string Failure() {
    try {
      Call();
    } catch (const std::exception& e) {
      return e.what();
    }
    return {};
  }

  std::string Body() const { return WriteJsonText(request); }
  std::string Url() const {
    return "http://" + server.host() + "/api.GameArea/areaMerge?sign=" + MD5Hex(credentials.SafeKey + Body());
  }

  LoopbackServer server;
  WebServiceOptions options;
  WebServiceCredentials credentials;
  Json request;
  std::vector<std::string> log;
};

TEST_F(WebCallBackTest, SuccessSendsTheSignedBodyWithItsHeaders) {
  EXPECT_EQ(Failure(), "");
  const auto got = server.received();
  ASSERT_EQ(got.size(), 1u);
  const auto& r = got[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.path, "/api.GameArea/areaMerge");
  EXPECT_EQ(r.target, "/api.GameArea/areaMerge?sign=" + MD5Hex(credentials.SafeKey + Body()));
  EXPECT_EQ(r.body, Body());
  EXPECT_EQ(r.body,
            R"({"uid":1001,"area_main_key":"\u4e3b\u533a\/A","area_keys":[{"key":"\u4ece\u533aB","names":)"
            R"([{"new":"\u5f20\u4e09","role_id":77}]}],"timestamp":1796893507})");
  auto header = [&r](const char* name) {
    auto it = r.headers.find(name);
    return it == r.headers.end() ? std::string("<absent>") : it->second;
  };
  EXPECT_EQ(header("Accept"), "application/json");
  EXPECT_EQ(header("Accept-Charset"), "utf-8");
  EXPECT_EQ(header("Content-Type"), "application/json; charset=utf-8");
  EXPECT_EQ(header("User-Agent"), "DERAREVADIDIdezed v1.0");
  EXPECT_EQ(header("Content-Length"), std::to_string(Body().size()));
  EXPECT_EQ(header("Expect"), "<absent>");
  EXPECT_EQ(header("Accept-Encoding"), "<absent>");

  EXPECT_EQ(log, (std::vector<std::string>{std::string(kStamp) + " URL: " + Url(),
                                           std::string(kStamp) + " POST: " + Body(),
                                           std::string(kStamp) + R"( Response: {"code":200,"msg":"ok"})"}));
  for (const std::string& line : log) EXPECT_EQ(line.find("签名key"), std::string::npos);
}

struct AnswerCase {
  const char* name;
  LoopbackServer::Reply reply;
  std::string error;        // "" = success
  std::string lastLogLine;  // without the date-time
};

class AnswerTest : public WebCallBackTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(AnswerTest, EndsAsTheTableSays) {
  const AnswerCase& c = GetParam();
  server.SetReply(c.reply);
  const std::string error = Failure();
  if (!c.error.empty() && c.error.back() == '*') {
    EXPECT_EQ(error.rfind(c.error.substr(0, c.error.size() - 1), 0), 0u) << error;
  } else {
    EXPECT_EQ(error, c.error);
  }
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0], std::string(kStamp) + " URL: " + Url());
  EXPECT_EQ(log[1], std::string(kStamp) + " POST: " + Body());
  EXPECT_EQ(log.back(), c.lastLogLine.empty() ? log[1] : std::string(kStamp) + c.lastLogLine);
  EXPECT_LE(log.size(), 3u);
}

LoopbackServer::Reply Answer(int status, std::string body) {
  LoopbackServer::Reply r;
  r.status = status;
  r.body = std::move(body);
  return r;
}

LoopbackServer::Reply Encoded(const char* encoding) {
  LoopbackServer::Reply r;
  r.headers = {{"Content-Encoding", encoding}};
  return r;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AnswerTest,
    ::testing::Values(
        AnswerCase{"msg", Answer(200, R"({"code":500,"msg":"分区\/不存在"})"), "分区/不存在",
                   R"( Response: {"code":500,"msg":"\u5206\u533a\/\u4e0d\u5b58\u5728"})"},
        AnswerCase{"emptyMsg", Answer(200, R"({"code":500,"msg":""})"), "未知的错误代码：(500)",
                   R"( Response: {"code":500,"msg":""})"},
        AnswerCase{"noCode", Answer(200, R"({"msg":"denied","data":[1,{"b":null}]})"), "denied",
                   R"( Response: {"msg":"denied","data":[1,{"b":null}]})"},
        AnswerCase{"nothing", Answer(200, "{}"), "未知的错误代码：(0)", " Response: {}"},
        AnswerCase{"notAnObject", Answer(200, "[200]"), "未知的错误代码：(0)", " Response: [200]"},
        AnswerCase{"codeAsText", Answer(200, R"({"code":"200"})"), "未知的错误代码：(0)",
                   R"( Response: {"code":"200"})"},
        AnswerCase{"msgNotText", Answer(200, R"({"code":-7,"msg":3})"), "未知的错误代码：(-7)",
                   R"( Response: {"code":-7,"msg":3})"},
        AnswerCase{"hugeCode", Answer(200, R"({"code":18446744073709551615})"),
                   "未知的错误代码：(18446744073709551615)", R"( Response: {"code":18446744073709551615})"},
        AnswerCase{"okWithoutMsg", Answer(200, R"({"code":200})"), "", R"( Response: {"code":200})"},
        AnswerCase{"notJson", Answer(200, "<html>busy</html>"), "返回的数据格式错误：*", ""},
        AnswerCase{"emptyBody", Answer(200, ""), "返回的数据格式错误：*", ""},
        AnswerCase{"badUtf8", Answer(200, "{\"code\":500,\"msg\":\"\xC0\"}"), "返回的数据格式错误：*", ""},
        AnswerCase{"compressed", Encoded("gzip"), "未支持的压缩格式类型：gzip", ""},
        AnswerCase{"status500", Answer(500, "oops"), "错误代码：(500) Internal Server Error",
                   " Error: 500) Internal Server Error"},
        AnswerCase{"status404", Answer(404, R"({"code":200})"), "错误代码：(404) Not Found",
                   " Error: 404) Not Found"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WebCallBackTest, MissingCredentialsSendNothing) {
  for (WebServiceCredentials bad : {WebServiceCredentials{0, "key"}, WebServiceCredentials{-1, "key"},
                                    WebServiceCredentials{5, ""}}) {
    credentials = bad;
    EXPECT_EQ(Failure(), "寄买卖安全通迅密钥获取失败！");
  }
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(server.received().empty());
}

TEST_F(WebCallBackTest, ASlowServiceEndsWithTheClientsTimeOut) {
  LoopbackServer::Reply slow;
  slow.hold = true;
  server.SetReply(slow);
  options.ResponseTimeoutMs = 200;
  EXPECT_THROW(Call(), HttpClientError);
  EXPECT_EQ(log.size(), 2u);  // URL and POST; no answer to log
}

TEST_F(WebCallBackTest, NoServiceEndsWithTheClientsConnectionError) {
  int closedPort;
  {
    LoopbackServer gone;
    closedPort = gone.port();
  }
  options.Host = "127.0.0.1:" + std::to_string(closedPort);
  options.ConnectTimeoutMs = 2000;
  try {
    Call();
    ADD_FAILURE() << "no error";
  } catch (const HttpClientError& e) {
    EXPECT_NE(std::string(e.what()), "");
  }
  EXPECT_EQ(log.size(), 2u);
}

TEST_F(WebCallBackTest, AnOversizedAnswerIsRefused) {
  server.SetReply(Answer(200, std::string(kMaxHttpAnswerBytes + 1, ' ')));
  EXPECT_THROW(Call(), HttpClientError);
}

}  // namespace
}  // namespace razere
