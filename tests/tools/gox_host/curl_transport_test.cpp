#include "tools/gox_host/curl_transport.h"

#include <gtest/gtest.h>

#include <strings.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "plugin/plugin_abi.h"
#include "tests/support/local_http_server.h"

namespace GoxHostApp {
namespace {

using GoxHostTest::LocalHttpServer;

// What the local server saw of the last request.
struct Seen {
  std::mutex mutex;
  std::string method;
  std::string header;
  std::string body;
  std::atomic<int> hits = 0;
};

std::string HeaderOf(const GoxHost::ExternalResult& result, const std::string& name) {
  for (const auto& [key, value] : result.headers)
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  return "(absent)";
}

class CurlTransportTest : public ::testing::Test {
 protected:
  CurlTransportTest()
      : server_([this](httplib::Server& routes) {
          const auto record = [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(seen_.mutex);
            seen_.method = request.method;
            seen_.header = request.get_header_value("X-Gox");
            seen_.body = request.body;
            ++seen_.hits;
            response.status = 201;
            response.set_header("X-Answer", "yes");
            response.set_content("answer:" + request.body, "text/plain");
          };
          routes.Get("/echo", record);
          routes.Post("/echo", record);
          routes.Put("/echo", record);
          routes.Patch("/echo", record);
          routes.Delete("/echo", record);
          routes.Options("/echo", record);
          routes.Get("/redirect", [](const httplib::Request&, httplib::Response& response) {
            response.status = 302;
            response.set_header("Location", "/echo");
          });
          routes.Get("/slow", [](const httplib::Request&, httplib::Response& response) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            response.set_content("late", "text/plain");
          });
          routes.Get("/big", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(std::string(5000, 'x'), "text/plain");
          });
        }) {}

  GoxHost::ExternalResult Send(std::uint32_t method, const std::string& path, std::string body = {},
                               GoxHost::HeaderList headers = {{"X-Gox", "1"}}) {
    GoxHost::ExternalCall call;
    call.method = method;
    call.url = server_.Url(path);
    call.headers = std::move(headers);
    call.body = std::move(body);
    return transport_.Send(call);
  }

  Seen seen_;
  LocalHttpServer server_;
  CurlTransport transport_{CurlTransportOptions{1000, 400, 1000}};
};

TEST_F(CurlTransportTest, MethodsHeadersAndBodiesTravelBothWays) {
  struct Case {
    std::uint32_t method;
    const char* body;
    const char* seenMethod;
  };
  const Case cases[] = {{kHttpMethodGet, "", "GET"},        {kHttpMethodPost, R"({"a":1})", "POST"},
                        {kHttpMethodPost, "", "POST"},      {kHttpMethodPut, "x", "PUT"},
                        {kHttpMethodPatch, "y", "PATCH"},   {kHttpMethodDelete, "", "DELETE"},
                        {kHttpMethodOptions, "", "OPTIONS"}};
  for (const Case& c : cases) {
    const GoxHost::ExternalResult result = Send(c.method, "/echo", c.body);
    EXPECT_EQ(result.result, 0) << c.seenMethod << ": " << result.body;
    EXPECT_EQ(result.status, 201) << c.seenMethod;
    EXPECT_EQ(HeaderOf(result, "X-Answer"), "yes") << c.seenMethod;
    EXPECT_EQ(result.body, std::string("answer:") + c.body) << c.seenMethod;
    std::lock_guard lock(seen_.mutex);
    EXPECT_EQ(seen_.method, c.seenMethod);
    EXPECT_EQ(seen_.header, "1") << c.seenMethod;
    EXPECT_EQ(seen_.body, c.body) << c.seenMethod;
  }
}

TEST_F(CurlTransportTest, RedirectsReachTheModuleUnfollowed) {
  const GoxHost::ExternalResult result = Send(kHttpMethodGet, "/redirect");
  EXPECT_EQ(result.result, 0);
  EXPECT_EQ(result.status, 302);
  EXPECT_EQ(HeaderOf(result, "Location"), "/echo");
  EXPECT_EQ(seen_.hits, 0);
}

TEST_F(CurlTransportTest, TransportFailuresBecomeFailedResults) {
  struct Case {
    const char* name;
    GoxHost::ExternalCall call;
    std::int32_t result;
    const char* text;  // a part of the failure text
  };
  const std::string refused = "http://127.0.0.1:" + std::to_string(GoxHostTest::UnusedPort()) + "/x";
  const Case cases[] = {
      {"timeout", {kHttpMethodGet, server_.Url("/slow"), {}, "", 0, 0}, kResultTimedOut, "imed out"},
      {"connection refused", {kHttpMethodGet, refused, {}, "", 0, 0}, kResultCouldNotConnect, "connect"},
      {"CR or LF in a value",
       {kHttpMethodGet, server_.Url("/echo"), {{"X-Gox", "1\r\nX-Injected: yes"}}, "", 0, 0},
       kResultFailed,
       "refused"},
      {"LF in a name",
       {kHttpMethodGet, server_.Url("/echo"), {{"X\nGox", "1"}}, "", 0, 0},
       kResultFailed,
       "refused"},
      {"answer over the limit", {kHttpMethodGet, server_.Url("/big"), {}, "", 0, 0}, kResultFailed, "limit"},
      {"another scheme", {kHttpMethodGet, "file:///etc/hostname", {}, "", 0, 0}, kResultFailed, ""},
      {"no method", {0, server_.Url("/echo"), {}, "", 0, 0}, kResultFailed, "method"},
      {"not a URL", {kHttpMethodGet, "::", {}, "", 0, 0}, kResultFailed, ""},
  };
  for (const Case& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const GoxHost::ExternalResult result = transport_.Send(c.call);
    EXPECT_EQ(result.result, c.result) << c.name << ": " << result.body;
    EXPECT_NE(result.body.find(c.text), std::string::npos) << c.name << ": " << result.body;
    EXPECT_TRUE(result.headers.empty()) << c.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.name;
  }
  EXPECT_EQ(seen_.hits, 0);  // nothing with a broken header went out
  // The handle still works after every kind of failure.
  EXPECT_EQ(Send(kHttpMethodGet, "/echo").status, 201);
}

}  // namespace
}  // namespace GoxHostApp
