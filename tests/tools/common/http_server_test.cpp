// The HTTP layer as gox-host and gox-services run it, in-process on ephemeral ports: attacks in bounded
// time (slow headers, slow bodies, clients that never read, floods, ambiguous framing), each followed
// by good calls that must be answered.

#include "tools/common/http_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "services/services_server.h"
#include "tests/support/raw_http_client.h"
#include "tools/gox_host/host_server.h"

namespace GoxTools {
namespace {

using GoxHostTest::ConnectFrom;
using GoxHostTest::RawExchange;
using GoxHostTest::ReadUntilClosed;
using GoxHostTest::TimedGet;
using GoxHostTest::WaitFor;
using std::chrono::milliseconds;

// One of the two servers on the HTTP layer, with its own limits.
class ServerUnderTest {
 public:
  virtual ~ServerUnderTest() = default;
  [[nodiscard]] virtual int Port() const = 0;
  [[nodiscard]] virtual std::size_t OpenConnections() const = 0;
  // A path the server answers 200 at once.
  [[nodiscard]] virtual std::string GoodPath() const = 0;
  // A path whose answer is some kilobytes, for clients that do not read.
  [[nodiscard]] virtual std::string LargePath() const = 0;
};

class Services : public ServerUnderTest {
 public:
  explicit Services(const HttpLimits& limits) {
    GoxServices::ServicesOptions options;
    options.port = 0;
    options.threads = 2;
    options.http = limits;
    server_ = std::make_unique<GoxServices::ServicesServer>(options, "test-secret");
    EXPECT_EQ(server_->Start(), std::nullopt);
    // A fault that answers a large body, for the clients that never read.
    const std::string fault = R"({"mode":"error","status":200,"count":100000,"path":"/big","body":")" +
                              std::string(16384, 'x') + "\"}";
    const std::string put = "PUT /admin/fault HTTP/1.1\r\nHost: t\r\nConnection: close\r\nContent-Length: " +
                            std::to_string(fault.size()) + "\r\n\r\n" + fault;
    EXPECT_TRUE(RawExchange(Port(), put).starts_with("HTTP/1.1 200"));
  }
  int Port() const override { return server_->Port(); }
  std::size_t OpenConnections() const override { return server_->OpenConnections(); }
  std::string GoodPath() const override { return "/admin/game-customization"; }
  std::string LargePath() const override { return "/big"; }

 private:
  std::unique_ptr<GoxServices::ServicesServer> server_;
};

class Host : public ServerUnderTest {
 public:
  explicit Host(const HttpLimits& limits) : log_(std::tmpfile()), hostLog_(log_) {
    GoxHostApp::HostServerOptions options;
    options.modulePaths = {GOX_HOST_TEST_MODULE_PATH};
    options.frontDoor.port = 0;
    options.frontDoor.http = limits;
    options.frontDoor.eventKeepAlive = milliseconds(200);
    server_ = std::make_unique<GoxHostApp::HostServer>(options, hostLog_);
    EXPECT_EQ(server_->Start(), std::nullopt);
  }
  ~Host() override {
    server_->Stop();
    server_.reset();
    std::fclose(log_);
  }
  int Port() const override { return server_->Port(); }
  std::size_t OpenConnections() const override { return server_->OpenConnections(); }
  std::string GoodPath() const override { return "/gox-hosttest/v1/echo/1?text=ok"; }
  std::string LargePath() const override { return "/openapi.json"; }

 private:
  std::FILE* log_;
  GoxHostApp::HostLog hostLog_;
  std::unique_ptr<GoxHostApp::HostServer> server_;
};

HttpLimits TestLimits() {
  HttpLimits limits;
  limits.headerTimeout = milliseconds(30000);  // slow headers stay open for the whole test
  limits.bodyTimeout = milliseconds(300);
  limits.bodyMinRate = 1000;
  limits.writeTimeout = milliseconds(500);
  limits.idleTimeout = milliseconds(2000);
  return limits;
}

// Closes every descriptor it holds.
struct Sockets {
  std::vector<int> fds;
  ~Sockets() {
    for (int fd : fds)
      close(fd);
  }
};

class HttpServerAttackTest : public ::testing::TestWithParam<const char*> {
 protected:
  void Start(const HttpLimits& limits) {
    if (std::string(GetParam()) == "services")
      server_ = std::make_unique<Services>(limits);
    else
      server_ = std::make_unique<Host>(limits);
  }

