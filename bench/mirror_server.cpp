// A loopback mirror of the registry's site, for timing downloads by hand: it
// serves a folder's text listings at the registry's own paths (oui.txt at
// /oui/oui.txt, mam.txt at /oui28/mam.txt, oui36.txt at /oui36/oui36.txt,
// iab.txt at /iab/iab.txt, cid.txt at /cid/cid.txt; a file the folder lacks
// is a 404), each answer after a set delay, with an ETag and a Last-Modified,
// and a 304 to a request that already holds the file. Bodies are sent as
// they are, never compressed. The files are read once, at the start.
//
//   mirror_server --dir DIR [--delay-ms N] [--max-seconds N]
//
// It listens on 127.0.0.1, on a port the system chooses, which it prints on
// stdout (one line) once it accepts connections. It stops on SIGTERM or
// SIGINT, or after --max-seconds (600 by default). For example:
//
//   coproc MIRROR { exec build/bin/mirror_server --dir /usr/share/ieee-data --delay-ms 1000; }
//   read -r port <&"${MIRROR[0]}"
//   time build/bin/vessarine-cli update --site "http://127.0.0.1:$port"
//   kill "$MIRROR_PID"
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "vessarine/listing/registries.h"

namespace {

struct Listing {
  std::shared_ptr<const std::string> body;
  std::string etag;          // quoted, strong
  std::string lastModified;  // IMF-fixdate
  std::time_t modified = 0;
};

// Signalled when the server stops, so that a delayed answer does not hold it up.
std::mutex g_mutex;
std::condition_variable g_cv;
bool g_stopping = false;

std::string HttpDate(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return text;
}

// -1 when `text` is no HTTP date.
std::time_t ParseHttpDate(const std::string& text) {
  std::tm tm{};
  const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return end != nullptr && *end == '\0' ? timegm(&tm) : -1;
}

bool Load(const std::string& path, Listing& listing) {
  std::ifstream in(path, std::ios::binary);
  struct stat st {};
  if (!in || stat(path.c_str(), &st) != 0) return false;
  auto body = std::make_shared<std::string>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  // FNV-1a of the bytes: changes whenever the file does.
  uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char c : *body) hash = (hash ^ c) * 0x100000001b3u;
  char etag[64];
  std::snprintf(etag, sizeof etag, "\"%zx-%016llx\"", body->size(), static_cast<unsigned long long>(hash));
  listing.etag = etag;
  listing.modified = st.st_mtime;
  listing.lastModified = HttpDate(st.st_mtime);
  listing.body = std::move(body);
  return true;
}

// What the request holds is this very file.
bool AlreadyHeld(const httplib::Request& req, const Listing& listing) {
  if (req.has_header("If-None-Match")) {
    const std::string tags = req.get_header_value("If-None-Match");
    return tags == "*" || tags.find(listing.etag) != std::string::npos;
  }
  if (req.has_header("If-Modified-Since")) {
    const std::time_t since = ParseHttpDate(req.get_header_value("If-Modified-Since"));
    return since >= 0 && since >= listing.modified;
  }
  return false;
}

// The path part of the registry's address for `r`: "/oui/oui.txt".
std::string RegistryPath(listing::Registry r) {
  std::string_view url = listing::Info(r).url;
  const size_t scheme = url.find("://");
  const size_t slash = url.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
  return std::string(slash == std::string_view::npos ? "/" : url.substr(slash));
}

bool ParseCount(const char* text, long& value) {
  const std::string_view s(text);
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  return error == std::errc() && end == s.data() + s.size() && value >= 0;
}

int Usage() {
  std::fprintf(stderr, "usage: mirror_server --dir DIR [--delay-ms N] [--max-seconds N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  long delayMs = 0;
  long maxSeconds = 600;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) return Usage();
    if (arg == "--dir") {
      dir = argv[++i];
    } else if (arg == "--delay-ms") {
      if (!ParseCount(argv[++i], delayMs)) return Usage();
    } else if (arg == "--max-seconds") {
      if (!ParseCount(argv[++i], maxSeconds) || maxSeconds == 0) return Usage();
    } else {
      return Usage();
    }
  }
  if (dir.empty()) return Usage();

  // The signals are taken by one thread of their own (sigtimedwait); every
  // thread started from here on inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  httplib::Server server;
  // Room for every listing at once and then some.
  server.new_task_queue = [] { return new httplib::ThreadPool(16); };
  const std::chrono::milliseconds delay(delayMs);
  int served = 0;
  for (listing::Registry r : listing::kAllRegistries) {
    const std::string file = dir + "/" + std::string(listing::Info(r).fileBase) + ".txt";
    Listing listing;
    if (!Load(file, listing)) {
      std::fprintf(stderr, "mirror_server: %s is not there; %s answers 404\n", file.c_str(),
                   RegistryPath(r).c_str());
      continue;
    }
    ++served;
    server.Get(RegistryPath(r), [listing, delay](const httplib::Request& req, httplib::Response& res) {
      {
        std::unique_lock lock(g_mutex);
        g_cv.wait_for(lock, delay, [] { return g_stopping; });
      }
      res.set_header("ETag", listing.etag);
      res.set_header("Last-Modified", listing.lastModified);
      if (AlreadyHeld(req, listing)) {
        res.status = 304;
        return;
      }
      const std::shared_ptr<const std::string> body = listing.body;
      // A provider with a length: httplib sends it as it is.
      res.set_content_provider(body->size(), "text/plain",
                               [body](size_t offset, size_t length, httplib::DataSink& sink) {
                                 return sink.write(body->data() + offset, std::min<size_t>(length, 65536));
                               });
    });
  }
  if (served == 0) {
    std::fprintf(stderr, "mirror_server: %s holds none of the listings\n", dir.c_str());
    return 1;
  }
  // Everything else, delayed as well.
  server.set_error_handler([delay](const httplib::Request&, httplib::Response&) {
    std::unique_lock lock(g_mutex);
    g_cv.wait_for(lock, delay, [] { return g_stopping; });
  });

  const int port = server.bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    std::fprintf(stderr, "mirror_server: cannot listen on 127.0.0.1\n");
    return 1;
  }
  std::atomic<bool> ended{false};
  const auto waitUntilRunning = [&] {
    // stop() takes effect only once the accept loop runs.
    while (!server.is_running() && !ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  std::thread stopper([&] {
    const timespec limit{static_cast<std::time_t>(maxSeconds), 0};
    sigtimedwait(&stopSignals, nullptr, &limit);
    waitUntilRunning();
    {
      std::lock_guard lock(g_mutex);
      g_stopping = true;
    }
    g_cv.notify_all();
    server.stop();
  });
  std::thread announcer([&] {
    waitUntilRunning();
    if (ended) return;
    std::printf("%d\n", port);
    std::fflush(stdout);
  });
  const bool listened = server.listen_after_bind();
  ended = true;
  // However the server ended, the stopper's wait ends too.
  pthread_kill(stopper.native_handle(), SIGTERM);
  announcer.join();
  stopper.join();
  return listened ? 0 : 1;
}
