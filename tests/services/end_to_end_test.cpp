// gox-host and gox-services as a newcomer runs them: both executables started on ephemeral loopback
// ports, gox-host's service URLs pointing at gox-services, every call made over HTTP.

#include <gtest/gtest.h>
#include <httplib.h>

#include <signal.h>
#include "services/service_options.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/json_value.h"
#include "tests/support/child_process.h"
#include "tests/support/temporary_folder.h"

namespace {

using GoxHostTest::ChildProcess;
using std::chrono::milliseconds;

constexpr const char* kServicesReady = "gox-services listening on http://127.0.0.1:";
constexpr const char* kHostReady = "gox-host listening on http://127.0.0.1:";
constexpr const char* kJson = "application/json";
// gox-host gives up on an outside request after this long; the slow fault waits longer.
constexpr int kHostRequestTimeoutMs = 3000;

std::string HostFailure(int status, const std::string& message) {
  GoxHost::JsonValue failure = GoxHost::JsonValue::Parse(R"({"httpStatus":0,"message":""})").value();
  failure.Edit()["httpStatus"].SetInt(status);
  failure.Edit()["message"].SetString(message.c_str(), static_cast<rapidjson::SizeType>(message.size()),
                                      failure.Edit().GetAllocator());
  return failure.Text();
}

// Polls `done` every 20 ms for at most ten seconds.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return done();
}

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    StartServices(0);
    ASSERT_GT(servicesPort_, 0);
    host_ = std::make_unique<ChildProcess>(
        GOX_HOST_PATH,
        std::vector<std::string>{"--listen", "127.0.0.1:0", "--services-url",
                                 "http://127.0.0.1:" + std::to_string(servicesPort_), "--request-timeout-ms",
                                 std::to_string(kHostRequestTimeoutMs), "--connect-timeout-ms", "1000"});
    hostPort_ = GoxHostTest::PortAfter(host_->ReadLine(milliseconds(30000)), kHostReady);
    ASSERT_GT(hostPort_, 0) << host_->ErrorOutput();
    hostClient_ = std::make_unique<httplib::Client>("127.0.0.1", hostPort_);
    hostClient_->set_read_timeout(std::chrono::seconds(20));
  }

  void TearDown() override {
    StopServices();
    if (host_) {
      host_->Signal(SIGTERM);
      EXPECT_EQ(host_->Wait(milliseconds(20000)), 0) << host_->ErrorOutput();
    }
  }

  // Starts gox-services on `port` (0: a free one) over the test's database file.
  void StartServices(int port, const std::vector<std::string>& environment = {}) {
    services_ = std::make_unique<ChildProcess>(
        GOX_SERVICES_PATH,
        std::vector<std::string>{"--listen", "127.0.0.1:" + std::to_string(port), "--db", db_, "--threads",
                                 "8"},
        environment);
    servicesPort_ = GoxHostTest::PortAfter(services_->ReadLine(milliseconds(30000)), kServicesReady);
    ASSERT_GT(servicesPort_, 0) << services_->ErrorOutput();
    servicesClient_ = std::make_unique<httplib::Client>("127.0.0.1", servicesPort_);
    servicesClient_->set_read_timeout(std::chrono::seconds(10));
  }
  void StopServices() {
    if (!services_) return;
    services_->Signal(SIGTERM);
    EXPECT_EQ(services_->Wait(milliseconds(20000)), 0) << services_->ErrorOutput();
    services_.reset();
  }

  httplib::Result Host(const std::string& method, const std::string& path, const std::string& body = "") {
    if (method == "GET") return hostClient_->Get(path);
    if (method == "DELETE") return hostClient_->Delete(path);
    if (method == "PUT") return hostClient_->Put(path, body, kJson);
    return hostClient_->Post(path, body, kJson);
  }
  // Sets the game-flow session through gox-host's admin API.
  void EnterPhase(const char* phase, bool teamBuilder) {
    const std::string session = std::string(R"({"phase":")") + phase +
                                R"(","gameData":{"queue":{"isTeamBuilderManaged":)" +
                                (teamBuilder ? "true" : "false") + "}}}";
    ASSERT_EQ(Host("PUT", "/admin/resources/gox-gameflow/v1/session", session)->status, 200);
  }
  void SetFault(const std::string& json) {
    httplib::Result set = servicesClient_->Put("/admin/fault", json, kJson);
    ASSERT_TRUE(set);
    ASSERT_EQ(set->status, 200) << set->body;
  }
  // Admin changes reach the module as events, handled after the admin call returns: asks until `path`
  // answers `body`.
  void ExpectEventually(const std::string& path, const std::string& body) {
    std::string last;
    EXPECT_TRUE(Eventually([&] {
      httplib::Result result = Host("GET", path);
      last = result ? result->body : "(no answer)";
      return last == body;
    })) << path
        << " answered " << last << ", not " << body;
  }
  // The host still answers a plain call after a fault.
  void ExpectHostServing() {
    httplib::Result enabled = Host("GET", "/gox-loadouts/v1/enabled");
    ASSERT_TRUE(enabled) << "gox-host stopped answering";
    EXPECT_EQ(enabled->status, 200);
  }

  GoxHostTest::TemporaryFolder folder_;
  std::string db_ = folder_.File("loadouts.db");
  std::unique_ptr<ChildProcess> services_;
  std::unique_ptr<ChildProcess> host_;
  std::unique_ptr<httplib::Client> servicesClient_;
  std::unique_ptr<httplib::Client> hostClient_;
  int servicesPort_ = 0;
  int hostPort_ = 0;
};

