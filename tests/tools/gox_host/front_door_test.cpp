// gox-host in-process over real HTTP on loopback: the test module loaded by path behind the front door.

#include "tools/gox_host/front_door.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <variant>

#include "tests/support/local_http_server.h"
#include "tests/support/module/host_test_module.h"
#include "tests/support/raw_http_client.h"
#include "tools/common/token_signing.h"
#include "tools/gox_host/host_server.h"

namespace GoxHostApp {
namespace {

using std::chrono::milliseconds;

constexpr std::size_t kBodyLimit = 4096;

GoxHost::JsonValue Json(const std::string& text) {
  std::optional<GoxHost::JsonValue> value = GoxHost::JsonValue::Parse(text);
  EXPECT_TRUE(value.has_value()) << text;
  return value.value_or(GoxHost::JsonValue());
}

using GoxHostTest::RawExchange;

class FrontDoorTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(true); }
  void TearDown() override {
    if (server_) server_->Stop();
    if (log_ != nullptr) std::fclose(log_);
  }

  void Start(bool admin, std::string fixturesPath = {}, std::string servicesUrl = {}) {
    if (server_) server_->Stop();
    HostServerOptions options;
    options.fixturesPath = std::move(fixturesPath);
    options.servicesUrl = std::move(servicesUrl);
    // The test module asks the inventory module for its tokens through the host.
    options.modulePaths = {GOX_HOST_TEST_MODULE_PATH, GOX_INVENTORY_MODULE_PATH};
    options.admin = admin;
    options.frontDoor.port = 0;
    options.frontDoor.http.bodyLimit = kBodyLimit;
    options.frontDoor.http.headerTimeout = milliseconds(500);
    options.frontDoor.http.bodyTimeout = milliseconds(500);
    options.frontDoor.http.idleTimeout = milliseconds(1000);
    options.frontDoor.callTimeout = milliseconds(10000);
    options.transport.totalTimeoutMs = 1000;
    if (log_ == nullptr) log_ = std::tmpfile();
    hostLog_ = std::make_unique<HostLog>(log_);
    server_ = std::make_unique<HostServer>(options, *hostLog_);
    const std::optional<std::string> error = server_->Start();
    ASSERT_EQ(error, std::nullopt);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->Port());
    client_->set_connection_timeout(std::chrono::seconds(2));
    client_->set_read_timeout(std::chrono::seconds(10));
  }

  // The status and body of a request.
  std::pair<int, std::string> Request(const std::string& method, const std::string& path,
                                      const std::string& body = {},
                                      const char* contentType = "application/json") {
    httplib::Result result = method == "GET"      ? client_->Get(path.c_str())
                             : method == "HEAD"   ? client_->Head(path.c_str())
                             : method == "POST"   ? client_->Post(path.c_str(), body, contentType)
                             : method == "PUT"    ? client_->Put(path.c_str(), body, contentType)
                             : method == "DELETE" ? client_->Delete(path.c_str())
                                                  : client_->Options(path.c_str());
    if (!result) return {0, "transport failure: " + httplib::to_string(result.error())};
    return {result->status, result->body};
  }

  std::FILE* log_ = nullptr;
  std::unique_ptr<HostLog> hostLog_;
  std::unique_ptr<HostServer> server_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(FrontDoorTest, AnswersMapStatusesAndBodies) {
  struct Case {
    const char* method;
    const char* path;
    const char* body;
    int status;
    const char* answer;
  };
  const Case cases[] = {
      {"GET", "/gox-hosttest/v1/echo/7?text=hi", "", 200, R"("7:hi")"},
      {"GET", "/gox-hosttest/v1/echo/7?text=a%20b", "", 200, R"("7:a b")"},
      {"HEAD", "/gox-hosttest/v1/echo/7", "", 200, ""},
      {"GET", "/gox-hosttest/v1/fail/503", "", 503, R"({"httpStatus":503,"message":"failed on purpose"})"},
      {"GET", "/gox-hosttest/v1/fail/0", "", 400, R"({"httpStatus":400,"message":"failed on purpose"})"},
      {"GET", "/gox-hosttest/v1/echo/x", "", 400,
       R"({"httpStatus":400,"message":"Value x for 'id' of type uint32 is in an incorrect format"})"},
      {"POST", "/gox-hosttest/v1/items/7", R"({"a":1})", 204, ""},
      {"POST", "/gox-hosttest/v1/items/7", R"({"a":)", 400, nullptr},
      {"GET", "/nothing/here", "", 404, R"({"httpStatus":404,"message":"nothing at GET /nothing/here"})"},
      {"DELETE", "/gox-hosttest/v1/echo/7", "", 405,
       R"({"httpStatus":405,"message":"DELETE is not allowed on /gox-hosttest/v1/echo/7"})"},
      {"OPTIONS", "/gox-hosttest/v1/phase", "", 405, nullptr},
  };
  for (const Case& c : cases) {
    const auto [status, body] = Request(c.method, c.path, c.body);
    EXPECT_EQ(status, c.status) << c.method << " " << c.path << ": " << body;
    if (c.answer != nullptr) {
      EXPECT_EQ(body, c.answer) << c.method << " " << c.path;
    }
    // Every failure has the same shape.
    if (status >= 400) {
      const GoxHost::JsonValue failure = Json(body);
      EXPECT_TRUE(failure.Get().IsObject() && failure.Get()["httpStatus"].GetInt() == status) << body;
    }
  }
}

