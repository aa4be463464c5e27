// A real HTTP server on 127.0.0.1 with a free port, answering every POST with
// a reply the test sets and recording what arrived.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace razere::testing {

class LoopbackServer {
 public:
  struct Reply {
    int status = 200;
    std::string body = R"({"code":200,"msg":"ok"})";
    std::vector<std::pair<std::string, std::string>> headers;
    bool hold = false;  // answer only when the server is shut down (a slow service)
  };

  struct Received {
    std::string method, path, target, body;
    httplib::Params params;
    httplib::Headers headers;
  };

  LoopbackServer() {
    // A proxy from the environment must not stand between the client and us.
    ::setenv("no_proxy", "127.0.0.1", 1);
    ::setenv("NO_PROXY", "127.0.0.1", 1);
    server_.Post(".*", [this](const httplib::Request& req, httplib::Response& res) { Handle(req, res); });
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("no free port on 127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() does nothing to a server whose loop has not started yet, so the
    // destructor could wait forever: let the loop start first.
    for (int i = 0; !server_.is_running(); ++i) {
      if (i == 10000) std::abort();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ~LoopbackServer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
    }
    cv_.notify_all();
    server_.stop();
    thread_.join();
  }

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
  void Handle(const httplib::Request& req, httplib::Response& res) {
    std::unique_lock<std::mutex> lock(mutex_);
    received_.push_back(Received{req.method, req.path, req.target, req.body, req.params, req.headers});
    const Reply r = reply_;
    if (r.hold) cv_.wait(lock, [this] { return released_; });
    res.status = r.status;
    for (const auto& [k, v] : r.headers) res.set_header(k, v);
    res.set_content(r.body, "application/json");
  }

  httplib::Server server_;
  int port_ = -1;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool released_ = false;
  Reply reply_;
  std::vector<Received> received_;
};

}  // namespace razere::testing