  // Good calls, each answered 200 within a second.
  void ExpectGoodCalls(int count, const std::string& after) {
    for (int i = 0; i < count; ++i) {
      const auto start = std::chrono::steady_clock::now();
      const std::optional<std::string> answer =
          TimedGet(server_->Port(), server_->GoodPath(), milliseconds(1000));
      ASSERT_TRUE(answer.has_value()) << "no answer within 1 s, call " << i << " after " << after;
      EXPECT_TRUE(answer->starts_with("HTTP/1.1 200")) << after << ": " << answer->substr(0, 200);
      EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1000)) << after;
    }
  }

  std::unique_ptr<ServerUnderTest> server_;
};

TEST_P(HttpServerAttackTest, AThousandSlowHeadersDoNotStarveAGoodClient) {
  Start(TestLimits());
  Sockets attackers;
  const char* sources[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
  for (int i = 0; i < 1000; ++i) {
    const int fd = ConnectFrom(server_->Port(), sources[i % 4]);
    ASSERT_GE(fd, 0) << "connection " << i;
    attackers.fds.push_back(fd);
    const std::string start = "GET " + server_->GoodPath() + " HTTP/1.1\r\nHost: t\r\nX-Slow: 1\r\n";
    ASSERT_EQ(send(fd, start.data(), start.size(), MSG_NOSIGNAL), static_cast<ssize_t>(start.size()));
  }
  ASSERT_TRUE(WaitFor([&] { return server_->OpenConnections() >= 1000; }, milliseconds(5000)));
  for (int round = 0; round < 3; ++round) {
    for (int fd : attackers.fds)  // one more header line each, as the attack tool does
      (void)send(fd, "X-More: 1\r\n", 11, MSG_NOSIGNAL);
    ExpectGoodCalls(5, "slow headers");
  }
  EXPECT_GE(server_->OpenConnections(), 1000u);  // held open, not dropped to make room
}

TEST_P(HttpServerAttackTest, ASlowBodyAndAClientThatNeverReadsAreClosedByTheirDeadlines) {
  Start(TestLimits());
  // 1,000 bytes a second beyond 300 ms; this one sends 10 bytes every 100 ms.
  const int slow = ConnectFrom(server_->Port(), "127.0.0.2");
  ASSERT_GE(slow, 0);
  const std::string head = "POST /loadouts/v3/items HTTP/1.1\r\nHost: t\r\nContent-Length: 100000\r\n\r\n";
  (void)send(slow, head.data(), head.size(), MSG_NOSIGNAL);
  const auto start = std::chrono::steady_clock::now();
  std::string answer;
  bool closed = false;
  for (int i = 0; i < 40 && !closed; ++i) {
    (void)send(slow, "0123456789", 10, MSG_NOSIGNAL);
    answer += ReadUntilClosed(slow, milliseconds(100), &closed);
  }
  close(slow);
  EXPECT_TRUE(closed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(3000));
  EXPECT_TRUE(answer.starts_with("HTTP/1.1 408")) << answer;
  ExpectGoodCalls(3, "a slow body");

  // Pipelined requests for large answers from a client with a tiny window that reads nothing.
  ASSERT_TRUE(WaitFor([&] { return server_->OpenConnections() == 0; }, milliseconds(3000)));
  const std::size_t before = 0;
  const int deaf = ConnectFrom(server_->Port(), "127.0.0.3", 4096);
  ASSERT_GE(deaf, 0);
  const std::string request = "GET " + server_->LargePath() + " HTTP/1.1\r\nHost: t\r\n\r\n";
  std::string pipeline;
  for (int i = 0; i < 1000; ++i)
    pipeline += request;
  (void)send(deaf, pipeline.data(), pipeline.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  EXPECT_TRUE(WaitFor([&] { return server_->OpenConnections() > before; }, milliseconds(1000)));
  ExpectGoodCalls(3, "a client that never reads");
  EXPECT_TRUE(WaitFor([&] { return server_->OpenConnections() <= before; }, milliseconds(5000)))
      << "the deaf client's connection is still open";
  close(deaf);
}

TEST_P(HttpServerAttackTest, AFloodPastTheCapsIsRefusedAtOnceWhileAGoodClientIsServed) {
  HttpLimits limits = TestLimits();
  limits.maxConnections = 150;
  limits.maxConnectionsPerClient = 100;
  Start(limits);
  Sockets flood;
  int refused = 0;
  for (int i = 0; i < 130; ++i) {
    const int fd = ConnectFrom(server_->Port(), "127.0.0.2");
    ASSERT_GE(fd, 0);
    flood.fds.push_back(fd);
  }
  for (std::size_t i = 100; i < flood.fds.size(); ++i) {
    bool closed = false;
    const std::string answer = ReadUntilClosed(flood.fds[i], milliseconds(1000), &closed);
    refused += closed && answer.starts_with("HTTP/1.1 503") ? 1 : 0;
    EXPECT_NE(answer.find("\"httpStatus\":503"), std::string::npos) << answer;
  }
  EXPECT_EQ(refused, 30);
  ExpectGoodCalls(5, "a flood from one address");
  // Past the cap in all, another address is refused too, and served again once the flood ends. The
  // good calls' connections are gone first, so that the count below is the flood's alone.
  ASSERT_TRUE(WaitFor([&] { return server_->OpenConnections() == 100; }, milliseconds(3000)));
  for (int i = 0; i < 49; ++i)
    flood.fds.push_back(ConnectFrom(server_->Port(), "127.0.0.3"));
  ASSERT_TRUE(WaitFor([&] { return server_->OpenConnections() == 149; }, milliseconds(3000)));
  const int extra = ConnectFrom(server_->Port(), "127.0.0.3");
  ASSERT_TRUE(WaitFor([&] { return server_->OpenConnections() == 150; }, milliseconds(3000)));
  const int extra2 = ConnectFrom(server_->Port(), "127.0.0.4");
  bool closed = false;
  EXPECT_TRUE(ReadUntilClosed(extra2, milliseconds(1000), &closed).starts_with("HTTP/1.1 503"));
  close(extra);
  close(extra2);
  for (int fd : flood.fds)
    close(fd);
  flood.fds.clear();
  ASSERT_TRUE(WaitFor([&] { return server_->OpenConnections() == 0; }, milliseconds(3000)));
  ExpectGoodCalls(3, "the flood ended");
}

TEST_P(HttpServerAttackTest, AmbiguousFramingIsRefusedAndTheConnectionClosed) {
  Start(TestLimits());
  const std::string path = server_->GoodPath();
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"two Content-Length",
       "POST /x HTTP/1.1\r\nHost: t\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd"},
      {"Content-Length and chunked",
       "POST /x HTTP/1.1\r\nHost: t\r\nContent-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"},
      {"chunked and Content-Length",
       "POST /x HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\nContent-Length: 4\r\n\r\n0\r\n\r\n"},
      {"Content-Length and another coding",
       "POST /x HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: gzip\r\nContent-Length: 4\r\n\r\nabcd"},
      {"coding without chunked", "POST /x HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: gzip\r\n\r\nabcd"},
      {"bad chunk size",
       "POST /x HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabcd\r\n0\r\n\r\n"},
      {"folded header", "GET " + path + " HTTP/1.1\r\nHost: t\r\nX-Folded: a\r\n b\r\n\r\n"},
      {"method not a token", "GE(T " + path + " HTTP/1.1\r\nHost: t\r\n\r\n"},
      {"unknown version", "GET " + path + " HTTP/1.2\r\nHost: t\r\n\r\n"},
      {"version 2", "GET " + path + " HTTP/2.0\r\nHost: t\r\n\r\n"},
  };
  for (const Case& c : cases) {
    // A second request rides behind each: it must never be answered, since the first one's end is unknown.
    const std::string answer =
        RawExchange(server_->Port(), c.bytes + "GET " + path + " HTTP/1.1\r\nHost: t\r\n\r\n");
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 400")) << c.name << ": " << answer;
    EXPECT_NE(answer.find("\"httpStatus\":400"), std::string::npos) << c.name;
    EXPECT_EQ(answer.find("HTTP/1.1 ", 1), std::string::npos) << c.name << " answered twice: " << answer;
    ExpectGoodCalls(1, c.name);
  }
}