TEST_F(FrontDoorTest, BodiesOverTheLimitAreRefusedAndServingGoesOn) {
  const auto [status, body] =
      Request("POST", "/gox-hosttest/v1/items/7", "[" + std::string(kBodyLimit, ' ') + "]");
  EXPECT_EQ(status, 413);
  EXPECT_EQ(Json(body).Get()["httpStatus"].GetInt(), 413);
  EXPECT_EQ(Request("POST", "/gox-hosttest/v1/items/7", "[1]").first, 204);
}

TEST_F(FrontDoorTest, ResourcesCanBeRead) {
  ASSERT_EQ(Request("POST", "/gox-hosttest/v1/items/9", R"({"a":[1,2]})").first, 204);
  struct Case {
    const char* path;
    int status;
    const char* answer;
  };
  const Case cases[] = {
      {"/gox-hosttest/v1/items/9", 200, R"({"a":[1,2]})"},  // published by the module, no GET endpoint there
      {"/resources/gox-hosttest/v1/items/9", 200, R"({"a":[1,2]})"},
      {"/gox-player-preferences/v1/player-preferences-ready", 200, "true"},  // a stand-in's
      {"/resources/gox-hosttest/v1/echo/7", 404,
       R"({"httpStatus":404,"message":"no resource at /gox-hosttest/v1/echo/7"})"},
      {"/gox-hosttest/v1/items/10", 405, nullptr},
  };
  for (const Case& c : cases) {
    const auto [status, body] = Request("GET", c.path);
    EXPECT_EQ(status, c.status) << c.path << ": " << body;
    if (c.answer != nullptr) {
      EXPECT_EQ(body, c.answer) << c.path;
    }
  }
}

TEST_F(FrontDoorTest, TheEventStreamCarriesWhatTheModulePublishes) {
  std::atomic<bool> connected = false;
  std::string received;
  std::thread reader([&] {
    httplib::Client events("127.0.0.1", server_->Port());
    events.set_read_timeout(std::chrono::seconds(5));
    events.Get("/events", [&](const char* data, std::size_t length) {
      received.append(data, length);
      if (received.find(": connected") != std::string::npos) connected = true;
      return received.find("/gox-hosttest/v1/items/5") == std::string::npos;  // stop once it came
    });
  });
  for (int i = 0; i < 500 && !connected; ++i)
    std::this_thread::sleep_for(milliseconds(10));
  ASSERT_TRUE(connected);
  EXPECT_EQ(Request("POST", "/gox-hosttest/v1/items/5", R"({"b":2})").first, 204);
  reader.join();
  const std::string expected =
      R"(data: {"event":"OnJsonApiEvent_gox-hosttest_v1_items","uri":"/gox-hosttest/v1/items/5","eventType":"Update","data":{"b":2}})"
      "\n\n";
  EXPECT_NE(received.find(expected), std::string::npos) << received;
}

