#include "remote/http_client.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "support/text_util.h"

namespace razere {

namespace {

void GlobalInitOnce() {
  // curl_global_init is not thread-safe; every other curl call may run on any thread.
  static std::once_flag once;
  static CURLcode rc = CURLE_OK;
  std::call_once(once, [] { rc = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (rc != CURLE_OK) throw HttpClientError(curl_easy_strerror(rc));
}

struct EasyDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

struct Exchange {
  HttpAnswer answer;
  bool tooLarge = false;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  const size_t n = size * count;
  std::string_view line = TrimBlanks(std::string_view(data, n));
  if (StartsWithIgnoringAsciiCase(line, "HTTP/")) {
    // A new status line (after an interim 1xx answer, for one): its headers follow.
    ex->answer.contentEncoding.clear();
    ex->answer.statusText.clear();
    const size_t sp1 = line.find(' ');
    const size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 != std::string_view::npos) ex->answer.statusText = std::string(TrimBlanks(line.substr(sp2 + 1)));
  } else if (StartsWithIgnoringAsciiCase(line, "content-encoding:")) {
    ex->answer.contentEncoding = std::string(TrimBlanks(line.substr(17)));
  }
  return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  const size_t n = size * count;
  if (ex->answer.body.size() + n > kMaxHttpAnswerBytes) {
    ex->tooLarge = true;
    return 0;  // makes curl end the transfer
  }
  ex->answer.body.append(data, n);
  return n;
}

template <class T>
void Set(CURL* h, CURLoption option, T value) {
  const CURLcode rc = curl_easy_setopt(h, option, value);
  if (rc != CURLE_OK) throw HttpClientError(curl_easy_strerror(rc));
}

}  // namespace

HttpAnswer HttpPost(const HttpPostRequest& request) {
  GlobalInitOnce();
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) throw HttpClientError("curl_easy_init failed");
  CURL* h = easy.get();

  std::unique_ptr<curl_slist, SlistDeleter> headers;
  auto addHeader = [&headers](const std::string& line) {
    curl_slist* l = curl_slist_append(headers.get(), line.c_str());
    if (l == nullptr) throw HttpClientError("curl_slist_append failed");
    (void)headers.release();
    headers.reset(l);
  };
  for (const std::string& line : request.headers) addHeader(line);
  addHeader("Expect:");  // curl would otherwise wait for "100 Continue" on large bodies

  Exchange ex;
  char errorText[CURL_ERROR_SIZE] = {0};
  Set(h, CURLOPT_ERRORBUFFER, errorText);
  Set(h, CURLOPT_NOSIGNAL, 1L);
  Set(h, CURLOPT_URL, request.url.c_str());
  Set(h, CURLOPT_PROTOCOLS_STR, "http");
  Set(h, CURLOPT_FOLLOWLOCATION, 0L);
  Set(h, CURLOPT_POST, 1L);
  Set(h, CURLOPT_POSTFIELDS, request.body.data());
  Set(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  Set(h, CURLOPT_HTTPHEADER, headers.get());
  Set(h, CURLOPT_USERAGENT, request.userAgent.c_str());
  Set(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeoutMs));
  Set(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.responseTimeoutMs));
  Set(h, CURLOPT_HEADERFUNCTION, &OnHeader);
  Set(h, CURLOPT_HEADERDATA, &ex);
  Set(h, CURLOPT_WRITEFUNCTION, &OnBody);
  Set(h, CURLOPT_WRITEDATA, &ex);

  const CURLcode rc = curl_easy_perform(h);
  if (ex.tooLarge) {
    throw HttpClientError("返回的数据过大：超过 " + std::to_string(kMaxHttpAnswerBytes) + " 字节");
  }
  if (rc != CURLE_OK) throw HttpClientError(errorText[0] != '\0' ? errorText : curl_easy_strerror(rc));
  long status = 0;
  if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) status = 0;
  ex.answer.status = static_cast<int32_t>(status);
  return std::move(ex.answer);
}

}  // namespace razere
