// Reloading a module of gox-host while it serves: in-process over real HTTP on loopback, with relay a
// loaded from a file the tests copy new builds over, and relay b beside it.

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/json_value.h"
#include "tests/support/temporary_folder.h"
#include "tools/gox_host/host_server.h"

namespace GoxHostApp {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ModuleReloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    Put(GOX_RELAY_A_PATH);
  }
  void TearDown() override {
    if (server_) server_->Stop();
    if (log_ != nullptr) std::fclose(log_);
  }

  void Start(bool watch = false) {
    HostServerOptions options;
    options.modulePaths = {path_, GOX_RELAY_B_PATH};
    options.frontDoor.port = 0;
    options.frontDoor.callTimeout = seconds(10);
    options.watch = watch;
    options.watcher.interval = milliseconds(50);
    options.watcher.settle = milliseconds(1000);
    log_ = std::tmpfile();
    hostLog_ = std::make_unique<HostLog>(log_);
    server_ = std::make_unique<HostServer>(options, *hostLog_);
    ASSERT_EQ(server_->Start(), std::nullopt);
  }

  void Put(const std::string& source) {
    std::filesystem::copy_file(source, path_, std::filesystem::copy_options::overwrite_existing);
  }

  std::unique_ptr<httplib::Client> Client() const {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", server_->Port());
    client->set_connection_timeout(seconds(2));
    client->set_read_timeout(seconds(15));
    return client;
  }
  std::pair<int, std::string> Get(const std::string& path) {
    httplib::Result result = Client()->Get(path.c_str());
    return result ? std::pair(result->status, result->body) : std::pair(0, std::string());
  }
  std::pair<int, GoxHost::JsonValue> Reload(const std::string& name = "gox-relay-a") {
    httplib::Result result =
        Client()->Post(("/admin/modules/" + name + "/reload").c_str(), "", "application/json");
    if (!result) return {0, {}};
    return {result->status, GoxHost::JsonValue::Parse(result->body).value_or(GoxHost::JsonValue())};
  }
  std::string Log() {
    std::string lines;
    for (const std::string& line : hostLog_->Tail())
      lines += line + "\n";
    return lines;
  }
  std::uint32_t Loads() {
    const auto [status, body] = Get("/admin/modules");
    const auto modules = GoxHost::JsonValue::Parse(body);
    if (status != 200 || !modules || !modules->Get().IsArray()) return 0;
    for (const auto& module : modules->Get().GetArray())
      if (std::string_view(module["name"].GetString()) == "gox-relay-a") return module["loads"].GetUint();
    return 0;
  }

  GoxHostTest::TemporaryFolder folder_;
  std::string path_ = folder_.File("libgox_relay_a.so");
  std::FILE* log_ = nullptr;
  std::unique_ptr<HostLog> hostLog_;
  std::unique_ptr<HostServer> server_;
};

// Clients call both modules throughout two reloads (a new build, then a broken file): every call gets
// a proper answer, never one from a module that is not fully started, and once a client has seen the
// new build it never sees the old one again.
TEST_F(ModuleReloadTest, CallsInFlightAreAllAnsweredAcrossReloads) {
  Start();
  constexpr int kClients = 4;
  constexpr int kMaxCallsPerClient = 3000;
  std::atomic<bool> stop = false;
  std::atomic<int> calls = 0;
  std::atomic<int> sawNew = 0;
  std::vector<std::string> faults(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i)
    clients.emplace_back([&, i] {
      auto client = Client();
      int generation = 1;
      const auto deadline = std::chrono::steady_clock::now() + seconds(30);
      for (int n = 0; n < kMaxCallsPerClient && !stop && std::chrono::steady_clock::now() < deadline; ++n) {
        const char* path = n % 3 == 0   ? "/gox-relay-a/v1/generation"
                           : n % 3 == 1 ? "/gox-relay-a/v1/seen"
                                        : "/gox-relay-b/v1/ask/gox-relay-a";
        httplib::Result result = client->Get(path);
        ++calls;
        if (!result || result->status != 200) {
          faults[i] = std::string(path) + " -> " +
                      (result ? std::to_string(result->status) + " " + result->body
                              : httplib::to_string(result.error()));
          return;
        }
        if (n % 3 == 0) {
          const int seen = std::stoi(result->body);
          if (seen < generation) faults[i] = "the old build answered after the new one";
          if (seen == 2 && generation == 1) ++sawNew;
          generation = seen;
        } else if (n % 3 == 1 &&
                   (result->body.find("/gox-relay-a/v1/value=gox-relay-a-start") == std::string::npos ||
                    result->body.find("/gox-relay-b/v1/value=gox-relay-b-start") == std::string::npos)) {
          faults[i] = "answered by a module that had not finished starting: " + result->body;
          return;
        }
      }
    });
  const auto waitFor = [&](const std::function<bool()>& condition) {
    for (int i = 0; i < 3000 && !condition(); ++i)
      std::this_thread::sleep_for(milliseconds(10));
    return condition();
  };
  ASSERT_TRUE(waitFor([&] { return calls.load() > 50; }));
  Put(GOX_RELAY_A_NEXT_PATH);
  const auto [status, answer] = Reload();
  EXPECT_EQ(status, 200) << answer.Text();
  EXPECT_TRUE(waitFor([&] { return sawNew.load() == kClients; })) << sawNew.load();

  std::ofstream(path_, std::ios::binary | std::ios::trunc) << std::string(8192, '\x7f');
  const int before = calls.load();
  const auto [brokenStatus, brokenAnswer] = Reload();
  EXPECT_EQ(brokenStatus, 422) << brokenAnswer.Text();
  EXPECT_TRUE(waitFor([&] { return calls.load() > before + 50; }));
  stop = true;
  for (std::thread& client : clients)
    client.join();
  for (const std::string& fault : faults)
    EXPECT_EQ(fault, "");
  EXPECT_EQ(Get("/gox-relay-a/v1/generation"), std::pair(200, std::string("2")));
  EXPECT_EQ(Loads(), 2u);
}

