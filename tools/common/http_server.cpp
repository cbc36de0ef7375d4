#include "tools/common/http_server.h"

// With g++ 12 in C++20, <utility> must come before Asio's headers.
#include <utility>
// clang-format off
#include <boost/asio.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
// clang-format on
#include <sys/resource.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace GoxTools {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr const char* kCannotListen = "could not listen on %s:%d: %s";
constexpr const char* kBadAddress = "could not listen on %s:%d: not an address";
constexpr const char* kTooManyConnections = "too many connections are open";
constexpr const char* kTooManyFromClient = "too many connections are open from this address";
constexpr const char* kMalformed = "the request is not well-formed HTTP/1.1";
constexpr const char* kConflictingLength = "the request's body length is ambiguous";
constexpr const char* kBadTransferEncoding = "the request's Transfer-Encoding must end in chunked";
constexpr const char* kFolded = "header lines may not be folded";
constexpr const char* kBadMethod = "the method is not a token";
constexpr const char* kBadVersion = "only HTTP/1.0 and HTTP/1.1 are served";
constexpr const char* kBadChunk = "the request's chunked body is malformed";
constexpr const char* kHeaderTooLarge = "the request's header is larger than %zu bytes";
constexpr const char* kBodyTooLarge = "the request's body is larger than %zu bytes";
constexpr const char* kTooSlow = "the request did not arrive in time";
constexpr const char* kUnknownExpectation = "only the expectation 100-continue is met";
constexpr const char* kHandlerThrew = "the request failed inside the server";
constexpr const char* kUnanswered = "the request was dropped without an answer";

constexpr std::size_t kReadChunk = 4096;
// How long a closing connection keeps reading what the client still sends, so that its answer is not
// lost to a reset.
constexpr std::chrono::milliseconds kLingerTime{500};

template <class... Arguments>
std::string Format(const char* format, Arguments... arguments) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, arguments...);
  return buffer;
}

std::string Chunk(std::string_view piece) {
  char size[24];
  std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
  std::string chunk = size;
  chunk.append(piece);
  chunk += "\r\n";
  return chunk;
}

// Lets the process keep as many sockets as its hard limit allows: the connection caps, not the
// descriptor limit, are what bound the connections.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

struct HttpServer::Impl : std::enable_shared_from_this<HttpServer::Impl> {
  HttpServerOptions options;
  HttpHandler handler;
  asio::io_context io;
  tcp::acceptor acceptor{asio::make_strand(io)};
  asio::steady_timer acceptRetry{acceptor.get_executor()};
  std::vector<std::thread> threads;
  int port = 0;

  mutable std::mutex mutex;
  bool stopping = false;
  // Set once Stop has run out the queue: nothing may be queued after that, since a queued task holds its
  // session and, through it, the server. Checked and set under haltMutex, so that no task slips in
  // between a poster's check and the last run of the queue.
  std::mutex haltMutex;
  bool halted = false;
  std::size_t open = 0;
  std::unordered_map<std::string, std::size_t> perClient;
  std::unordered_map<HttpSession*, std::weak_ptr<HttpSession>> sessions;

  Impl(HttpServerOptions givenOptions, HttpHandler givenHandler)
      : options(std::move(givenOptions)), handler(std::move(givenHandler)) {}

  void Accept();
  void OnAccept(const boost::system::error_code& error, tcp::socket socket);
  // Why a new connection from `address` is refused; nothing when it is counted in.
  std::optional<const char*> Admit(const std::string& address);
  void Leave(HttpSession* session, const std::string& address);
};

struct HttpReply::State {
  std::shared_ptr<HttpSession> session;
  std::uint64_t exchange = 0;
  std::atomic<bool> answered = false;
  ~State();
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(tcp::socket socket, std::shared_ptr<HttpServer::Impl> server, std::string remote)
      : socket_(std::move(socket)),
        server_(std::move(server)),
        limits_(server_->options.limits),
        remote_(std::move(remote)),
        readTimer_(socket_.get_executor()),
        writeTimer_(socket_.get_executor()),
        callTimer_(socket_.get_executor()),
        heartbeatTimer_(socket_.get_executor()) {}
  ~HttpSession() { server_->Leave(this, remote_); }