TEST_F(EndToEndTest, AllFiveEndpointsStoreReadAndDeleteThroughTheServices) {
  httplib::Result inventory = Host("GET", "/gox-loadouts/v1/inventory?inventoryTypes=%5B%22EMOTE%22%5D");
  ASSERT_EQ(inventory->status, 200) << inventory->body;
  EXPECT_EQ(GoxHost::JsonValue::Parse(inventory->body),
            GoxHost::JsonValue::Parse(R"({"entitlements":[{"inventoryType":"EMOTE","itemId":10},)"
                                      R"({"inventoryType":"EMOTE","itemId":11}]})"));
  EXPECT_EQ(Host("GET", "/gox-loadouts/v1/inventory?inventoryTypes.0=COMPANION")->body,
            R"({"entitlements":[{"inventoryType":"COMPANION","itemId":100}]})");

  httplib::Result stored = Host("POST", "/gox-loadouts/v2/items/1", R"({"EMOTE":[10],"BANNER":[2,3]})");
  ASSERT_EQ(stored->status, 204) << stored->body;
  EXPECT_EQ(Host("GET", "/gox-loadouts/v2/items/1/EMOTE")->body, "[10]");
  EXPECT_EQ(Host("GET", "/gox-loadouts/v2/items/1/BANNER")->body, "[2,3]");
  EXPECT_EQ(Host("GET", "/gox-loadouts/v2/items/2/EMOTE")->status, 204);

  httplib::Result sent = Host("POST", "/gox-loadouts/v1/sendItemsToDuviRidaze/1");
  ASSERT_EQ(sent->status, 204) << sent->body;
  const GoxHost::JsonValue calls =
      GoxHost::JsonValue::Parse(Host("GET", "/admin/game-customization")->body).value();
  ASSERT_EQ(calls.Get().Size(), 2u);  // one signed item per stored type
  for (const auto& call : calls.Get().GetArray()) {
    EXPECT_TRUE(call["accepted"].GetBool()) << GoxHost::JsonText(call);
    EXPECT_EQ(call["claims"]["loadoutId"].GetUint(), 1u);
  }

  httplib::Result removed = Host("DELETE", "/gox-loadouts/v2/items/1?inventoryType=EMOTE");
  ASSERT_EQ(removed->status, 204) << removed->body;
  EXPECT_EQ(Host("GET", "/gox-loadouts/v2/items/1/EMOTE")->status, 204);
  EXPECT_EQ(Host("GET", "/gox-loadouts/v2/items/1/BANNER")->body, "[2,3]");
}

TEST_F(EndToEndTest, AnItemNotOwnedIsRefusedWithTheServicesMessage) {
  httplib::Result refused = Host("POST", "/gox-loadouts/v2/items/1", R"({"EMOTE":[10,99]})");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 500);
  EXPECT_EQ(
      refused->body,
      HostFailure(
          500,
          R"(Error setting items with service: {"httpStatus":403,"message":"item 99 of EMOTE is not owned"})"));
  EXPECT_EQ(Host("GET", "/gox-loadouts/v2/items/1/EMOTE")->status, 204);
}