TEST_F(FrontDoorTest, AdminChangesFireEventsTheModuleSees) {
  EXPECT_EQ(Request("GET", "/gox-hosttest/v1/phase").second, R"({"events":1,"phase":"Lobby"})");
  struct Step {
    const char* method;
    const char* path;
    const char* body;
    int status;
    const char* answer;
    const char* phase;  // what the module saw afterwards
  };
  const Step steps[] = {
      {"PUT", "/admin/resources/gox-gameflow/v1/session", R"({"phase":"ChampSelect"})", 200,
       R"({"uri":"/gox-gameflow/v1/session","eventType":"Update"})", R"({"events":2,"phase":"ChampSelect"})"},
      {"PUT", "/admin/resources/gox-gameflow/v1/session", "{not json", 400, nullptr,
       R"({"events":2,"phase":"ChampSelect"})"},
      {"DELETE", "/admin/resources/gox-gameflow/v1/session", "", 200,
       R"({"uri":"/gox-gameflow/v1/session","eventType":"Delete"})", R"j({"events":3,"phase":"(deleted)"})j"},
      {"DELETE", "/admin/resources/gox-gameflow/v1/session", "", 404, nullptr,
       R"j({"events":3,"phase":"(deleted)"})j"},
      {"PUT", "/admin/resources/gox-gameflow/v1/session", R"({"phase":"Lobby"})", 200,
       R"({"uri":"/gox-gameflow/v1/session","eventType":"Create"})", R"({"events":4,"phase":"Lobby"})"},
      {"GET", "/admin/resources/gox-gameflow/v1/session", "", 200, R"({"phase":"Lobby"})",
       R"({"events":4,"phase":"Lobby"})"},
      {"POST", "/admin/resources/gox-gameflow/v1/session", "{}", 405, nullptr,
       R"({"events":4,"phase":"Lobby"})"},
      {"GET", "/admin/nothing", "", 404, nullptr, R"({"events":4,"phase":"Lobby"})"},
  };
  for (const Step& step : steps) {
    const auto [status, body] = Request(step.method, step.path, step.body);
    EXPECT_EQ(status, step.status) << step.method << " " << step.path << ": " << body;
    if (step.answer != nullptr) {
      EXPECT_EQ(body, step.answer) << step.method << " " << step.path;
    }
    EXPECT_EQ(Request("GET", "/gox-hosttest/v1/phase").second, step.phase) << step.method << " " << step.path;
  }
}

TEST_F(FrontDoorTest, TheServiceProxyStandInVerifiesTokensAndRecordsWhatItGot) {
  const auto [tokensStatus, tokensBody] = Request("GET", "/gox-hosttest/v1/tokens?type=EMOTE");
  ASSERT_EQ(tokensStatus, 200) << tokensBody;
  const GoxHost::JsonValue tokens = Json(tokensBody);
  for (const char* type : {"EMOTE", "BANNER"}) {
    const auto claims =
        GoxTools::VerifyToken(tokens.Get()[type].GetString(), GoxTools::TokenSecretFromEnvironment());
    ASSERT_TRUE(std::holds_alternative<GoxHost::JsonValue>(claims)) << type;
    EXPECT_STREQ(std::get<GoxHost::JsonValue>(claims).Get()["inventoryType"].GetString(), type);
  }

  EXPECT_EQ(Request("POST", "/gox-hosttest/v1/customize", "").first, 204);
  const auto [forgedStatus, forgedBody] = Request("POST", "/gox-hosttest/v1/customize?token=a.b.c", "");
  EXPECT_EQ(forgedStatus, 500);
  EXPECT_EQ(
      forgedBody,
      R"({"httpStatus":500,"message":"could not set: signedJWT rejected: token header is not a JSON object"})");

  const auto [status, body] = Request("GET", "/admin/game-customization");
  ASSERT_EQ(status, 200);
  const GoxHost::JsonValue calls = Json(body);
  ASSERT_TRUE(calls.Get().IsArray());
  ASSERT_EQ(calls.Get().Size(), 2u);
  EXPECT_TRUE(calls.Get()[0]["accepted"].GetBool());
  EXPECT_STREQ(calls.Get()[0]["claims"]["inventoryType"].GetString(), "EMOTE");
  EXPECT_FALSE(calls.Get()[1]["accepted"].GetBool());
  EXPECT_STREQ(calls.Get()[1]["payload"].GetString(), R"({"prefix":"loadouts","signedJWT":"a.b.c"})");
}