  void Begin() {
    {
      std::lock_guard lock(server_->mutex);
      server_->sessions[this] = weak_from_this();
      if (server_->stopping) keepAlive_ = false;
    }
    Post([this] { ReadRequest(); });
  }

  // From Stop: closes the connection once what it is doing allows.
  void Shutdown() {
    Post([this] {
      keepAlive_ = false;
      if (phase_ == Phase::kReading) return Finish();
      if (phase_ == Phase::kStreaming) EndStream(true);
    });
  }

  // Closes the connection at once. Only for the thread that stops the server, once the I/O threads are
  // gone and nothing else runs the session.
  void Abort() { Finish(); }

  // The answer to exchange `exchange`; ignored when that exchange is over.
  void Deliver(std::uint64_t exchange, HttpResponse response) {
    Post([this, exchange, response = std::move(response)]() mutable {
      if (exchange != exchange_ || phase_ != Phase::kHandling) return;
      WriteAnswer(std::move(response));
    });
  }

  void BeginStream(std::uint64_t exchange, HttpResponse head, std::string heartbeat,
                   std::chrono::milliseconds interval, std::function<void()> onClose) {
    Post([this, exchange, head = std::move(head), heartbeat = std::move(heartbeat), interval,
          onClose = std::move(onClose)]() mutable {
      if (exchange != exchange_ || phase_ != Phase::kHandling) {
        streamOpen_ = false;
        if (onClose) onClose();
        return;
      }
      callTimer_.cancel();
      awaitingAnswer_.reset();
      phase_ = Phase::kStreaming;
      heartbeat_ = Chunk(heartbeat);
      heartbeatInterval_ = interval;
      onStreamClose_ = std::move(onClose);
      outbox_ = ResponseHead(head, 0, true, true);
      Flush();
      Discard();
    });
  }

  bool StreamWrite(std::string piece) {
    if (!streamOpen_) return false;
    std::string chunk = Chunk(piece);
    if (queued_.fetch_add(chunk.size()) + chunk.size() > limits_.streamQueueLimit) {
      streamOpen_ = false;
      Post([this] { EndStream(false); });
      return false;
    }
    Post([this, chunk = std::move(chunk)] {
      if (phase_ != Phase::kStreaming) return;
      outbox_ += chunk;
      Flush();
    });
    return true;
  }

  void StreamClose() {
    Post([this] { EndStream(true); });
  }

  [[nodiscard]] bool StreamOpen() const { return streamOpen_; }

  void ArmCallTimer(std::chrono::milliseconds timeout, std::function<void()> onTimeout) {
    Post([this, timeout, onTimeout = std::move(onTimeout)]() mutable {
      if (phase_ != Phase::kHandling) return;
      callTimer_.expires_after(timeout);
      callTimer_.async_wait([self = shared_from_this(),
                             onTimeout = std::move(onTimeout)](const boost::system::error_code& error) {
        if (!error) onTimeout();
      });
    });
  }

  void After(std::chrono::milliseconds delay, std::function<void()> task) {
    auto timer = std::make_shared<asio::steady_timer>(socket_.get_executor(), delay);
    timer->async_wait([timer, task = std::move(task)](const boost::system::error_code&) { task(); });
  }

  [[nodiscard]] std::uint64_t Exchange() const { return exchange_; }

 private:
  enum class Phase { kReading, kHandling, kWriting, kStreaming, kClosed };

  template <class Task>
  void Post(Task task) {
    // Once the server has run out its queue for good, nothing may wait in it holding this session.
    std::lock_guard lock(server_->haltMutex);
    if (server_->halted) return;
    asio::post(socket_.get_executor(),
               [self = shared_from_this(), task = std::move(task)]() mutable { task(); });
  }

