// The HTTP POST through WinHTTP on Windows (no libcurl there). Same contract
// as the POSIX client: one request, no redirects, no 100-continue, the raw
// body, every handle closed on every path.
#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <algorithm>
#include <cstdint>
#include <string>

#include "remote/http_client.h"
#include "support/ansi.h"

namespace razere {

namespace {

struct HandleCloser {
  void operator()(HINTERNET h) const { ::WinHttpCloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

[[noreturn]] void Fail(const char* step) {
  const DWORD err = ::GetLastError();
  std::string text;
  if (err == ERROR_WINHTTP_TIMEOUT) {
    text = "Timeout was reached";
  } else {
    wchar_t* msg = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                         FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     ::GetModuleHandleW(L"winhttp.dll"), err, 0, reinterpret_cast<wchar_t*>(&msg), 0,
                                     nullptr);
    std::wstring wide = n != 0 && msg != nullptr ? std::wstring(msg, n) : std::wstring();
    if (msg != nullptr) ::LocalFree(msg);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ')) wide.pop_back();
    text = wide.empty() ? std::string(step) + " failed (" + std::to_string(err) + ")" : WideToUtf8(wide);
  }
  throw HttpClientError(text);
}

std::wstring Header(HINTERNET request, DWORD which) {
  DWORD size = 0;
  ::WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                        WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
  std::wstring out(size / sizeof(wchar_t), L'\0');
  if (!::WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, out.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  out.resize(size / sizeof(wchar_t));
  return out;
}

std::string Trim(std::string s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && blank(s.back())) s.pop_back();
  size_t i = 0;
  while (i < s.size() && blank(s[i])) ++i;
  return s.substr(i);
}

}  // namespace

HttpAnswer HttpPost(const HttpPostRequest& request) {
  const std::wstring url = Utf8ToWide(request.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) Fail("URL");
  if (parts.nScheme != INTERNET_SCHEME_HTTP) throw HttpClientError("Unsupported protocol");
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  Handle session(::WinHttpOpen(Utf8ToWide(request.userAgent).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) Fail("WinHttpOpen");
  // WinHTTP has no limit on the whole exchange: each phase gets the
  // response time-out, the connection its own.
  const auto ms = [](int64_t v) { return v <= 0 ? 0 : static_cast<int>(std::min<int64_t>(v, INT32_MAX)); };
  const int connect = ms(request.connectTimeoutMs != 0 ? request.connectTimeoutMs : request.responseTimeoutMs);
  const int whole = ms(request.responseTimeoutMs);
  if (!::WinHttpSetTimeouts(session.get(), connect, connect, whole, whole)) Fail("WinHttpSetTimeouts");
  Handle connection(::WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) Fail("WinHttpConnect");
  Handle req(::WinHttpOpenRequest(connection.get(), L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                  WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
  if (!req) Fail("WinHttpOpenRequest");
  // The wait for the answer's headers has a time-out of its own, which the
  // receive time-out above does not set everywhere: Wine's WinHTTP, without
  // this, waits for a silent service forever. Same limit as the rest.
  if (whole > 0) {
    DWORD answerWait = static_cast<DWORD>(whole);
    ::WinHttpSetOption(req.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &answerWait, sizeof answerWait);
  }
  DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
  ::WinHttpSetOption(req.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
  std::wstring headers;
  for (const std::string& h : request.headers) headers += Utf8ToWide(h) + L"\r\n";
  if (!::WinHttpSendRequest(req.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                            headers.empty() ? 0 : static_cast<DWORD>(-1L),
                            const_cast<char*>(request.body.data()), static_cast<DWORD>(request.body.size()),
                            static_cast<DWORD>(request.body.size()), 0)) {
    Fail("WinHttpSendRequest");
  }
  if (!::WinHttpReceiveResponse(req.get(), nullptr)) Fail("WinHttpReceiveResponse");

  HttpAnswer answer;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::WinHttpQueryHeaders(req.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    Fail("WinHttpQueryHeaders");
  }
  answer.status = static_cast<int32_t>(status);
  answer.statusText = WideToUtf8(Header(req.get(), WINHTTP_QUERY_STATUS_TEXT));
  answer.contentEncoding = Trim(WideToUtf8(Header(req.get(), WINHTTP_QUERY_CONTENT_ENCODING)));
  for (;;) {
    char buf[16384];
    DWORD got = 0;
    if (!::WinHttpReadData(req.get(), buf, sizeof buf, &got)) Fail("WinHttpReadData");
    if (got == 0) break;
    if (answer.body.size() + got > kMaxHttpAnswerBytes) throw HttpClientError("返回的数据过大：超过 " + std::to_string(kMaxHttpAnswerBytes) + " 字节");
    answer.body.append(buf, got);
  }
  return answer;
}

}  // namespace razere