TEST_F(FrontDoorTest, WithoutTheAdminApiAdminPathsAreUnknown) {
  Start(false);
  EXPECT_EQ(Request("GET", "/admin/game-customization").first, 404);
  EXPECT_EQ(Request("PUT", "/admin/resources/gox-gameflow/v1/session", "{}").first, 404);
}

TEST_F(FrontDoorTest, AFixturesFileSetsTheWorldTheModuleStartsIn) {
  const std::string path = "/tmp/gox-host-fixtures-" + std::to_string(getpid()) + ".json";
  std::FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs(
      R"({"resources": {"/gox-gameflow/v1/session": {"phase": "ChampSelect"}}, "inventory": {"EMOTE": [42]}})",
      file);
  std::fclose(file);
  Start(true, path, "http://127.0.0.1:1");
  std::remove(path.c_str());
  EXPECT_EQ(Request("GET", "/gox-hosttest/v1/phase").second, R"({"events":1,"phase":"ChampSelect"})");
  const GoxHost::JsonValue config =
      Json(Request("GET", "/gox-platform-config/v1/namespaces/Loadouts").second);
  EXPECT_STREQ(config.Get()["LoadoutsServiceUrl"].GetString(), "http://127.0.0.1:1");
  const GoxHost::JsonValue tokens = Json(Request("GET", "/gox-hosttest/v1/tokens?type=EMOTE").second);
  const auto claims =
      GoxTools::VerifyToken(tokens.Get()["EMOTE"].GetString(), GoxTools::TokenSecretFromEnvironment());
  ASSERT_TRUE(std::holds_alternative<GoxHost::JsonValue>(claims));
  EXPECT_EQ(GoxHost::JsonText(std::get<GoxHost::JsonValue>(claims).Get()["items"]), "[42]");
}

TEST_F(FrontDoorTest, OpenApiListsEveryEndpoint) {
  const auto [status, body] = Request("GET", "/openapi.json");
  ASSERT_EQ(status, 200);
  const GoxHost::JsonValue document = Json(body);
  ASSERT_TRUE(document.Get().IsObject());
  EXPECT_STREQ(document.Get()["openapi"].GetString(), "3.0.3");
  const rapidjson::Value& paths = document.Get()["paths"];
  struct Case {
    const char* path;
    const char* method;
  };
  using namespace GoxHostTestModule;
  const Case cases[] = {{kEcho, "get"},  {kFail, "get"},   {kItems, "post"},     {kSleep, "get"},
                        {kPhase, "get"}, {kTokens, "get"}, {kCustomize, "post"}, {kExternal, "get"}};
  std::size_t operations = 0;
  for (const auto& path : paths.GetObject())
    operations += path.value.MemberCount();
  // Every module's endpoints, each operation tagged first with its module, and the admin API's reload.
  EXPECT_EQ(operations, std::size(cases) + 2);
  ASSERT_TRUE(paths.HasMember("/admin/modules/{name}/reload"));
  for (const Case& c : cases) {
    ASSERT_TRUE(paths.HasMember(c.path)) << c.path;
    EXPECT_TRUE(paths[c.path].HasMember(c.method)) << c.path;
    EXPECT_STREQ(paths[c.path][c.method]["tags"][0].GetString(), "gox-hosttest") << c.path;
  }
  ASSERT_TRUE(paths.HasMember(kSignedInventoryPath));
  EXPECT_STREQ(paths[kSignedInventoryPath]["get"]["tags"][0].GetString(), "gox-inventory");
  EXPECT_STREQ(paths[kEcho]["get"]["parameters"][0]["in"].GetString(), "path");
  EXPECT_TRUE(paths[kItems]["post"]["requestBody"]["required"].GetBool());
}