  std::string_view Buffered() const {
    const auto data = buffer_.data();
    return {static_cast<const char*>(data.data()), data.size()};
  }

  // Reads are bounded by one deadline at a time (the header's, the body's, the idle one); the timer
  // cancels the read when it passes.
  void ArmReadDeadline(Clock::time_point deadline) {
    readDeadline_ = deadline;
    readTimer_.expires_at(deadline);
    readTimer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
      if (error || Clock::now() < self->readDeadline_) return;
      self->readTimedOut_ = true;
      boost::system::error_code ignored;
      self->socket_.cancel(ignored);
    });
  }

  void ReadRequest() {
    phase_ = Phase::kReading;
    ++exchange_;
    parser_.reset();
    readTimedOut_ = false;
    if (!keepAlive_) return Linger();
    if (buffer_.size() == 0 && buffer_.capacity() > kReadChunk * 4) buffer_.shrink_to_fit();
    const bool waiting = buffer_.size() == 0 && !firstRequest_;
    headerStarted_ = !waiting;
    ArmReadDeadline(Clock::now() + (waiting ? limits_.idleTimeout : limits_.headerTimeout));
    firstRequest_ = false;
    if (buffer_.size() > 0) return TryHeader();
    ReadHeaderBytes();
  }

  void ReadHeaderBytes() {
    socket_.async_read_some(
        buffer_.prepare(kReadChunk),
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t length) {
          self->buffer_.commit(length);
          if (error) return self->readTimedOut_ ? self->TimedOut() : self->Finish();
          if (!self->headerStarted_) {
            // The first byte after an idle wait starts the header's deadline.
            self->headerStarted_ = true;
            self->ArmReadDeadline(Clock::now() + self->limits_.headerTimeout);
          }
          self->TryHeader();
        });
  }

  void TryHeader() {
    std::string_view bytes = Buffered();
    std::size_t blank = 0;  // empty lines before a request line are ignored
    while (bytes.substr(blank, 2) == "\r\n")
      blank += 2;
    buffer_.consume(blank);
    bytes = Buffered();
    const std::size_t end = bytes.find("\r\n\r\n");
    if (end == std::string_view::npos) {
      if (bytes.size() > limits_.headerLimit) return Fail(431, Format(kHeaderTooLarge, limits_.headerLimit));
      return ReadHeaderBytes();
    }
    if (end + 4 > limits_.headerLimit) return Fail(431, Format(kHeaderTooLarge, limits_.headerLimit));
    const std::string_view header = bytes.substr(0, end + 2);
    if (header.find("\r\n ") != std::string_view::npos || header.find("\r\n\t") != std::string_view::npos)
      return Fail(400, kFolded);
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(end + 4));
    parser_->body_limit(limits_.bodyLimit);
    beast::error_code error;
    const std::size_t used = parser_->put(asio::buffer(bytes.data(), end + 4), error);
    buffer_.consume(used);
    if (error == http::error::body_limit) return Fail(413, Format(kBodyTooLarge, limits_.bodyLimit));
    if (error == http::error::bad_content_length || error == http::error::bad_transfer_encoding)
      return Fail(400, kConflictingLength);
    if (error || !parser_->is_header_done()) return Fail(400, kMalformed);
    if (auto problem = FramingProblem()) return Fail(400, *problem);
    readTimer_.cancel();
    if (parser_->is_done()) return Dispatch();
    const std::string expect = std::string(parser_->get()[http::field::expect]);
    if (!expect.empty() && !beast::iequals(expect, "100-continue")) return Fail(417, kUnknownExpectation);
    bodyStart_ = Clock::now();
    bodyReceived_ = 0;
    if (expect.empty() || parser_->get().version() < 11) return ReadBody();
    out_ = "HTTP/1.1 100 Continue\r\n\r\n";
    Write([this] { ReadBody(); });
  }

  // What the header's framing gets wrong beyond what the parser refuses.
  std::optional<const char*> FramingProblem() const {
    const auto& request = parser_->get();
    if (request.version() != 10 && request.version() != 11) return kBadVersion;
    if (!IsHttpToken(std::string_view(request.method_string().data(), request.method_string().size())))
      return kBadMethod;
    const auto encodings = request.count(http::field::transfer_encoding);
    if (encodings > 0 && request.count(http::field::content_length) > 0) return kConflictingLength;
    if (encodings > 0 && !parser_->chunked()) return kBadTransferEncoding;
    return std::nullopt;
  }

  void ReadBody() {
    const auto allowance =
        std::chrono::milliseconds(limits_.bodyMinRate == 0 ? 0 : bodyReceived_ * 1000 / limits_.bodyMinRate);
    ArmReadDeadline(bodyStart_ + limits_.bodyTimeout + allowance);
    http::async_read_some(socket_, buffer_, *parser_,
                          [self = shared_from_this()](const beast::error_code& error, std::size_t length) {
                            self->bodyReceived_ += length;
                            if (self->readTimedOut_) return self->TimedOut();
                            if (error == http::error::body_limit)
                              return self->Fail(413, Format(kBodyTooLarge, self->limits_.bodyLimit));
                            if (error == http::error::bad_chunk || error == http::error::bad_chunk_extension)
                              return self->Fail(400, kBadChunk);
                            if (error == asio::error::eof || error == http::error::end_of_stream ||
                                error == asio::error::operation_aborted ||
                                error == asio::error::connection_reset)
                              return self->Finish();
                            if (error) return self->Fail(400, kMalformed);
                            if (!self->parser_->is_done()) return self->ReadBody();
                            self->readTimer_.cancel();
                            self->Dispatch();
                          });
  }

  void TimedOut() {
    // A connection that never began a request is closed quietly; one in the middle of a request is
    // told why.
    if (!headerStarted_) return Finish();
    Fail(408, kTooSlow);
  }

  void Dispatch() {
    auto& message = parser_->get();
    HttpRequest request;
    request.method = std::string(message.method_string());
    request.target = std::string(message.target());
    const std::size_t question = request.target.find('?');
    request.path = PercentDecode(std::string_view(request.target).substr(0, question), false);
    if (question != std::string::npos) request.query = request.target.substr(question + 1);
    for (const auto& field : message)
      request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    request.body = std::move(message.body());
    request.remoteAddress = remote_;
    keepAlive_ = keepAlive_ && message.keep_alive();
    head_ = message.method() == http::verb::head;
    parser_.reset();
    phase_ = Phase::kHandling;
    // The I/O threads keep running until the answer is written, however late it comes.
    awaitingAnswer_.emplace(server_->io.get_executor());
    auto state = std::make_shared<HttpReply::State>();
    state->session = shared_from_this();
    state->exchange = exchange_;
    try {
      server_->handler(std::move(request), HttpReply(state));
    } catch (...) {
      HttpReply(state).Send(FailureResponse(500, kHandlerThrew));
    }
  }

  void WriteAnswer(HttpResponse response) {
    callTimer_.cancel();
    awaitingAnswer_.reset();
    phase_ = Phase::kWriting;
    if (response.cutBody) keepAlive_ = false;
    out_ = ResponseHead(response, response.body.size(), keepAlive_);
    if (!head_ && !response.cutBody) out_ += response.body;
    Write([this] { ReadRequest(); });
  }

  // An answer of the HTTP layer itself, after which the connection closes.
  void Fail(int status, const std::string& message) {
    keepAlive_ = false;
    head_ = false;
    readTimer_.cancel();
    phase_ = Phase::kWriting;
    out_ = ResponseHead(FailureResponse(status, message), FailureBody(status, message).size(), false);
    out_ += FailureBody(status, message);
    Write([this] { Linger(); });
  }

  // Writes out_ within the write deadline, then runs `next`; a failed or late write closes.
  template <class Next>
  void Write(Next next) {
    ArmWriteDeadline();
    asio::async_write(socket_, asio::buffer(out_),
                      [self = shared_from_this(), next](const boost::system::error_code& error, std::size_t) {
                        self->writeTimer_.cancel();
                        if (error) return self->Finish();
                        self->out_.clear();
                        next();
                      });
  }

  void ArmWriteDeadline() {
    writeTimer_.expires_after(limits_.writeTimeout);
    writeTimer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
      if (error) return;
      boost::system::error_code ignored;
      self->socket_.close(ignored);
    });
  }

  // Stops sending and reads what the client still sends for a moment before closing, so that the
  // close does not reset the connection under an answer the client has not read yet.
  void Linger() {
    phase_ = Phase::kClosed;
    boost::system::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    ArmReadDeadline(Clock::now() + kLingerTime);
    Discard();
  }

  // Reads and drops what the client sends: on a stream, to notice the client leave; on a closing
  // connection, until it is gone. One such read at a time.
  void Discard() {
    if (discarding_) return;
    discarding_ = true;
    socket_.async_read_some(asio::buffer(probe_), [self = shared_from_this()](
                                                      const boost::system::error_code& error, std::size_t) {
      self->discarding_ = false;
      if (error) return self->phase_ == Phase::kStreaming ? self->EndStream(false) : self->Finish();
      self->Discard();
    });
  }

  void Flush() {
    if (writingStream_ || outbox_.empty()) return;
    writingStream_ = true;
    sending_.swap(outbox_);
    heartbeatTimer_.cancel();
    ArmWriteDeadline();
    asio::async_write(socket_, asio::buffer(sending_),
                      [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
                        self->writeTimer_.cancel();
                        self->writingStream_ = false;
                        self->queued_ -= std::min(self->queued_.load(), self->sending_.size());
                        self->sending_.clear();
                        if (error || self->phase_ == Phase::kClosed) return self->Finish();
                        if (!self->outbox_.empty()) return self->Flush();
                        if (self->endAfterFlush_) return self->Linger();
                        self->ArmHeartbeat();
                      });
  }

  void ArmHeartbeat() {
    heartbeatTimer_.expires_after(heartbeatInterval_);
    heartbeatTimer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
      if (error || self->phase_ != Phase::kStreaming || self->endAfterFlush_) return;
      self->queued_ += self->heartbeat_.size();
      self->outbox_ += self->heartbeat_;
      self->Flush();
    });
  }

  // Ends a stream: `graceful` sends the last chunk first; otherwise the connection is dropped.
  void EndStream(bool graceful) {
    if (phase_ != Phase::kStreaming || endAfterFlush_) {
      if (!graceful) Finish();
      return;
    }
    streamOpen_ = false;
    if (!graceful) return Finish();
    endAfterFlush_ = true;
    outbox_ += "0\r\n\r\n";
    Flush();
  }

  void Finish() {
    if (finished_) return;
    finished_ = true;
    phase_ = Phase::kClosed;
    streamOpen_ = false;
    readTimer_.cancel();
    writeTimer_.cancel();
    callTimer_.cancel();
    heartbeatTimer_.cancel();
    awaitingAnswer_.reset();
    boost::system::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    parser_.reset();
    buffer_.clear();
    buffer_.shrink_to_fit();
    if (auto onClose = std::exchange(onStreamClose_, nullptr)) onClose();
  }

  tcp::socket socket_;
  std::shared_ptr<HttpServer::Impl> server_;
  const HttpLimits& limits_;
  std::string remote_;
  asio::steady_timer readTimer_;
  asio::steady_timer writeTimer_;
  asio::steady_timer callTimer_;
  asio::steady_timer heartbeatTimer_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  Phase phase_ = Phase::kReading;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> awaitingAnswer_;
  std::uint64_t exchange_ = 0;
  bool firstRequest_ = true;
  bool headerStarted_ = false;
  bool readTimedOut_ = false;
  bool keepAlive_ = true;
  bool head_ = false;
  bool finished_ = false;
  bool discarding_ = false;
  Clock::time_point readDeadline_{};
  Clock::time_point bodyStart_{};
  std::size_t bodyReceived_ = 0;
  std::string out_;
  char probe_[512];
  // The stream, once the answer is one.
  std::string heartbeat_;
  std::chrono::milliseconds heartbeatInterval_{15000};
  std::function<void()> onStreamClose_;
  std::string outbox_;
  std::string sending_;
  bool writingStream_ = false;
  bool endAfterFlush_ = false;
  std::atomic<std::size_t> queued_ = 0;
  std::atomic<bool> streamOpen_ = true;
};