TEST_P(HttpServerAttackTest, PipelinedRequestsAreAnsweredInOrderAndExpectContinueIsHonoured) {
  Start(TestLimits());
  const std::string path = server_->GoodPath();
  const std::string two = "GET " + path +
                          " HTTP/1.1\r\nHost: t\r\n\r\nGET /nowhere-at-all HTTP/1.1\r\nHost: t\r\n"
                          "Connection: close\r\n\r\n";
  const std::string answer = RawExchange(server_->Port(), two);
  const std::size_t second = answer.find("HTTP/1.1 4");
  EXPECT_TRUE(answer.starts_with("HTTP/1.1 200")) << answer;
  EXPECT_NE(second, std::string::npos) << answer;

  const int fd = ConnectFrom(server_->Port());
  ASSERT_GE(fd, 0);
  const std::string head =
      "PUT /admin/none HTTP/1.1\r\nHost: t\r\nExpect: 100-continue\r\nContent-Length: 2\r\n"
      "Connection: close\r\n\r\n";
  (void)send(fd, head.data(), head.size(), MSG_NOSIGNAL);
  EXPECT_EQ(ReadUntilClosed(fd, milliseconds(100)), "HTTP/1.1 100 Continue\r\n\r\n");
  (void)send(fd, "{}", 2, MSG_NOSIGNAL);
  EXPECT_TRUE(ReadUntilClosed(fd, milliseconds(2000)).starts_with("HTTP/1.1 40"));
  close(fd);

  const std::string tooLarge =
      "POST /x HTTP/1.1\r\nHost: t\r\nExpect: 100-continue\r\nContent-Length: 999999999\r\n\r\n";
  EXPECT_TRUE(RawExchange(server_->Port(), tooLarge).starts_with("HTTP/1.1 413"));
}

