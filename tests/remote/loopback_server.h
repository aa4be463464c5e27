// A real HTTP server on 127.0.0.1 with a free port, answering every request
// with a reply the test sets and recording what arrived. Plain sockets
// (Winsock on Windows) so that the client's tests run on both builds: one
// request per connection, answered with "Connection: close".
#pragma once

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/text_util.h"

namespace razere::testing {

class LoopbackServer {
 public:
  struct Reply {
    int status = 200;
    std::string body = R"({"code":200,"msg":"ok"})";
    std::vector<std::pair<std::string, std::string>> headers;
    bool hold = false;  // answer only when the server is shut down (a slow service)
  };

  struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const { return AsciiLower(a) < AsciiLower(b); }
  };
  using Headers = std::multimap<std::string, std::string, NameLess>;

  struct Received {
    std::string method, path, target, body;
    Headers headers;
  };

  LoopbackServer() {
#if defined(_WIN32)
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0) throw std::runtime_error("WSAStartup failed");
#else
    // A proxy from the environment must not stand between the client and us.
    ::setenv("no_proxy", "127.0.0.1", 1);
    ::setenv("NO_PROXY", "127.0.0.1", 1);
#endif
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener_ == kNoSocket) throw std::runtime_error("socket failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;  // any free port
    socklen_t len = sizeof addr;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      Close(listener_);
      throw std::runtime_error("no free port on 127.0.0.1");
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }

  ~LoopbackServer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
    }
    cv_.notify_all();
    stopping_ = true;
    acceptor_.join();
    for (std::thread& t : connections_) t.join();
    Close(listener_);
#if defined(_WIN32)
    ::WSACleanup();
#endif
  }

  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

  void SetReply(Reply r) {
    std::lock_guard<std::mutex> lock(mutex_);
    reply_ = std::move(r);
  }
  std::vector<Received> received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
#if defined(_WIN32)
  using Socket = SOCKET;
  static constexpr Socket kNoSocket = INVALID_SOCKET;
  static void Close(Socket s) { ::closesocket(s); }
  static constexpr int kSendFlags = 0;
#else
  using Socket = int;
  static constexpr Socket kNoSocket = -1;
  static void Close(Socket s) { ::close(s); }
  static constexpr int kSendFlags = MSG_NOSIGNAL;  // a client gone away is no reason to die
#endif

  // Whether s has something to read within 50 ms; the loops look at
  // stopping_ between waits.
  static bool Readable(Socket s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{0, 50000};
    return ::select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &tv) > 0;
  }

  void AcceptLoop() {
    while (!stopping_) {
      if (!Readable(listener_)) continue;
      const Socket client = ::accept(listener_, nullptr, nullptr);
      if (client == kNoSocket) continue;
      connections_.emplace_back([this, client] {
        Serve(client);
        Close(client);
      });
    }
  }

  // Reads one request (headers, then Content-Length bytes of body) and
  // answers it.
  void Serve(Socket s) {
    std::string in;
    size_t headerEnd = std::string::npos;
    size_t want = 0;
    for (;;) {
      if (headerEnd == std::string::npos) {
        headerEnd = in.find("\r\n\r\n");
        if (headerEnd != std::string::npos) {
          Received r = ParseHead(in.substr(0, headerEnd));
          const auto it = r.headers.find("Content-Length");
          want = headerEnd + 4 + (it == r.headers.end() ? 0 : std::stoul(it->second));
        }
      }
      if (headerEnd != std::string::npos && in.size() >= want) break;
      if (stopping_) return;
      if (!Readable(s)) continue;
      char buf[16384];
      const auto got = ::recv(s, buf, sizeof buf, 0);
      if (got <= 0) return;
      in.append(buf, static_cast<size_t>(got));
    }
    Received r = ParseHead(in.substr(0, headerEnd));
    r.body = in.substr(headerEnd + 4, want - headerEnd - 4);

    std::unique_lock<std::mutex> lock(mutex_);
    received_.push_back(r);
    const Reply reply = reply_;
    if (reply.hold) cv_.wait(lock, [this] { return released_; });
    lock.unlock();

    std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + ReasonPhrase(reply.status) + "\r\n";
    out += "Content-Type: application/json\r\nContent-Length: " + std::to_string(reply.body.size()) +
           "\r\nConnection: close\r\n";
    for (const auto& [k, v] : reply.headers) out += k + ": " + v + "\r\n";
    out += "\r\n" + reply.body;
    for (size_t at = 0; at < out.size();) {
      const int chunk = static_cast<int>(std::min<size_t>(out.size() - at, 1 << 20));
      const auto sent = ::send(s, out.data() + at, chunk, kSendFlags);
      if (sent <= 0) return;  // the client stopped reading
      at += static_cast<size_t>(sent);
    }
#if defined(_WIN32)
    ::shutdown(s, SD_SEND);
#else
    ::shutdown(s, SHUT_WR);
#endif
    // Let the client read everything before the close, which would otherwise
    // reset a connection with unread input.
    for (char buf[4096]; !stopping_;) {
      if (!Readable(s)) continue;
      if (::recv(s, buf, sizeof buf, 0) <= 0) break;
    }
  }

  static Received ParseHead(const std::string& head) {
    Received r;
    size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const size_t sp1 = requestLine.find(' ');
    const size_t sp2 = requestLine.find(' ', sp1 + 1);
    r.method = requestLine.substr(0, sp1);
    r.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    r.path = r.target.substr(0, r.target.find('?'));
    while (lineEnd != std::string::npos) {
      const size_t from = lineEnd + 2;
      lineEnd = head.find("\r\n", from);
      const std::string line = head.substr(from, lineEnd == std::string::npos ? std::string::npos : lineEnd - from);
      const size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      size_t v = colon + 1;
      while (v < line.size() && (line[v] == ' ' || line[v] == '\t')) ++v;
      r.headers.emplace(line.substr(0, colon), line.substr(v));
    }
    return r;
  }

  static const char* ReasonPhrase(int status) {
    switch (status) {
      case 200: return "OK";
      case 302: return "Found";
      case 404: return "Not Found";
      case 500: return "Internal Server Error";
      case 503: return "Service Unavailable";
      default: return "Unknown";
    }
  }

  Socket listener_ = kNoSocket;
  int port_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::vector<std::thread> connections_;  // only the acceptor adds; joined after it
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool released_ = false;
  Reply reply_;
  std::vector<Received> received_;
};

}  // namespace razere::testing
