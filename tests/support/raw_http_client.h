// Plain-socket HTTP clients for tests that attack a server: connections from a chosen loopback address,
// raw bytes in and out with bounded waits, and a timed good call.

#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace GoxHostTest {

// A connection to 127.0.0.1:`port` from the loopback address `source` ("127.0.0.2"); -1 when it failed.
// `receiveBuffer` > 0 shrinks the socket's receive buffer first (a client that reads little).
[[nodiscard]] int ConnectFrom(int port, const char* source = "127.0.0.1", int receiveBuffer = 0);

// Sends `bytes` on a fresh connection and returns what comes back until the server closes or two
// seconds pass without data.
[[nodiscard]] std::string RawExchange(
    int port, const std::string& bytes,
    std::chrono::milliseconds pauseBeforeReading = std::chrono::milliseconds(0));

// What arrives on `fd` until the peer closes or `timeout` passes; `closed` tells which.
[[nodiscard]] std::string ReadUntilClosed(int fd, std::chrono::milliseconds timeout, bool* closed = nullptr);

// The answer to "GET path" on a fresh connection, or nothing when it did not come within `timeout`.
[[nodiscard]] std::optional<std::string> TimedGet(int port, const std::string& path,
                                                  std::chrono::milliseconds timeout);

// Polls `condition` every 10 ms until it holds or `timeout` passes; whether it held.
[[nodiscard]] bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace GoxHostTest