INSTANTIATE_TEST_SUITE_P(BothServers, HttpServerAttackTest, ::testing::Values("services", "host"));

TEST(HttpServerTest, APortInUseIsRefusedNamingTheAddress) {
  HttpServer first({"127.0.0.1", 0, 1, {}}, [](HttpRequest, HttpReply reply) { reply.Send({}); });
  ASSERT_EQ(first.Bind(), std::nullopt);
  HttpServer second({"127.0.0.1", first.Port(), 1, {}}, [](HttpRequest, HttpReply reply) { reply.Send({}); });
  const std::optional<std::string> error = second.Bind();
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("127.0.0.1:" + std::to_string(first.Port())), std::string::npos) << *error;
}

TEST(HttpServerTest, AnAnswerNeverGivenBecomesA500AndALateOneA504) {
  HttpServer server({"127.0.0.1", 0, 1, {}}, [](HttpRequest request, HttpReply reply) {
    if (request.path == "/late")
      reply.SendUnlessAnsweredWithin(milliseconds(100), FailureResponse(504, "late"));
    if (request.path == "/late") reply.After(milliseconds(2000), [reply] { reply.Send({}); });
  });
  ASSERT_EQ(server.Bind(), std::nullopt);
  server.Start();
  const auto dropped = TimedGet(server.Port(), "/dropped", milliseconds(1000));
  ASSERT_TRUE(dropped.has_value());
  EXPECT_TRUE(dropped->starts_with("HTTP/1.1 500")) << *dropped;
  const auto late = TimedGet(server.Port(), "/late", milliseconds(1000));
  ASSERT_TRUE(late.has_value());
  EXPECT_TRUE(late->starts_with("HTTP/1.1 504")) << *late;
  server.Stop();
}

TEST(HttpMessageTest, QueriesAndPathsAreDecoded) {
  const auto parameters = ParseQuery("a=1&inventoryTypes=A%2CB&b&a=x+y&&c=%zz");
  ASSERT_EQ(parameters.size(), 5u);
  EXPECT_EQ(QueryValue(parameters, "a"), "1");
  EXPECT_EQ(QueryValue(parameters, "inventoryTypes"), "A,B");
  EXPECT_EQ(parameters[2], (std::pair<std::string, std::string>("b", "")));
  EXPECT_EQ(parameters[3].second, "x y");
  EXPECT_EQ(QueryValue(parameters, "c"), "%zz");
  EXPECT_EQ(PercentDecode("/a%20b+c%4", false), "/a b+c%4");
  // Failure messages carry request text at times: they stay one JSON string.
  EXPECT_EQ(FailureBody(400, "a\"b\\\n"), R"({"httpStatus":400,"message":"a\"b\\\u000a"})");
}

}  // namespace
}  // namespace GoxTools

