// A small HTTP or HTTPS server on 127.0.0.1 for the download and update
// tests: it serves fixed answers, redirects, bodies that stop halfway, drip
// or never end, and answers of the test's own making; it can turn clients
// away by their agent, the way the registry's server does.
#pragma once

#include <httplib.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackHttp {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  struct Request {
    std::string method;
    std::string version;
    std::string target;  // path and query
    std::string userAgent;
    httplib::Headers headers;
  };

  enum class Scheme { Http, Https };

  // A certificate for 127.0.0.1 made for this test run (never a key kept in
  // the repository), and the file a client trusts it by.
  struct Certificate {
    std::string dir, cert, key;
    static const Certificate& Get() {
      static const Certificate made = [] {
        Certificate c;
        char dir[] = "/tmp/vessarine-tls-XXXXXX";
        if (mkdtemp(dir) == nullptr) return c;
        c.dir = dir;
        c.cert = c.dir + "/cert.pem";
        c.key = c.dir + "/key.pem";
        const std::string command =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
            "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " + c.key + " -out " + c.cert +
            " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) c.cert.clear();
        return c;
      }();
      return made;
    }
  };

  explicit LoopbackHttp(Scheme scheme = Scheme::Http)
      : scheme_(scheme),
        owned_(scheme == Scheme::Https
                   ? std::unique_ptr<httplib::Server>(std::make_unique<httplib::SSLServer>(
                         Certificate::Get().cert.c_str(), Certificate::Get().key.c_str()))
                   : std::make_unique<httplib::Server>()),
        server_(*owned_) {
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard lock(mutex_);
      const std::string agent = req.get_header_value("User-Agent");
      requests_.push_back({req.method, req.version, req.target, agent, req.headers});
      if (refuseAgents_ && agent.rfind("curl/", 0) != 0 && agent.rfind("Mozilla/", 0) != 0) {
        res.status = 418;
        res.set_content("I'm a teapot", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
      }
      return httplib::Server::HandlerResponse::Unhandled;
    });
    // One route for everything: answers may be added while the server runs.
    server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
      Handler handler;
      {
        std::lock_guard lock(mutex_);
        auto it = routes_.find(req.path);
        if (it != routes_.end()) handler = it->second;
      }
      if (handler) {
        handler(req, res);
      } else {
        res.status = 404;
      }
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() only takes effect once the accept loop runs.
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  ~LoopbackHttp() {
    ReleaseStalls();
    server_.stop();
    thread_.join();
  }

  LoopbackHttp(const LoopbackHttp&) = delete;
  LoopbackHttp& operator=(const LoopbackHttp&) = delete;

  std::string Url(const std::string& target) const {
    return (scheme_ == Scheme::Https ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + target;
  }

  // Answers 418 to every agent but curl's and browsers', as the registry's
  // server does since 2025.
  void RefuseAgentsButCurlAndBrowsers() {
    std::lock_guard lock(mutex_);
    refuseAgents_ = true;
  }

  // Answers `status` with `body`, handed to the socket `piece` bytes at a time.
  void Serve(const std::string& path, int status, std::string body, size_t piece = 10240) {
    Route(path, [status, body = std::move(body), piece](const httplib::Request&,
                                                               httplib::Response& res) {
      res.status = status;
      if (body.empty()) {
        res.set_content("", "text/plain");
        return;
      }
      res.set_content_provider(body.size(), "text/plain",
                               [body, piece](size_t offset, size_t length, httplib::DataSink& sink) {
                                 return sink.write(body.data() + offset, std::min(piece, length));
                               });
    });
  }

  void Redirect(const std::string& from, const std::string& to, int status = 302) {
    Route(from, [to, status](const httplib::Request&, httplib::Response& res) {
      res.set_redirect(to, status);
      // Servers send a page along; it must not count as the listing.
      res.set_content("<html><body>Moved</body></html>", "text/html");
    });
  }

  // Sends the headers of a 200 answer of `total` bytes and its first `sent`
  // bytes, then nothing until released.
  void StallAfter(const std::string& path, size_t sent, size_t total) {
    Route(path, [this, sent, total](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(total, "text/plain",
                               [this, sent](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset == 0) return sink.write(std::string(sent, 'x').data(), sent);
                                 WaitForRelease();
                                 return false;
                               });
    });
  }

  // A 200 answer of no announced length whose body never ends: pieces of
  // 'x' until the client goes away or the server is released.
  void Endless(const std::string& path) {
    Route(path, [this](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider("application/octet-stream", [this](size_t, httplib::DataSink& sink) {
        const std::string piece(10240, 'x');
        return !Released() && sink.write(piece.data(), piece.size());
      });
    });
  }

  // A 200 answer announcing a megabyte, sent one byte each `interval` until
  // the client goes away or the server is released.
  void Drip(const std::string& path, std::chrono::milliseconds interval) {
    Route(path, [this, interval](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(size_t{1} << 20, "application/octet-stream",
                               [this, interval](size_t, size_t, httplib::DataSink& sink) {
                                 return !WaitForRelease(interval) && sink.write("x", 1);
                               });
    });
  }

  // Answers requests for `path` with `handler`, run on a server thread.
  void Handle(const std::string& path, Handler handler) { Route(path, std::move(handler)); }

  // Takes the request and answers nothing until released.
  void StallBeforeHeaders(const std::string& path) {
    Route(path, [this](const httplib::Request&, httplib::Response& res) {
      WaitForRelease();
      res.set_content("late", "text/plain");
    });
  }

  void ReleaseStalls() {
    std::lock_guard lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }

  std::vector<Request> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void Route(const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(handler);
  }

  // True once released; false when `timeout` passed first.
  bool WaitForRelease(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [this] { return released_; });
  }

  bool Released() {
    std::lock_guard lock(mutex_);
    return released_;
  }

  Scheme scheme_;
  std::unique_ptr<httplib::Server> owned_;
  httplib::Server& server_;
  bool refuseAgents_ = false;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool released_ = false;
  std::vector<Request> requests_;
  std::map<std::string, Handler> routes_;
};