TEST_F(ModuleReloadTest, EachOutcomeIsAnsweredLoggedAndLeavesAModuleServing) {
  Start();
  ASSERT_EQ(Client()->Post("/gox-relay-a/v1/state/5", "", "application/json")->status, 204);
  struct Case {
    const char* what;
    std::function<void()> prepare;
    int status;
    const char* outcome;
    const char* said;
    const char* state;  // relay a's counter afterwards: kept (5) or started afresh (0)
  };
  const Case cases[] = {
      {"missing", [&] { std::filesystem::remove(path_); }, 422, "no-library", "No such file", "5"},
      {"truncated",
       [&] { std::ofstream(path_, std::ios::binary) << ReadBytes(GOX_RELAY_A_NEXT_PATH).substr(0, 2000); },
       422, "no-library", "libgox_relay_a.so", "5"},
      {"without the entry", [&] { Put(GOX_RELAY_B_PATH); }, 422, "no-library",
       "no entry named load_gox_relay_a", "5"},
      {"a route of b", [&] { Put(GOX_RELAY_A_CLAIMING_PATH); }, 422, "conflict", "GET /gox-relay-b/v1/state",
       "5"},
      {"fails to start", [&] { Put(GOX_RELAY_A_REFUSING_PATH); }, 500, "not-started",
       "Initialize answered failure", "0"},
  };
  for (const Case& c : cases) {
    c.prepare();
    const auto [status, answer] = Reload();
    EXPECT_EQ(status, c.status) << c.what << ": " << answer.Text();
    ASSERT_TRUE(answer.Get().IsObject()) << c.what;
    EXPECT_EQ(std::string(answer.Get()["outcome"].GetString()), c.outcome) << c.what;
    EXPECT_NE(std::string(answer.Get()["message"].GetString()).find(c.said), std::string::npos)
        << answer.Text();
    EXPECT_TRUE(answer.Get()["serving"].GetBool()) << c.what;
    EXPECT_NE(Log().find("reload of gox-relay-a"), std::string::npos) << c.what;
    EXPECT_EQ(Get("/gox-relay-a/v1/state"), std::pair(200, std::string(c.state))) << c.what;
    EXPECT_EQ(Get("/gox-relay-a/v1/generation"), std::pair(200, std::string("1"))) << c.what;
  }
  EXPECT_EQ(Reload("gox-nobody").first, 404);
  EXPECT_EQ(Get("/admin/modules/gox-relay-a/reload").first, 405);
  Put(GOX_RELAY_A_NEXT_PATH);
  const auto [status, answer] = Reload();
  EXPECT_EQ(status, 200) << answer.Text();
  EXPECT_TRUE(answer.Get()["reloaded"].GetBool());
  EXPECT_EQ(answer.Get()["loads"].GetUint(), 3u);  // the first load, the restart after "fails to start", this
  EXPECT_NE(Log().find("reloaded gox-relay-a from " + path_), std::string::npos) << Log();
  EXPECT_EQ(Get("/gox-relay-a/v1/generation"), std::pair(200, std::string("2")));
}

// A file written in several steps while --watch is on gives one reload, of the finished file.
TEST_F(ModuleReloadTest, WatchReloadsOnceWhenTheFileHasSettled) {
  Start(true);
  const std::string bytes = ReadBytes(GOX_RELAY_A_NEXT_PATH);
  {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    for (std::size_t part = 0; part < 4; ++part) {
      out << bytes.substr(part * bytes.size() / 4, (part + 1) * bytes.size() / 4 - part * bytes.size() / 4);
      out.flush();
      std::this_thread::sleep_for(milliseconds(50));
    }
  }
  // The log line comes last: the module list shows the new load as soon as it serves.
  for (int i = 0; i < 1000 && Log().find("; --watch)") == std::string::npos; ++i)
    std::this_thread::sleep_for(milliseconds(10));
  EXPECT_EQ(Loads(), 2u);
  EXPECT_EQ(Get("/gox-relay-a/v1/generation"), std::pair(200, std::string("2")));
  const std::string log = Log();
  EXPECT_NE(log.find("(load 2; --watch)"), std::string::npos) << log;
  EXPECT_EQ(log.find("reload of gox-relay-a"), std::string::npos) << log;  // no attempt on a partial file
}

}  // namespace
}  // namespace GoxHostApp