HttpReply::State::~State() {
  if (!answered) session->Deliver(exchange, FailureResponse(500, kUnanswered));
}

void HttpReply::Send(HttpResponse response) const {
  if (state_->answered.exchange(true)) return;
  state_->session->Deliver(state_->exchange, std::move(response));
}

std::shared_ptr<HttpStream> HttpReply::Stream(HttpResponse head, std::string heartbeat,
                                              std::chrono::milliseconds interval,
                                              std::function<void()> onClose) const {
  std::shared_ptr<HttpStream> stream(new HttpStream(state_->session));
  if (state_->answered.exchange(true)) {
    if (onClose) onClose();
    return stream;
  }
  state_->session->BeginStream(state_->exchange, std::move(head), std::move(heartbeat), interval,
                               std::move(onClose));
  return stream;
}

void HttpReply::SendUnlessAnsweredWithin(std::chrono::milliseconds timeout, HttpResponse fallback) const {
  std::weak_ptr<State> weak = state_;
  state_->session->ArmCallTimer(timeout, [weak, fallback = std::move(fallback)]() mutable {
    if (auto state = weak.lock()) HttpReply(state).Send(std::move(fallback));
  });
}

void HttpReply::After(std::chrono::milliseconds delay, std::function<void()> task) const {
  state_->session->After(delay, std::move(task));
}

