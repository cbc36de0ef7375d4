#include "tests/support/loadouts_fixture.h"

#include "loadouts/service_client.h"
#include "loadouts/upstream_subscriptions.h"

namespace Quarn::LoadoutsTest {

using namespace Client::Loadouts;

namespace {

GoxHost::JsonValue Json(const std::string& text) {
  std::optional<GoxHost::JsonValue> value = GoxHost::JsonValue::Parse(text);
  EXPECT_TRUE(value.has_value()) << text;
  return value.value_or(GoxHost::JsonValue());
}

std::vector<std::string> LinesAt(const GoxHost::HostCore& host, std::int32_t level) {
  std::vector<std::string> lines;
  for (const GoxHost::LogLine& line : host.LogLines())
    if (line.level == level) lines.push_back(line.message);
  return lines;
}

}  // namespace

std::uint32_t LoadoutsEntry(PluginRegistration* registration) {
  return LoadPlugin<LoadoutsPlugin>(registration, "gox-loadouts");
}

std::string ConfigurationJson(const std::string& enabledJson) {
  return std::string(R"({"InventoryServiceUrl":")") + kInventoryBase + R"(","LoadoutsServiceUrl":")" +
         kLoadoutsBase + R"(","Enabled":)" + enabledJson + "}";
}

std::string GameflowJson(const std::string& phase, bool teamBuilderManaged) {
  return R"({"phase":")" + phase + R"(","gameData":{"queue":{"isTeamBuilderManaged":)" +
         (teamBuilderManaged ? "true" : "false") + "}}}";
}

LoadoutsFixture::LoadoutsFixture() {
  Set(kLoginSessionPath,
      std::string(R"({"state":"SUCCEEDED","summonerId":11,"accountId":22,"idToken":"id","puuid":")") +
          kPuuid + R"(","gasToken":{"a":1}})");
  Set(kAccessTokenPath, std::string(R"({"token":")") + kToken + R"(","scopes":["s"],"expiry":5})");
  Set(kRegionLocalePath, R"({"region":"EUW","locale":"en_GB"})");
  Set(kPreferencesReadyPath, "true");
  Set(kConfigurationPath, ConfigurationJson());
  Set(kValidInventoryTypesPath, R"(["A","B"])");
  Set(kGameflowSessionPath, GameflowJson("Lobby", false));
  host_.AddProvider({kRegionDataPath, kHttpMethodGet}, [this](const GoxHost::ProviderRequest&) {
    if (regionDataFails) return GoxHost::ProviderAnswer::Error(500, "region data unavailable");
    // NA has servers but no location; KR has no servers; "1.500000" is the text form of the number 1.5.
    return GoxHost::ProviderAnswer::Ok(
        Json(std::string(R"({"EUW":{"servers":{"trovix_service_location":")") + kLocation +
             R"("}},"NA":{"servers":{}},"KR":{"locale":"ko_KR"},)" +
             R"("1.500000":{"servers":{"trovix_service_location":"loc-float"}}})"));
  });
  host_.AddProvider({kSignedInventoryPath, kHttpMethodGet}, [this](const GoxHost::ProviderRequest& request) {
    const GoxHost::JsonValue none;
    const rapidjson::Value& types =
        request.positional.empty() ? none.Get() : request.positional.front().Get();
    signedRequests.push_back(GoxHost::JsonText(types));
    if (signedFailure) return GoxHost::ProviderAnswer::Error(500, *signedFailure);
    if (signedOverride) return GoxHost::ProviderAnswer::Ok(Json(*signedOverride));
    GoxHost::JsonValue answer = Json("{}");
    if (types.IsArray()) {
      for (const rapidjson::Value& type : types.GetArray()) {
        const std::string name = type.IsString() ? type.GetString() : "?";
        const std::string token = "jwt-" + name;
        answer.Edit().AddMember(rapidjson::Value(name.c_str(), answer.Edit().GetAllocator()),
                                rapidjson::Value(token.c_str(), answer.Edit().GetAllocator()),
                                answer.Edit().GetAllocator());
      }
    }
    return GoxHost::ProviderAnswer::Ok(std::move(answer));
  });
  host_.SetService([this](const GoxHost::ServiceCall& call) {
    const std::size_t index = host_.ServiceProxy().Calls().size() - 1;
    GoxHost::ServiceAnswer answer;
    answer.payload = "{}";
    if (index < serviceAnswers.size()) answer = serviceAnswers[index];
    (void)call;
    return answer;
  });
  host_.SetTransport(transport_);
}

