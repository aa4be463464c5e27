// A synchronous HTTP POST (libcurl on Linux, WinHTTP on Windows): one
// request, one answer, every handle and buffer released on every path.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace razere {

struct HttpPostRequest {
  std::string url;                   // plain http:// only
  std::vector<std::string> headers;  // "Name: value" lines
  std::string userAgent;
  std::string body;
  int64_t connectTimeoutMs = 0;   // establishing the connection
  int64_t responseTimeoutMs = 0;  // the whole exchange, connection included
};

struct HttpAnswer {
  int32_t status = 0;            // 0: no answer at all
  std::string statusText;        // reason phrase of the status line, as sent
  std::string contentEncoding;   // the Content-Encoding header, trimmed; "" when absent
  std::string body;              // the raw bytes (never decompressed)
};

// The client could not complete the exchange (connection, time-out, ...);
// what() is the client's own message.
class HttpClientError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Largest answer body accepted; a longer one ends the exchange with
// HttpClientError. The service answers a few hundred bytes.
inline constexpr size_t kMaxHttpAnswerBytes = size_t{16} << 20;

// Sends the POST and waits for the answer; redirects are not followed and no
// Expect: 100-continue is sent. Throws HttpClientError.
HttpAnswer HttpPost(const HttpPostRequest& request);

}  // namespace razere
