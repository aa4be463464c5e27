// The HTTP client itself (libcurl on Linux, WinHTTP on Windows) against the
// loopback server: both builds must give the same answers and the same kind
// of failure.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "remote/http_client.h"
#include "remote/loopback_server.h"

namespace razere {
namespace {

using testing::LoopbackServer;

HttpPostRequest PostTo(const LoopbackServer& server, const std::string& target = "/p?a=1") {
  HttpPostRequest r;
  r.url = "http://" + server.host() + target;
  r.headers = {"Content-Type: text/plain", "X-Razere: 1"};
  r.userAgent = "razere-test";
  r.body = std::string("body\0with nul", 13);
  r.connectTimeoutMs = 5000;
  r.responseTimeoutMs = 20000;
  return r;
}

// The message of the HttpClientError the request ends with; "<none>" when it
// succeeds.
std::string Failure(const HttpPostRequest& request) {
  try {
    HttpPost(request);
  } catch (const HttpClientError& e) {
    return e.what();
  }
  return "<none>";
}

TEST(HttpClient, SendsTheRequestAsGiven) {
  LoopbackServer server;
  HttpPost(PostTo(server));
  const auto got = server.received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].method, "POST");
  EXPECT_EQ(got[0].target, "/p?a=1");
  EXPECT_EQ(got[0].body, std::string("body\0with nul", 13));
  const auto header = [&got](const char* name) {
    const auto it = got[0].headers.find(name);
    return it == got[0].headers.end() ? std::string("<absent>") : it->second;
  };
  EXPECT_EQ(header("Content-Type"), "text/plain");
  EXPECT_EQ(header("X-Razere"), "1");
  EXPECT_EQ(header("User-Agent"), "razere-test");
  EXPECT_EQ(header("Content-Length"), "13");
  EXPECT_EQ(header("Expect"), "<absent>");
}

struct AnswerCase {
  const char* name;
  LoopbackServer::Reply reply;
  int32_t status;
  std::string statusText, contentEncoding;
};

class HttpAnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(HttpAnswerTest, StatusTextEncodingAndBodyAsSent) {
  const AnswerCase& c = GetParam();
  LoopbackServer server;
  server.SetReply(c.reply);
  const HttpAnswer a = HttpPost(PostTo(server));
  EXPECT_EQ(a.status, c.status);
  EXPECT_EQ(a.statusText, c.statusText);
  EXPECT_EQ(a.contentEncoding, c.contentEncoding);
  EXPECT_EQ(a.body, c.reply.body);
  EXPECT_EQ(server.received().size(), 1u);  // a redirect is not followed
}

LoopbackServer::Reply Reply(int status, std::string body,
                            std::vector<std::pair<std::string, std::string>> headers = {}) {
  LoopbackServer::Reply r;
  r.status = status;
  r.body = std::move(body);
  r.headers = std::move(headers);
  return r;
}

std::string EveryByte() {
  std::string s;
  for (int i = 0; i < 256 * 64; ++i) s += static_cast<char>(i);
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, HttpAnswerTest,
    ::testing::Values(AnswerCase{"ok", Reply(200, R"({"code":200})"), 200, "OK", ""},
                      AnswerCase{"emptyBody", Reply(200, ""), 200, "OK", ""},
                      AnswerCase{"binaryBody", Reply(200, EveryByte()), 200, "OK", ""},
                      AnswerCase{"notFound", Reply(404, "missing"), 404, "Not Found", ""},
                      AnswerCase{"serverError", Reply(500, "oops"), 500, "Internal Server Error", ""},
                      AnswerCase{"redirect", Reply(302, "moved", {{"Location", "/elsewhere"}}), 302, "Found", ""},
                      // Raw bytes: the client never decompresses.
                      AnswerCase{"gzip", Reply(200, "not really gzip", {{"Content-Encoding", "gzip  "}}), 200, "OK",
                                 "gzip"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpClient, AnswerLargerThanTheLimitIsAnError) {
  LoopbackServer server;
  server.SetReply(Reply(200, std::string(kMaxHttpAnswerBytes + 1, 'x')));
  EXPECT_NE(Failure(PostTo(server)), "<none>");
  server.SetReply(Reply(200, std::string(kMaxHttpAnswerBytes, 'x')));
  EXPECT_EQ(HttpPost(PostTo(server)).body.size(), kMaxHttpAnswerBytes);
}

TEST(HttpClient, ASlowAnswerEndsWithATimeOut) {
  LoopbackServer server;
  LoopbackServer::Reply slow;
  slow.hold = true;
  server.SetReply(slow);
  HttpPostRequest request = PostTo(server);
  request.responseTimeoutMs = 300;
  const auto start = std::chrono::steady_clock::now();
  const std::string error = Failure(request);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_NE(error, "<none>");
  // Both clients end it at about 300 ms. Wine's WinHTTP ignores the receive
  // time-out while it waits for the answer's headers (the client also sets
  // the separate time-out of that wait); without it this test would hang.
  EXPECT_LT(took, std::chrono::seconds(5));
}

TEST(HttpClient, NoServerIsAnError) {
  int closedPort;
  {
    LoopbackServer gone;
    closedPort = gone.port();
  }
  HttpPostRequest request;
  request.url = "http://127.0.0.1:" + std::to_string(closedPort) + "/";
  request.connectTimeoutMs = 2000;
  request.responseTimeoutMs = 5000;
  EXPECT_NE(Failure(request), "<none>");
}

// The client speaks plain HTTP only: an https:// address (the service behind
// TLS, with a good certificate or a bad one) must end in an error, never in
// an exchange in clear text or a success.
TEST(HttpClient, HttpsIsRefusedNotSentInClearText) {
  LoopbackServer server;
  HttpPostRequest request = PostTo(server);
  request.url = "https://" + server.host() + "/";
  EXPECT_NE(Failure(request), "<none>");
  EXPECT_TRUE(server.received().empty());
}

}  // namespace
}  // namespace razere