void LoadoutsFixture::TearDown() {
  host_.Shutdown();
  EXPECT_EQ(host_.Problems(), std::vector<std::string>());
  EXPECT_EQ(host_.OutstandingResponses(), 0u);
}

LoadoutsPlugin& LoadoutsFixture::Start() {
  EXPECT_EQ(host_.Load(&LoadoutsEntry), GoxHost::LoadStatus::kLoaded);
  EXPECT_TRUE(host_.Initialize());
  ClearRecords();
  return Plugin();
}

void LoadoutsFixture::StartModule(const std::string& libraryPath) {
  EXPECT_EQ(host_.Load(libraryPath), GoxHost::LoadStatus::kLoaded) << host_.LoadError();
  EXPECT_TRUE(host_.Initialize());
  ClearRecords();
}

void LoadoutsFixture::ClearRecords() {
  host_.ClearRecords();
  transport_->ClearCalls();
  signedRequests.clear();
}

LoadoutsPlugin& LoadoutsFixture::Plugin() const {
  return *static_cast<LoadoutsPlugin*>(host_.LastHandshake().record.plugin);
}

void LoadoutsFixture::Set(const std::string& path, const std::string& json) {
  host_.SetResource(path, Json(json));
}

void LoadoutsFixture::Publish(const std::string& path, const std::string& json) {
  host_.PublishResource(path, Json(json));
  host_.DeliverPendingEvents();
}

void LoadoutsFixture::Delete(const std::string& path) {
  host_.DeleteResource(path);
  host_.DeliverPendingEvents();
}

GoxHost::CallResponse LoadoutsFixture::Call(const char* route, std::uint32_t method, const std::string& path,
                                            const std::string& body) {
  GoxHost::CallRequest request;
  request.method = method;
  request.path = path;
  request.body = body;
  if (!body.empty()) request.contentType = "application/json";
  return host_.Call(route, method, request);
}

std::vector<std::string> LoadoutsFixture::Errors() const {
  return LinesAt(host_, 2);
}

std::vector<std::string> LoadoutsFixture::OkayLines() const {
  return LinesAt(host_, 0);
}

std::vector<std::string> LoadoutsFixture::Published() const {
  std::vector<std::string> events;
  for (const GoxHost::SentEvent& event : host_.SentEvents()) {
    if (event.name != "OnJsonApiEvent") continue;
    const rapidjson::Value& payload = event.payload.Get();
    if (!payload.IsObject() || !payload.HasMember("uri") || !payload.HasMember("eventType")) {
      events.push_back("unreadable " + event.payload.Text());
      continue;
    }
    const rapidjson::Value& type = payload["eventType"];
    const rapidjson::Value& uri = payload["uri"];
    std::string line = (type.IsString() ? type.GetString() : GoxHost::JsonText(type)) + " " +
                       (uri.IsString() ? uri.GetString() : GoxHost::JsonText(uri));
    if (payload.HasMember("data")) line += " " + GoxHost::JsonText(payload["data"]);
    events.push_back(line);
  }
  return events;
}

std::vector<std::string> LoadoutsFixture::Requests() const {
  std::vector<std::string> requests;
  for (const GoxHost::ExternalCall& call : transport_->Calls())
    requests.push_back(GoxHost::MethodName(call.method) + " " + call.url);
  return requests;
}

}  // namespace Quarn::LoadoutsTest
