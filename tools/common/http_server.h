// HttpServer: the event-driven HTTP/1.1 server behind gox-host and gox-services.
//
// Every read and write is asynchronous on a small fixed number of I/O threads, so a slow or idle
// connection costs a socket and a small buffer, never a thread. Each connection reads one request at a
// time and answers pipelined requests in order. The handler is called on an I/O thread with the full
// request and an HttpReply; it may answer at once or later from any thread, and must not block.
//
// Limits (HttpLimits): the header must arrive within headerTimeout of its first byte, whatever the
// number of reads; a body within bodyTimeout plus one second per bodyMinRate bytes received; each
// write within writeTimeout; a kept-alive connection may idle idleTimeout between requests. A header
// over headerLimit answers 431, a body over bodyLimit 413; past maxConnections in all or
// maxConnectionsPerClient from one address a new connection is answered 503 and closed at once.
// Reaching a limit closes that connection only.
//
// Framing is strict: conflicting Content-Length headers, Content-Length beside Transfer-Encoding, a
// Transfer-Encoding that does not end in chunked, a bad chunk size, obsolete line folding, a method that
// is not a token and any version but HTTP/1.0 and HTTP/1.1 answer 400 and close the connection.
// "Expect: 100-continue" gets its interim answer before the body is read. Every failure of the HTTP
// layer itself has the body {"httpStatus": N, "message": "..."}.
//
//   GoxTools::HttpServer server(options, [](GoxTools::HttpRequest request, GoxTools::HttpReply reply) {
//     reply.Send({200, "application/json", "{}", {}});
//   });
//   if (auto error = server.Bind()) ...;
//   server.Start();
//   ... server.Port() ...
//   server.Stop();  // stops accepting, ends streams, answers what is in flight, joins the I/O threads

#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "tools/common/http_message.h"

namespace GoxTools {

struct HttpLimits {
  std::chrono::milliseconds headerTimeout{10000};
  std::chrono::milliseconds bodyTimeout{10000};
  std::size_t bodyMinRate = 16384;  // bytes per second, beyond bodyTimeout
  std::chrono::milliseconds writeTimeout{10000};
  std::chrono::milliseconds idleTimeout{5000};
  std::size_t headerLimit = 16384;
  std::size_t bodyLimit = 1u << 20;
  std::size_t maxConnections = 10000;
  std::size_t maxConnectionsPerClient = 512;
  std::size_t streamQueueLimit = 1u << 20;  // bytes a stream may have waiting for a slow reader
};

struct HttpServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: an ephemeral port
  int ioThreads = 2;
  HttpLimits limits;
};

class HttpSession;

// The open body of a streamed answer (chunked). Any thread.
class HttpStream {
 public:
  // Queues `piece` for the client; false once the stream is closed. A stream whose queued bytes pass the
  // server's streamQueueLimit is closed, and its connection with it.
  bool Write(std::string piece);
  // Ends the body and closes the connection.
  void Close();
  [[nodiscard]] bool IsOpen() const;

 private:
  friend class HttpSession;
  friend class HttpReply;
  explicit HttpStream(std::weak_ptr<HttpSession> session) : session_(std::move(session)) {}
  std::weak_ptr<HttpSession> session_;
};

// How a handler answers one request. Copies share the answer: the first Send (or Stream) wins and the
// others are ignored. A request whose every copy is gone unanswered gets a 500.
class HttpReply {
 public:
  struct State;
  explicit HttpReply(std::shared_ptr<State> state) : state_(std::move(state)) {}

  void Send(HttpResponse response) const;
  // Sends `head` with a chunked body that the returned stream writes; `heartbeat` goes out whenever
  // the stream has been quiet for `interval`. `onClose` runs (on an I/O thread) once the stream ends
  // for any reason.
  std::shared_ptr<HttpStream> Stream(HttpResponse head, std::string heartbeat,
                                     std::chrono::milliseconds interval, std::function<void()> onClose) const;
  // Sends `fallback` unless the request is answered within `timeout`.
  void SendUnlessAnsweredWithin(std::chrono::milliseconds timeout, HttpResponse fallback) const;
  // Runs `task` on an I/O thread after `delay` (the task must not block).
  void After(std::chrono::milliseconds delay, std::function<void()> task) const;

 private:
  std::shared_ptr<State> state_;
};

using HttpHandler = std::function<void(HttpRequest request, HttpReply reply)>;

class HttpServer {
 public:
  HttpServer(HttpServerOptions options, HttpHandler handler);
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  ~HttpServer();

  // Binds the listening socket (never shared with another process); the reason when it could not,
  // naming the address.
  [[nodiscard]] std::optional<std::string> Bind();
  [[nodiscard]] int Port() const;
  // Starts the I/O threads. REQUIRES: Bind() succeeded.
  void Start();
  // Stops accepting, closes idle connections, ends the streams, lets the requests in flight be
  // answered and joins the I/O threads. Any thread but an I/O thread; more than once is fine.
  void Stop();
  // Connections open now.
  [[nodiscard]] std::size_t OpenConnections() const;

 private:
  friend class HttpSession;
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace GoxTools