TEST_F(FrontDoorTest, HostileRequestsGetHttpErrorsAndServingGoesOn) {
  const int port = server_->Port();
  struct Case {
    const char* name;
    std::string bytes;
    const char* statusLine;  // the start of the answer; empty: the connection is closed without one
    milliseconds pause;
  };
  const Case cases[] = {
      {"unknown method", "BREW /gox-hosttest/v1/phase HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 405",
       milliseconds(0)},
      {"bad percent-escape", "GET /gox-hosttest/v1/echo/%zz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
       "HTTP/1.1 400", milliseconds(0)},
      {"huge header",
       "GET /gox-hosttest/v1/phase HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n",
       "HTTP/1.1 431", milliseconds(0)},
      {"huge request line", "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n",
       "HTTP/1.1 431", milliseconds(0)},
      {"slow client", "GET /gox-hosttest/v1/phase HTTP/1.1\r\nHo", "", milliseconds(1000)},
      {"declared body over the limit",
       "POST /gox-hosttest/v1/items/1 HTTP/1.1\r\nHost: x\r\nContent-Length: 999999\r\n\r\n", "HTTP/1.1 413",
       milliseconds(0)},
      {"non-UTF-8 path", "GET /gox-hosttest/\xff\xfe HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
       "HTTP/1.1 404", milliseconds(0)},
      {"not HTTP at all", "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", "", milliseconds(0)},
  };
  for (const Case& c : cases) {
    const std::string answer = RawExchange(port, c.bytes, c.pause);
    if (*c.statusLine == '\0') {
      EXPECT_EQ(answer.find("HTTP/1.1 2"), std::string::npos) << c.name << ": " << answer;
    } else {
      EXPECT_TRUE(answer.starts_with(c.statusLine)) << c.name << ": " << answer.substr(0, 200);
      // The body is valid JSON in the failure shape, whatever bytes the request held.
      const std::size_t bodyStart = answer.find("\r\n\r\n");
      ASSERT_NE(bodyStart, std::string::npos) << c.name;
      const GoxHost::JsonValue failure = Json(answer.substr(bodyStart + 4));
      EXPECT_TRUE(failure.Get().IsObject() && failure.Get().HasMember("httpStatus")) << c.name;
    }
    EXPECT_EQ(Request("GET", "/gox-hosttest/v1/echo/1?text=ok").second, R"("1:ok")") << "after " << c.name;
  }
}

TEST_F(FrontDoorTest, OutsideRequestsGoThroughTheTransport) {
  GoxHostTest::LocalHttpServer remote([](httplib::Server& routes) {
    routes.Get("/remote", [](const httplib::Request& request, httplib::Response& response) {
      response.set_content(
          "seen " + request.get_header_value("x-gox-test") + " by " + request.get_header_value("User-Agent"),
          "text/plain");
    });
    routes.Get("/moved", [](const httplib::Request&, httplib::Response& response) {
      response.status = 301;
      response.set_header("Location", "/remote");
    });
  });
  struct Case {
    std::string url;
    const char* answer;
  };
  const std::string refused = "http://127.0.0.1:" + std::to_string(GoxHostTest::UnusedPort()) + "/x";
  const Case cases[] = {
      {remote.Url("/remote"),
       R"j({"body":"seen yes by QuarnClient/18.0.0 (gox-hosttest)","message":"","result":0,"status":200})j"},
      {remote.Url("/moved"), R"({"body":"","message":"","result":0,"status":301})"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Request("GET", "/gox-hosttest/v1/external?url=" + c.url).second, c.answer) << c.url;
  const GoxHost::JsonValue failed = Json(Request("GET", "/gox-hosttest/v1/external?url=" + refused).second);
  EXPECT_EQ(failed.Get()["result"].GetInt(), -1);
  EXPECT_NE(std::string(failed.Get()["message"].GetString()).find("onnect"), std::string::npos);
}

}  // namespace
}  // namespace GoxHostApp