bool HttpStream::Write(std::string piece) {
  auto session = session_.lock();
  return session && session->StreamWrite(std::move(piece));
}

void HttpStream::Close() {
  if (auto session = session_.lock()) session->StreamClose();
}

bool HttpStream::IsOpen() const {
  auto session = session_.lock();
  return session && session->StreamOpen();
}

void HttpServer::Impl::Accept() {
  acceptor.async_accept(
      asio::make_strand(io),
      [self = shared_from_this()](const boost::system::error_code& error, tcp::socket socket) {
        self->OnAccept(error, std::move(socket));
      });
}

void HttpServer::Impl::OnAccept(const boost::system::error_code& error, tcp::socket socket) {
  {
    std::lock_guard lock(mutex);
    if (stopping) return;
  }
  if (error) {
    // Out of descriptors, most likely: try again shortly instead of spinning.
    acceptRetry.expires_after(std::chrono::milliseconds(50));
    acceptRetry.async_wait([self = shared_from_this()](const boost::system::error_code& waited) {
      if (!waited) self->Accept();
    });
    return;
  }
  boost::system::error_code ignored;
  const tcp::endpoint remote = socket.remote_endpoint(ignored);
  std::string address = remote.address().to_string();
  if (std::optional<const char*> refusal = Admit(address)) {
    const HttpResponse answer = FailureResponse(503, *refusal);
    const std::string text = ResponseHead(answer, answer.body.size(), false) + answer.body;
    socket.non_blocking(true, ignored);
    socket.write_some(asio::buffer(text), ignored);
    socket.shutdown(tcp::socket::shutdown_send, ignored);
    socket.close(ignored);
  } else {
    // Answers go out in one write each, but an event stream writes small pieces: no Nagle delay.
    socket.set_option(tcp::no_delay(true), ignored);
    std::make_shared<HttpSession>(std::move(socket), shared_from_this(), std::move(address))->Begin();
  }
  Accept();
}

