#include "sdk/host/host_requests.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sdk/async/host_entry.h"
#include "sdk/host/telemetry_sender.h"
#include "tests/support/bridge_fixture.h"

namespace Quarn {
namespace BridgeTest {

// A structure no registry knows: it cannot be sent.
struct Unregistered {
  std::int32_t value = 0;
};

}  // namespace BridgeTest

template <>
struct TypeTraits<BridgeTest::Unregistered> : StructTypeTraits<0x0BAD7E57> {};

namespace BridgeTest {
namespace {

using GoxHost::JsonValue;
using GoxHost::ProviderAnswer;
using GoxHost::StreamChunk;

constexpr const char* kPath = "/gox-other/v1/thing";

std::string FieldText(const Failure& failure, const char* name) {
  const auto found = failure.Fields().find(name);
  if (found == failure.Fields().end()) return "<none>";
  const auto* text = std::get_if<std::string>(&found->second);
  return text != nullptr ? *text : "<not text>";
}

ProviderAnswer Streamed(std::string text, std::vector<StreamChunk> chunks) {
  ProviderAnswer answer = ProviderAnswer::Ok(JsonValue::String(text));
  answer.stream = std::move(chunks);
  return answer;
}

class HostRequestsTest : public BridgeFixture {
 protected:
  // Serves kPath with `answer` and returns what the plugin made of a GET for a Gadget.
  MaybeType<Gadget> GetGadget(BridgeTestPlugin& plugin, ProviderAnswer answer) {
    host_.AddProvider({kPath, kHttpMethodAny, false},
                      [answer](const GoxHost::ProviderRequest&) { return answer; });
    return plugin.SendRequest<Gadget>(kHttpMethodGet, kPath);
  }
};

TEST_F(HostRequestsTest, FailuresNameTheRequestAndCarryTheHostsStatus) {
  BridgeTestPlugin& plugin = Start();
  ProviderAnswer badStream = Streamed("{}", {StreamChunk{0, false, true}});
  ProviderAnswer notJson = Streamed("", {});
  notJson.body = JsonValue::Parse(R"("x")").value();
  notJson.stream = std::vector<StreamChunk>{StreamChunk{2, false, false}};  // a truncated text
  struct Case {
    const char* label;
    ProviderAnswer answer;
    std::int32_t code;
    std::string message;
  };
  const Case cases[] = {
      {"host error", ProviderAnswer::Error(404, "no such thing"), 404,
       "Error response for GET /gox-other/v1/thing: no such thing"},
      {"wrong body", ProviderAnswer::Ok(JsonValue::String("text")), 0,
       "Error converting response for GET /gox-other/v1/thing: "},
      {"read fails", badStream, 0,
       "Error reading streamed response for GET /gox-other/v1/thing: Stream read error"},
      {"bad JSON", notJson, 0, "Error reading streamed response for GET /gox-other/v1/thing: Error: "},
  };
  for (const Case& c : cases) {
    host_.ClearRecords();
    MaybeType<Gadget> result = GetGadget(plugin, c.answer);
    ASSERT_TRUE(result.HasFailure()) << c.label;
    const Failure& failure = result.GetFailure();
    EXPECT_EQ(failure.Code(), c.code) << c.label;
    EXPECT_TRUE(failure.Message().starts_with(c.message)) << failure.Message();
    EXPECT_EQ(FieldText(failure, "method"), "GET");
    EXPECT_EQ(FieldText(failure, "url"), kPath);
    EXPECT_TRUE(failure.Message().ends_with(FieldText(failure, "error"))) << c.label;
    EXPECT_EQ(host_.CallEntries().back(), "response.release") << c.label;
  }
}

TEST_F(HostRequestsTest, UnconvertibleParameterIsNotSent) {
  BridgeTestPlugin& plugin = Start();
  MaybeType<> result = plugin.SendRequest(kHttpMethodPost, kPath, std::string("first"), Unregistered{});
  ASSERT_TRUE(result.HasFailure());
  EXPECT_EQ(result.GetFailure().Code(), 400);
  EXPECT_TRUE(result.GetFailure().Message().starts_with(
      "Request not sent: Error converting parameters for POST /gox-other/v1/thing: "))
      << result.GetFailure().Message();
  EXPECT_EQ(FieldText(result.GetFailure(), "method"), "POST");
  EXPECT_TRUE(host_.Calls().empty());
}

// A tree deeper than a host value may be: converting it to a BindingProperty works, writing it as a host
// value does not.
BindingProperty TooDeep() {
  BindingProperty deep;
  BindingProperty* at = &deep;
  for (int i = 0; i < 600; ++i)
    at = &at->Element(0);
  return deep;
}

TEST_F(HostRequestsTest, HostValueRefusalCarriesItsOwnMessage) {
  BridgeTestPlugin& plugin = Start();
  MaybeType<> request = plugin.SendRequest(kHttpMethodPost, kPath, TooDeep());
  ASSERT_TRUE(request.HasFailure());
  EXPECT_EQ(request.GetFailure().Message(),
            "Request not sent: Error converting parameters for POST /gox-other/v1/thing: The value is nested "
            "deeper than 512 levels.");
  EXPECT_EQ(FieldText(request.GetFailure(), "error"), "The value is nested deeper than 512 levels.");

  PluginResourceEvent event;
  event.uri = "/gox-test/v1/deep";
  event.data = TooDeep();
  MaybeType<> sent = plugin.SendResourceEvent("OnJsonApiEvent", event, 0);
  ASSERT_TRUE(sent.HasFailure());
  EXPECT_EQ(sent.GetFailure().Message(), "The value is nested deeper than 512 levels.");
  EXPECT_TRUE(host_.Calls().empty());
}

TEST_F(HostRequestsTest, MethodCodesOutsideTheKnownOnesTravelAsZero) {
  BridgeTestPlugin& plugin = Start();
  std::vector<std::uint32_t> internal;
  host_.AddProvider({kPath, kHttpMethodAny, false}, [&](const GoxHost::ProviderRequest& request) {
    internal.push_back(request.method);
    return ProviderAnswer::Ok(JsonValue{});
  });
  auto transport = std::make_shared<GoxHost::ScriptedTransport>();
  host_.SetTransport(transport);
  const std::uint32_t given[] = {0, 1, 7, 8, 9, 42, 0xFFFFFFFF};
  const std::vector<std::uint32_t> expected = {0, 1, 7, 8, 0, 0, 0};
  std::vector<std::uint32_t> external;
  for (const std::uint32_t method : given) {
    EXPECT_TRUE(plugin.SendRequest(method, kPath).Ok()) << method;
    transport->Answer({0, 200, {}, ""});
    ExternalRequest request;
    request.method = method;
    request.url = "https://example.test/m";
    (void)plugin.SendExternalRequest(request);
    external.push_back(transport->Calls().back().method);
  }
  EXPECT_EQ(internal, expected);
  EXPECT_EQ(external, expected);
}

TEST_F(HostRequestsTest, ParametersTravelInOrderAndTheAnswerConverts) {
  BridgeTestPlugin& plugin = Start();
  std::vector<std::string> received;
  host_.AddProvider({kPath, kHttpMethodPost, false}, [&](const GoxHost::ProviderRequest& request) {
    for (const JsonValue& value : request.positional)
      received.push_back(value.Text());
    return ProviderAnswer::Ok(JsonValue::Parse(R"({"name":"g","count":3,"shade":"Dark"})").value());
  });
  MaybeType<Gadget> result =
      plugin.SendRequest<Gadget>(kHttpMethodPost, kPath, std::string("a"), 7u, Gadget{"in", 1, Shade::Dark});
  ASSERT_TRUE(result.Ok()) << result.GetFailure().Message();
  EXPECT_EQ(result.Value().count, 3);
  EXPECT_EQ(result.Value().shade, Shade::Dark);
  EXPECT_EQ(received, std::vector<std::string>({R"("a")", "7", R"({"count":1,"name":"in","shade":"Dark"})"}));
}

TEST_F(HostRequestsTest, StreamedBodiesYieldOnlyAfterAShortChunkThatSaysMoreFollows) {
  BridgeTestPlugin& plugin = Start();
  const std::string long8200(8200, 'a');
  struct Case {
    std::string text;  // the JSON string's contents
    std::vector<StreamChunk> chunks;
    std::vector<std::string> reads;
    std::uint64_t yields;
  };
  const Case cases[] = {
      {long8200, {{4096, true}, {4096, true}, {10, false}}, {"4096 more", "4096 more", "10 last"}, 0},
      {"0123456789ab", {{10, true}}, {"10 more", "4 last"}, 1},
      {"", {{0, true}, {0, true}}, {"0 more", "0 more", "2 last"}, 2},
  };
  for (const Case& c : cases) {
    host_.ClearRecords();
    const std::uint64_t yieldsBefore = host_.YieldCount();
    host_.AddProvider({kPath, kHttpMethodGet, false},
                      [&c](const GoxHost::ProviderRequest&) { return Streamed(c.text, c.chunks); });
    MaybeType<BindingProperty> result = plugin.SendRequest<BindingProperty>(kHttpMethodGet, kPath);
    ASSERT_TRUE(result.Ok()) << result.GetFailure().Message();
    EXPECT_EQ(result.Value().GetString("<not a string>"), c.text);
    std::vector<std::string> reads;
    std::vector<std::string> tail;
    for (const GoxHost::CallRecord& call : host_.Calls()) {
      if (call.entry == "stream.read") reads.push_back(call.summary);
      if (call.entry.starts_with("stream.close") || call.entry == "response.release")
        tail.push_back(call.entry);
    }
    EXPECT_EQ(reads, c.reads) << c.text.size();
    EXPECT_EQ(tail, std::vector<std::string>({"stream.close", "response.release"}));
    EXPECT_EQ(host_.YieldCount() - yieldsBefore, c.yields);
    for (const GoxHost::WaitRecord& wait : host_.Waits())
      if (wait.kind == GoxHost::WaitRecord::Kind::kBegin) {
        EXPECT_EQ(wait.label, "Wait: yield");
      }
  }
}

// Shutdown arriving during a streamed read's yield ends the read: the stream is closed, the record
// released, and the plugin (kept alive until the host's call into it returns) reads no further.
TEST_F(HostRequestsTest, StreamedReadStopsWhenShutdownArrivesDuringItsYield) {
  bool destroyed = false;
  PluginSetup setup;
  setup.onDestroy = [&] { destroyed = true; };
  BridgeTestPlugin& plugin = Start(std::move(setup));
  host_.AddProvider({kPath, kHttpMethodGet, false}, [](const GoxHost::ProviderRequest&) {
    return Streamed(std::string(100, 'a'), {{10, true}, {10, true}, {10, true}});
  });
  host_.AddYieldHook([&] {
    if (host_.IsLoaded()) host_.Shutdown();
  });
  std::string failure;
  {
    const HostEntry entry;  // as if the host had called in: the plugin outlives the read
    MaybeType<BindingProperty> result = plugin.SendRequest<BindingProperty>(kHttpMethodGet, kPath);
    failure = result.HasFailure() ? result.GetFailure().Message() : "(read)";
    EXPECT_FALSE(destroyed);
  }
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(failure, "Error reading streamed response for GET /gox-other/v1/thing: Finalizing");
  std::vector<std::string> reads;
  for (const std::string& entry : host_.CallEntries())
    if (entry.starts_with("stream.") || entry == "response.release") reads.push_back(entry);
  EXPECT_EQ(reads, std::vector<std::string>({"stream.read", "stream.close", "response.release"}));
}

TEST_F(HostRequestsTest, ExternalRequestsCarryOneUserAgentAndMapTheResult) {
  BridgeTestPlugin& plugin = Start();
  auto transport = std::make_shared<GoxHost::ScriptedTransport>();
  host_.SetTransport(transport);
  struct Case {
    std::map<std::string, std::string> headers;
    GoxHost::ExternalResult answer;
    GoxHost::HeaderList sentHeaders;
    ExternalResponse expected;
  };
  const std::string agent = "QuarnClient/18.0.0 (gox-test)";
  const Case cases[] = {
      {{{"accept", "*/*"}},
       {0, 404, {{"x-a", "1"}}, "gone"},
       {{"user-agent", agent}, {"accept", "*/*"}},
       {0, 404, false, "", {{"x-a", "1"}}, "gone"}},
      {{{"User-Agent", "mine"}}, {0, 200, {}, ""}, {{"User-Agent", "mine"}}, {0, 200, false, "", {}, ""}},
      {{{"USER-AGENT", "loud"}},
       {-1, 0, {}, "refused"},
       {{"USER-AGENT", "loud"}},
       {-1, 0, false, "refused", {}, ""}},
      {{}, {2, 0, {}, "timed out"}, {{"user-agent", agent}}, {2, 0, false, "timed out", {}, ""}},
      {{}, {7, 0, {}, "odd"}, {{"user-agent", agent}}, {1, 0, false, "odd", {}, ""}},
  };
  for (const Case& c : cases) {
    transport->Answer(c.answer);
    ExternalRequest request;
    request.url = "https://example.test/a";
    request.headers = c.headers;
    request.body = "{}";
    const ExternalResponse response = plugin.SendExternalRequest(request);
    const GoxHost::ExternalCall& sent = transport->Calls().back();
    EXPECT_EQ(sent.headers, c.sentHeaders);
    EXPECT_EQ(sent.method, static_cast<std::uint32_t>(kHttpMethodPost));
    EXPECT_EQ(sent.body, "{}");
    EXPECT_EQ(sent.flag, 1u);
    EXPECT_EQ(response.result, c.expected.result);
    EXPECT_EQ(response.status, c.expected.status);
    EXPECT_EQ(response.conversionFailed, false);
    EXPECT_EQ(response.message, c.expected.message);
    EXPECT_EQ(response.headers, c.expected.headers);
    EXPECT_EQ(response.body, c.expected.body);
    EXPECT_EQ(host_.CallEntries().back(), "externalResponse.release");
  }
}

// A host that gives a header count or a body length without its pointer: the response says the
// conversion failed and names what was missing; what could be read is kept.
TEST_F(HostRequestsTest, ExternalResponseWithNullArraysIsAConversionFailure) {
  BridgeTestPlugin& plugin = Start();
  auto transport = std::make_shared<GoxHost::ScriptedTransport>();
  host_.SetTransport(transport);
  struct Case {
    bool nullHeaders;
    bool nullBody;
    std::string message;
    std::map<std::string, std::string> headers;
    std::string body;
  };
  const Case cases[] = {
      {true,
       false,
       "Error converting response for POST https://example.test/n: headers was null",
       {},
       "text"},
      {false,
       true,
       "Error converting response for POST https://example.test/n: body was null",
       {{"x-a", "1"}},
       ""},
      {true, true, "Error converting response for POST https://example.test/n: body was null", {}, ""},
  };
  for (const Case& c : cases) {
    GoxHost::ExternalResult answer{0, 201, {{"x-a", "1"}}, "text"};
    answer.nullHeaders = c.nullHeaders;
    answer.nullBody = c.nullBody;
    transport->Answer(answer);
    ExternalRequest request;
    request.url = "https://example.test/n";
    const ExternalResponse response = plugin.SendExternalRequest(request);
    EXPECT_EQ(response.result, 0);
    EXPECT_EQ(response.status, 201);
    EXPECT_TRUE(response.conversionFailed);
    EXPECT_EQ(response.message, c.message);
    EXPECT_EQ(response.headers, c.headers);
    EXPECT_EQ(response.body, c.body);
    EXPECT_EQ(host_.CallEntries().back(), "externalResponse.release");
  }
}

TEST_F(HostRequestsTest, TelemetryPostsNamedFieldsAndIsReadyAtOnce) {
  BridgeTestPlugin& plugin = Start();
  std::vector<std::string> received;
  host_.AddProvider({"/telemetry/v1/events/", kHttpMethodPost, true},
                    [&](const GoxHost::ProviderRequest& request) {
                      received.push_back(request.path);
                      for (const auto& [name, value] : request.named)
                        received.push_back(name + "=" + value.Text());
                      return ProviderAnswer::Ok(JsonValue{});
                    });
  RequestFields fields;
  fields["count"].SetSigned(2);
  fields["where"].SetString("lobby");
  ASSERT_NE(plugin.Telemetry(), nullptr);
  std::future<MaybeType<>> sent = plugin.Telemetry()->Send("loadout_saved", fields);
  EXPECT_EQ(sent.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  EXPECT_TRUE(sent.get().Ok());
  EXPECT_EQ(received,
            std::vector<std::string>({"/telemetry/v1/events/loadout_saved", "count=2", R"(where="lobby")"}));

  host_.AddProvider({"/telemetry/v1/events/", kHttpMethodPost, true},
                    [](const GoxHost::ProviderRequest&) { return ProviderAnswer::Error(503, "busy"); });
  MaybeType<> failed = plugin.Telemetry()->Send("x", {}).get();
  ASSERT_TRUE(failed.HasFailure());
  EXPECT_EQ(failed.GetFailure().Code(), 503);
}

}  // namespace
}  // namespace BridgeTest
}  // namespace Quarn