TEST_F(EndToEndTest, EnteringChampionSelectInjectsLoadoutOneForBothQueueKinds) {
  ASSERT_EQ(Host("POST", "/gox-loadouts/v2/items/1", R"({"EMOTE":[11],"COMPANION":[100]})")->status, 204);

  // Watch the events while the phases change.
  std::mutex mutex;
  std::string events;
  std::atomic<bool> watching = true;
  std::thread watcher([&] {
    httplib::Client client("127.0.0.1", hostPort_);
    client.set_read_timeout(std::chrono::seconds(15));
    (void)client.Get("/events", [&](const char* data, std::size_t length) {
      const std::lock_guard lock(mutex);
      events.append(data, length);
      return watching.load();
    });
  });
  const auto eventsSoFar = [&] {
    const std::lock_guard lock(mutex);
    return events;
  };

  EnterPhase("ChampSelect", true);
  ASSERT_TRUE(Eventually([&] {
    const auto calls = GoxHost::JsonValue::Parse(Host("GET", "/admin/game-customization")->body);
    return calls && calls->Get().IsArray() && calls->Get().Size() == 2;
  })) << Host("GET", "/admin/game-customization")->body;
  const GoxHost::JsonValue calls =
      GoxHost::JsonValue::Parse(Host("GET", "/admin/game-customization")->body).value();
  std::vector<std::string> injected;
  for (const auto& call : calls.Get().GetArray()) {
    ASSERT_TRUE(call["accepted"].GetBool()) << GoxHost::JsonText(call);
    injected.push_back(std::string(call["claims"]["inventoryType"].GetString()) + "=" +
                       GoxHost::JsonText(call["claims"]["items"]));
  }
  std::sort(injected.begin(), injected.end());
  EXPECT_EQ(injected, (std::vector<std::string>{"COMPANION=[100]", "EMOTE=[11]"}));

  // Back to the lobby, then a queue that the team builder does not manage: the loadouts service sets
  // the customization itself.
  EnterPhase("Lobby", false);
  EnterPhase("ChampSelect", false);
  ASSERT_TRUE(Eventually([&] { return servicesClient_->Get("/admin/game-customization")->body != "[]"; }));
  EXPECT_EQ(
      GoxHost::JsonValue::Parse(servicesClient_->Get("/admin/game-customization")->body),
      GoxHost::JsonValue::Parse(R"([{"puuid":"00000000-0000-4000-8000-000000000001","location":"local1",)"
                                R"("accountId":1001,"id":1,"inventoryTypes":["BANNER","EMOTE","COMPANION"],)"
                                R"("items":{"COMPANION":[100],"EMOTE":[11]}}])"));

  EXPECT_TRUE(Eventually([&] {
    const std::string seen = eventsSoFar();
    return seen.find(R"("uri":"/gox-gameflow/v1/session")") != std::string::npos &&
           seen.find("ChampSelect") != std::string::npos && seen.find("Lobby") != std::string::npos;
  })) << eventsSoFar();
  watching = false;
  // The stream ends at its next chunk; one more event brings it.
  EnterPhase("Lobby", false);
  watcher.join();
  // Each event is one line "data: {JSON}".
  const std::string seen = eventsSoFar();
  const std::size_t champSelect = seen.find("ChampSelect");
  const std::size_t lineStart = seen.rfind('\n', champSelect) + 1;
  ASSERT_EQ(seen.compare(lineStart, 6, "data: "), 0) << seen;
  const auto event =
      GoxHost::JsonValue::Parse(seen.substr(lineStart + 6, seen.find('\n', champSelect) - lineStart - 6));
  ASSERT_TRUE(event.has_value()) << seen;
  EXPECT_EQ(std::string(event->Get()["uri"].GetString()), "/gox-gameflow/v1/session");
  EXPECT_EQ(std::string(event->Get()["eventType"].GetString()), "Update");
}

TEST_F(EndToEndTest, LoadoutsSurviveARestartOfTheServicesOnTheSameDatabase) {
  ASSERT_EQ(Host("POST", "/gox-loadouts/v2/items/5", R"({"BANNER":[1]})")->status, 204);
  const int port = servicesPort_;
  StopServices();
  StartServices(port);
  ASSERT_EQ(servicesPort_, port);
  EXPECT_EQ(Host("GET", "/gox-loadouts/v2/items/5/BANNER")->body, "[1]");
}