std::optional<const char*> HttpServer::Impl::Admit(const std::string& address) {
  std::lock_guard lock(mutex);
  if (open >= options.limits.maxConnections) return kTooManyConnections;
  std::size_t& fromClient = perClient[address];
  if (fromClient >= options.limits.maxConnectionsPerClient) return kTooManyFromClient;
  ++fromClient;
  ++open;
  return std::nullopt;
}

void HttpServer::Impl::Leave(HttpSession* session, const std::string& address) {
  std::lock_guard lock(mutex);
  sessions.erase(session);
  --open;
  const auto found = perClient.find(address);
  if (found != perClient.end() && --found->second == 0) perClient.erase(found);
}

HttpServer::HttpServer(HttpServerOptions options, HttpHandler handler)
    : impl_(std::make_shared<Impl>(std::move(options), std::move(handler))) {}

HttpServer::~HttpServer() {
  Stop();
}

std::optional<std::string> HttpServer::Bind() {
  const std::string& host = impl_->options.host;
  const int port = impl_->options.port;
  boost::system::error_code error;
  asio::ip::address address = asio::ip::make_address(host == "localhost" ? "127.0.0.1" : host, error);
  if (error) return Format(kBadAddress, host.c_str(), port);
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
  tcp::acceptor& acceptor = impl_->acceptor;
  // SO_REUSEADDR only lets a restart bind past connections in TIME_WAIT; without SO_REUSEPORT a port
  // that another socket listens on stays refused.
  acceptor.open(endpoint.protocol(), error);
  if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(1024, error);
  if (error) {
    const std::string reason = error.message();
    acceptor.close(error);
    return Format(kCannotListen, host.c_str(), port, reason.c_str());
  }
  impl_->port = acceptor.local_endpoint().port();
  RaiseDescriptorLimit();
  return std::nullopt;
}

