#include "tests/support/local_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace GoxHostTest {

LocalHttpServer::LocalHttpServer(const std::function<void(httplib::Server&)>& routes) {
  routes(server_);
  server_.set_tcp_nodelay(true);  // no Nagle delay between an answer's headers and body
  port_ = server_.bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // stop() only takes effect once the server runs: wait for it, bounded.
  for (int i = 0; i < 2000 && !server_.is_running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LocalHttpServer::~LocalHttpServer() {
  server_.stop();
  thread_.join();
}

std::string LocalHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int UnusedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace GoxHostTest
