#include "tests/support/raw_http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <thread>

namespace GoxHostTest {

using Clock = std::chrono::steady_clock;

int ConnectFrom(int port, const char* source, int receiveBuffer) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, source, &local.sin_addr);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string ReadUntilClosed(int fd, std::chrono::milliseconds timeout, bool* closed) {
  std::string answer;
  const auto end = Clock::now() + timeout;
  if (closed != nullptr) *closed = false;
  char buffer[4096];
  while (Clock::now() < end) {
    pollfd wait{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (poll(&wait, 1, static_cast<int>(std::max<long>(left, 0))) <= 0) break;
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      if (closed != nullptr) *closed = true;
      break;
    }
    answer.append(buffer, static_cast<std::size_t>(got));
  }
  return answer;
}

std::string RawExchange(int port, const std::string& bytes, std::chrono::milliseconds pauseBeforeReading) {
  const int fd = ConnectFrom(port);
  if (fd < 0) return "(no connection)";
  (void)send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  std::this_thread::sleep_for(pauseBeforeReading);
  std::string answer = ReadUntilClosed(fd, std::chrono::milliseconds(2000));
  close(fd);
  return answer;
}

std::optional<std::string> TimedGet(int port, const std::string& path, std::chrono::milliseconds timeout) {
  const int fd = ConnectFrom(port);
  if (fd < 0) return std::nullopt;
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n";
  (void)send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  bool closed = false;
  std::string answer = ReadUntilClosed(fd, timeout, &closed);
  close(fd);
  if (!closed || answer.empty()) return std::nullopt;
  return answer;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  while (!condition()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace GoxHostTest
