// LocalHttpServer: a cpp-httplib server on 127.0.0.1 and an ephemeral port, serving on a thread of its
// own from construction until destruction, for tests that need something to talk HTTP to.
//
//   LocalHttpServer server([](httplib::Server& routes) {
//     routes.Get("/hello", [](const httplib::Request&, httplib::Response& response) {
//       response.set_content("hi", "text/plain");
//     });
//   });
//   std::string url = server.Url("/hello");

#pragma once

#include <httplib.h>

#include <functional>
#include <string>
#include <thread>

namespace GoxHostTest {

class LocalHttpServer {
 public:
  explicit LocalHttpServer(const std::function<void(httplib::Server&)>& routes);
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;
  ~LocalHttpServer();

  [[nodiscard]] int Port() const { return port_; }
  [[nodiscard]] std::string Url(const std::string& path) const;

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

// A loopback port on which nothing listens (bound once, then closed).
[[nodiscard]] int UnusedPort();

}  // namespace GoxHostTest