TEST_F(EndToEndTest, FaultsReachTheCallerWithThePluginsMessageAndTheHostKeepsServing) {
  ASSERT_EQ(Host("POST", "/gox-loadouts/v2/items/1", R"({"EMOTE":[10]})")->status, 204);
  const std::string read = "/gox-loadouts/v2/items/1/EMOTE";
  const std::string inventory = "/gox-loadouts/v1/inventory?inventoryTypes=";

  struct Case {
    const char* fault;
    std::string path;
    std::string message;
  };
  const Case cases[] = {
      {R"({"mode":"error","status":500,"body":"service exploded"})", read,
       "Error fetching items from service: service exploded"},
      {R"({"mode":"malformed"})", read, R"(Couldn't deserialize items response: {"data": {"puuid": "cut sh)"},
      {R"({"mode":"malformed"})", inventory,
       R"(Couldn't deserialize inventory response: {"data": {"puuid": "cut sh)"},
      {R"({"mode":"close"})", read, "Error fetching items from service: "},
      {R"({"mode":"slow","delayMs":4000})", read, "Error fetching items from service: "},
  };
  for (const Case& c : cases) {
    SetFault(c.fault);
    httplib::Result failed = Host("GET", c.path);
    ASSERT_TRUE(failed) << c.fault;
    EXPECT_EQ(failed->status, 500) << c.fault;
    EXPECT_EQ(failed->body, HostFailure(500, c.message)) << c.fault;
    ASSERT_EQ(servicesClient_->Delete("/admin/fault")->status, 204);
    ExpectHostServing();
    EXPECT_EQ(Host("GET", read)->body, "[10]") << "after " << c.fault;
  }

  // The access token gone: the services see no bearer token.
  const std::string tokenPath = "/admin/resources/bxo-auth/v1/authorization/access-token";
  const std::string token = Host("GET", tokenPath)->body;
  ASSERT_EQ(Host("DELETE", tokenPath)->status, 200);
  ExpectEventually(read, HostFailure(500, R"(Error fetching items from service: {"httpStatus":401,)"
                                          R"("message":"an Authorization: Bearer token is required"})"));
  ASSERT_EQ(Host("PUT", tokenPath, token)->status, 200);
  ExpectEventually(read, "[10]");

  // Switched off at run time.
  const std::string configPath = "/admin/resources/gox-platform-config/v1/namespaces/Loadouts";
  const std::string config = Host("GET", configPath)->body;
  ASSERT_EQ(Host("PUT", configPath, R"({"InventoryServiceUrl":"x","LoadoutsServiceUrl":"x","Enabled":false})")
                ->status,
            200);
  ExpectEventually(read, HostFailure(503, "Loadouts not enabled"));
  EXPECT_EQ(Host("GET", read)->status, 503);
  ASSERT_EQ(Host("PUT", configPath, config)->status, 200);
  ExpectEventually(read, "[10]");

  // Service down: nothing listens on its port.
  const int port = servicesPort_;
  StopServices();
  httplib::Result down = Host("GET", read);
  ASSERT_TRUE(down);
  EXPECT_EQ(down->status, 500);
  EXPECT_EQ(down->body, HostFailure(500, "Error fetching items from service: "));
  ExpectHostServing();

  // Tokens signed with another secret than the services': forged, as far as they can tell.
  StartServices(port, {"GOX_TOKEN_SECRET=not-the-hosts-secret"});
  EXPECT_EQ(
      Host("GET", read)->body,
      HostFailure(
          500,
          R"(Error fetching items from service: {"httpStatus":403,"message":"inventory token refused: token signature does not match"})"));
  StopServices();
  StartServices(port);
  EXPECT_EQ(Host("GET", read)->body, "[10]");
}

}  // namespace

namespace GoxServices {
namespace {

// A body at the front door's limit grows several times on its way to gox-services (pretty-printed,
// tokens added); it must be stored, not refused there and turned into a 500.
TEST_F(EndToEndTest, ABodyAtTheFrontDoorsLimitIsStoredEndToEnd) {
  const std::string head = R"({"EMOTE":[)";
  std::string body = head + "10";
  while (body.size() + 5 < kFrontDoorBodyLimit)
    body += ",10";
  body += "]}";
  ASSERT_LE(body.size(), kFrontDoorBodyLimit);
  httplib::Result stored = Host("POST", "/gox-loadouts/v2/items/4", body);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->status, 204) << stored->body.substr(0, 300);
  httplib::Result read = Host("GET", "/gox-loadouts/v2/items/4/EMOTE");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->body.size(), body.size() - std::string(R"({"EMOTE":})").size());  // the array alone
  // One byte past the limit is the front door's own 413, in the failure shape.
  httplib::Result over = Host("POST", "/gox-loadouts/v2/items/4", std::string(kFrontDoorBodyLimit + 1, ' '));
  ASSERT_TRUE(over);
  EXPECT_EQ(over->status, 413);
  EXPECT_NE(over->body.find("\"httpStatus\":413"), std::string::npos);
}

}  // namespace
}  // namespace GoxServices