namespace GoxTools {
namespace {

std::size_t ResidentBytes() {
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  long pages = 0;
  long resident = 0;
  if (statm != nullptr) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

std::string AdminPut(const std::string& path, const std::string& json) {
  return "PUT /admin/resources" + path +
         " HTTP/1.1\r\nHost: t\r\nContent-Length: " + std::to_string(json.size()) + "\r\n\r\n" + json;
}

TEST(EventStreamsTest, AThousandOpenStreamsLeaveGoodCallsAnswered) {
  Host host(TestLimits());
  Sockets streams;
  const char* sources[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
  const std::string request = "GET /events HTTP/1.1\r\nHost: t\r\n\r\n";
  for (int i = 0; i < 1000; ++i) {
    const int fd = ConnectFrom(host.Port(), sources[i % 4]);
    ASSERT_GE(fd, 0);
    streams.fds.push_back(fd);
    (void)send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  }
  ASSERT_TRUE(WaitFor([&] { return host.OpenConnections() >= 1000; }, milliseconds(5000)));
  // Every stream is open: the last one opened carries an event published now.
  const int admin = ConnectFrom(host.Port());
  const std::string put = AdminPut("/gox-hosttest/v1/flag", "true");
  (void)send(admin, put.data(), put.size(), MSG_NOSIGNAL);
  EXPECT_TRUE(ReadUntilClosed(admin, milliseconds(1000)).starts_with("HTTP/1.1 200"));
  close(admin);
  std::string last;
  EXPECT_TRUE(WaitFor(
      [&] {
        last += ReadUntilClosed(streams.fds.back(), milliseconds(50));
        return last.find("/gox-hosttest/v1/flag") != std::string::npos;
      },
      milliseconds(3000)))
      << last.substr(0, 300);
  for (int i = 0; i < 10; ++i) {
    const auto answer = TimedGet(host.Port(), host.GoodPath(), milliseconds(1000));
    ASSERT_TRUE(answer.has_value()) << "call " << i;
    EXPECT_TRUE(answer->starts_with("HTTP/1.1 200"));
  }
}

TEST(EventStreamsTest, AStreamThatNeverReadsIsDroppedWithMemoryBounded) {
  HttpLimits limits = TestLimits();
  limits.streamQueueLimit = 256 * 1024;
  limits.writeTimeout = milliseconds(60000);  // the queue limit, not the write deadline, ends it
  Host host(limits);
  const int deaf = ConnectFrom(host.Port(), "127.0.0.2", 4096);
  const std::string request = "GET /events HTTP/1.1\r\nHost: t\r\n\r\n";
  (void)send(deaf, request.data(), request.size(), MSG_NOSIGNAL);
  const int reader = ConnectFrom(host.Port(), "127.0.0.3");
  (void)send(reader, request.data(), request.size(), MSG_NOSIGNAL);
  ASSERT_TRUE(WaitFor([&] { return host.OpenConnections() == 2; }, milliseconds(2000)));
  const std::size_t residentBefore = ResidentBytes();
  const std::string value = "\"" + std::string(64 * 1024, 'v') + "\"";
  const int admin = ConnectFrom(host.Port());
  std::string seen;
  int readerEvents = 0;
  bool dropped = false;
  // 400 events of 64 KiB (25 MiB in all) for a reader that takes none of them.
  for (int i = 0; i < 200 && !dropped; ++i) {
    const std::string put = AdminPut("/gox-hosttest/v1/big", value);
    (void)send(admin, put.data(), put.size(), MSG_NOSIGNAL);
    std::string answer;
    ASSERT_TRUE(WaitFor(
        [&] {
          answer += ReadUntilClosed(admin, milliseconds(20));
          return answer.find("eventType") != std::string::npos;
        },
        milliseconds(2000)));
    seen += ReadUntilClosed(reader, milliseconds(5));
    readerEvents += seen.find("data: ") != std::string::npos ? 1 : 0;
    seen.erase(0, seen.size() > 16 ? seen.size() - 16 : 0);
    dropped = host.OpenConnections() == 2;  // the deaf stream gone: the reader and the admin client remain
  }
  EXPECT_TRUE(dropped) << "the stream that never reads is still open";
#if !defined(__SANITIZE_ADDRESS__) && !defined(__has_feature)
  EXPECT_LT(ResidentBytes(), residentBefore + (16u << 20)) << "memory grew with the unread events";
#elif defined(__has_feature)
#if !__has_feature(address_sanitizer)
  EXPECT_LT(ResidentBytes(), residentBefore + (16u << 20)) << "memory grew with the unread events";
#endif
#endif
  (void)residentBefore;  // the address sanitizer keeps freed memory in quarantine: no bound there
  // The stream that reads is still open and getting events.
  EXPECT_GT(readerEvents, 0);
  bool readerClosed = false;
  (void)ReadUntilClosed(reader, milliseconds(300), &readerClosed);
  EXPECT_FALSE(readerClosed);
  close(admin);
  close(reader);
  close(deaf);
}

}  // namespace
}  // namespace GoxTools