int HttpServer::Port() const {
  return impl_->port;
}

void HttpServer::Start() {
  impl_->Accept();
  const int count = std::max(1, impl_->options.ioThreads);
  for (int i = 0; i < count; ++i)
    impl_->threads.emplace_back([impl = impl_] { impl->io.run(); });
}

void HttpServer::Stop() {
  std::vector<std::shared_ptr<HttpSession>> sessions;
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->stopping) return;
    impl_->stopping = true;
    for (const auto& [key, weak] : impl_->sessions)
      if (auto session = weak.lock()) sessions.push_back(std::move(session));
  }
  // A plain pointer: a handler that never runs (the server never started) must not keep the server
  // alive from inside its own queue.
  asio::post(impl_->acceptor.get_executor(), [impl = impl_.get()] {
    boost::system::error_code ignored;
    impl->acceptor.close(ignored);
    impl->acceptRetry.cancel();
  });
  for (const auto& session : sessions)
    session->Shutdown();
  sessions.clear();
  for (std::thread& thread : impl_->threads)
    if (thread.joinable()) thread.join();
  impl_->threads.clear();
  // What reached a session after the I/O threads ended (an event for a stream, a late answer) waits in
  // the queue and holds the session, and through it the server. Nothing more is queued once halted;
  // then each session still alive is closed here and the queue run out, until nothing is left.
  impl_->io.restart();
  {
    std::lock_guard lock(impl_->haltMutex);
    impl_->halted = true;
  }
  for (int round = 0; round < 100; ++round) {
    {
      std::lock_guard lock(impl_->mutex);
      for (const auto& [key, weak] : impl_->sessions)
        if (auto session = weak.lock()) sessions.push_back(std::move(session));
    }
    for (const auto& session : sessions)
      session->Abort();
    sessions.clear();
    if (impl_->io.poll() == 0) break;
  }
}

std::size_t HttpServer::OpenConnections() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->open;
}

}  // namespace GoxTools
