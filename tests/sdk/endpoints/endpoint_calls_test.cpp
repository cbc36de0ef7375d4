// Endpoints registered in a registry, described, read back and called the way the host core does:
// through the description's records, the call entry and the response record.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "host/api_description.h"
#include "host/endpoint_call.h"
#include "sdk/endpoints/api_description.h"
#include "sdk/endpoints/call_arguments.h"
#include "sdk/endpoints/endpoint_builder.h"
#include "tests/support/small_stack.h"

namespace Quarn {
namespace {

enum class Color : std::int32_t { Red = 1, Blue = 2 };
struct Pin {
  std::int32_t x = 0;
};
struct Board {
  std::vector<Pin> pins;
  Color color = Color::Red;
};

}  // namespace

template <>
struct TypeTraits<Color> : EnumTypeTraits<0x7E570001> {};
template <>
struct TypeTraits<Pin> : StructTypeTraits<0x7E570002> {};
template <>
struct TypeTraits<std::vector<Pin>> : VectorTypeTraits<0x7E570003, Pin> {};
template <>
struct TypeTraits<Board> : StructTypeTraits<0x7E570004> {};

namespace {

constexpr const char* kProbe = "/t/v1/probe/{id}";
constexpr const char* kProbeName = "TV1ProbeById";

// An asynchronous handler that keeps the pending-call record it is handed.
class AsyncProbe final : public EndpointHandler {
 public:
  void* Invoke(CallStatus&, std::span<BindingProperty>, std::uint32_t) override { return &token_; }
  void Complete(CallStatus&, std::unique_ptr<PendingCall> pending, void* token, std::uint32_t) override {
    completedWithToken = token == &token_;
    this->pending = std::move(pending);
  }
  void Release(void* token) override { released = token == &token_; }
  [[nodiscard]] std::uint32_t ResultType() const override { return kAsyncResultType; }

  std::unique_ptr<PendingCall> pending;
  bool completedWithToken = false;
  bool released = false;

 private:
  int token_ = 0;
};

// A stream that delivers "body" in one read.
std::int32_t ReadOnce(void*, char* buffer, std::uint32_t* length, std::uint8_t* more) {
  std::memcpy(buffer, "body", 4);
  *length = 4;
  *more = 0;
  return 1;
}

class EndpointCallsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_.Initialize();
    registry_.RegisterType<Color>("TestColor").AddEnumValue("Red", 1).AddEnumValue("Blue", 2);
    registry_.RegisterType<Pin>("TestPin").AddField<decltype(Pin::x)>("x", offsetof(Pin, x));
    const TypeInfo& board = registry_.RegisterType<Board>("TestBoard")
                                .AddField<decltype(Board::pins)>("pins", offsetof(Board, pins))
                                .AddField<decltype(Board::color)>("color", offsetof(Board, color))
                                .Info();
    (void)registry_.RegisterEvent("OnTestBoard", &board);

    const std::vector<std::string> tags = {"Plugin t"};
    RegisterEndpoint(
        registry_, tags, kHttpMethodAny, kProbe,
        MakeHandler([](std::string id, bool flag, std::optional<std::string> name, BindingProperty items,
                       std::optional<std::string> agent, BindingProperty body) {
          BindingProperty out;
          out.Field("id").SetString(id);
          out.Field("flag").SetBool(flag);
          if (name) out.Field("name").SetString(*name);
          if (items.Kind() != BindingKind::Empty) out.Field("items") = items;
          if (agent) out.Field("agent").SetString(*agent);
          if (body.Kind() != BindingKind::Empty) out.Field("body") = body;
          return out;
        }))
        .AddPathArgument("id", "The item")
        .AddArgument("flag", "")
        .AddQueryArgument("name", "")
        .AddArgument("items", "")
        .AddArgument("agent", "")
        .AddBodyArgument("body", "");
    RegisterEndpoint(registry_, tags, kHttpMethodPost, "/t/v1/meta/",
                     MakeHandler([](CallStatus& status, std::int32_t mode) -> MaybeType<std::string> {
                       if (mode < 0) return Failure(409, "Conflict here");
                       if (mode == 99) throw std::runtime_error("boom");
                       status.statusCode = 201;
                       status.reason = "Created";
                       status.headers["X-Mode"] = std::to_string(mode);
                       status.responseMode = static_cast<std::uint32_t>(mode);
                       status.responseFlag = 1;
                       return std::string("ok");
                     }))
        .AddQueryArgument("mode", "");
    RegisterEndpoint(registry_, tags, kHttpMethodGet, "/t/v1/deep", MakeHandler([] {
                       BindingProperty deep;
                       BindingProperty* at = &deep;
                       for (int i = 0; i < 600; ++i)
                         at = &at->Element(0);
                       return deep;
                     }));
    RegisterEndpoint(registry_, tags, kHttpMethodGet, "/t/v1/board", MakeHandler([](std::vector<Pin> pins) {
                       return Board{pins, Color::Blue};
                     }))
        .AddArgument("pins", "")
        .SetCustomMethod("PURGE");
    RegisterEndpoint(registry_, tags, kHttpMethodGet, "/t/v1/streamed", MakeHandler([](CallStatus& status) {
                       status.stream = ResponseStream{&ReadOnce, [](void*) {}, nullptr, 4};
                       return std::string("ok");
                     }));
    // The second parameter is never declared: it has no name to bind from.
    RegisterEndpoint(registry_, tags, kHttpMethodGet, "/t/v1/bare",
                     MakeHandler([](std::optional<std::string> token, std::optional<std::string> unnamed) {
                       return token.value_or("-") + "/" + unnamed.value_or("-");
                     }))
        .AddArgument("X-Token", "");
    auto async = std::make_unique<AsyncProbe>();
    async_ = async.get();
    RegisterEndpoint(registry_, tags, kHttpMethodPut, "/t/v1/later", std::move(async));

    description_ = BuildApiDescription(registry_);
    api_ = GoxHost::ReadApiDescription(&description_->Header());
    ASSERT_TRUE(api_.problems.empty()) << api_.problems.front();
  }

  GoxHost::CallResponse Call(const char* pathTemplate, std::uint32_t endpointMethod,
                             const GoxHost::CallRequest& request) {
    const GoxHost::EndpointInfo* endpoint = api_.FindEndpoint(pathTemplate, endpointMethod);
    EXPECT_NE(endpoint, nullptr) << pathTemplate;
    if (endpoint == nullptr) return {};
    GoxHost::CallResponse response = GoxHost::CallEndpoint(*endpoint, request);
    EXPECT_TRUE(response.released);
    EXPECT_TRUE(response.problems.empty()) << response.problems.front();
    return response;
  }

  TypeRegistry registry_;
  AsyncProbe* async_ = nullptr;
  std::unique_ptr<ApiDescription> description_;
  GoxHost::ApiDescription api_;
};

GoxHost::JsonValue Json(std::string_view text) {
  return GoxHost::JsonValue::Parse(text).value();
}

std::string Repeated(std::string_view part, int count, std::string_view separator) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += std::string(i > 0 ? separator : "") + std::string(part);
  return text;
}

TEST_F(EndpointCallsTest, ArgumentsBindFromEveryLocation) {
  struct Case {
    std::string path;
    std::vector<GoxHost::CallParameter> parameters;
    GoxHost::HeaderList headers;
    std::string contentType;
    std::string body;
    const char* answer;  // the body's JSON, or the start of the error
  };
  using P = GoxHost::CallParameter;
  const std::string probe = "/t/v1/probe/7";
  const Case cases[] = {
      {probe, {}, {}, "", "", R"({"flag":false,"id":"7"})"},
      {"/t/v1/probe/a%2Fb+c?flag", {}, {}, "", "", R"({"flag":true,"id":"a/b c"})"},
      {probe + "?name=x&name=y", {}, {}, "", "", R"({"flag":false,"id":"7","name":"y"})"},
      {probe + "?id=9",
       {},
       {},
       "",
       "",
       "Argument 'id' for 'TV1ProbeById' was specified in an invalid location."},
      {probe + "?nope=1", {}, {}, "", "", "Unknown argument 'nope' for 'TV1ProbeById'."},
      {probe + "?name=", {}, {}, "", "", "Expected value for argument 'name'."},
      {probe + "?items=", {}, {}, "", "", R"({"flag":false,"id":"7","items":{}})"},
      {probe + "?items.2.name=x",
       {},
       {},
       "",
       "",
       R"({"flag":false,"id":"7","items":[null,null,{"name":"x"}]})"},
      {probe + "?items.0x1=x", {}, {}, "", "", R"({"flag":false,"id":"7","items":[null,"x"]})"},
      {probe + "?items.2x=1", {}, {}, "", "", "Index 2x is in an incorrect format"},
      {probe + "?items.2147483648=1", {}, {}, "", "", "Index 2147483648 is out of range"},
      {probe + "?items.65536=1",
       {},
       {},
       "",
       "",
       "The arguments' indexes add more than 65536 elements to collections."},
      // Each index alone is allowed; together they would add more than 65,536 elements.
      {probe + "?items.1.0=a&items.0.65534=b",
       {},
       {},
       "",
       "",
       "The arguments' indexes add more than 65536 elements to collections."},
      // Empty query parts carry nothing.
      {probe + "?name=x&", {}, {}, "", "", R"({"flag":false,"id":"7","name":"x"})"},
      {probe + "?&name=x", {}, {}, "", "", R"({"flag":false,"id":"7","name":"x"})"},
      {probe + "?name=x&&flag", {}, {}, "", "", R"({"flag":true,"id":"7","name":"x"})"},
      {probe + "?", {}, {}, "", "", R"({"flag":false,"id":"7"})"},
      // Plain text for a structured parameter stays a string.
      {probe + "?items=plain", {}, {}, "", "", R"({"flag":false,"id":"7","items":"plain"})"},
      {probe + "?items." + Repeated("a", 33, "."), {}, {}, "", "", "Argument 'items.a.a"},
      {probe + "?" + Repeated("x=1", 1025, "&"), {}, {}, "", "", "The query has more than 1024 parameters."},
      {probe + "?items=%7B%22a%22%3A1%7D", {}, {}, "", "", R"({"flag":false,"id":"7","items":{"a":1}})"},
      {probe + "?items=---%0Aa%3A+1", {}, {}, "", "", R"({"flag":false,"id":"7","items":{"a":1}})"},
      {probe + "?items=%7Bbad",
       {},
       {},
       "",
       "",
       "Couldn't deserialize JSON value for parameter 'items' of 'TV1ProbeById': "},
      {probe + "?items=%81",
       {},
       {},
       "",
       "",
       "Couldn't deserialize MessagePack value for parameter 'items' of "},
      {probe, {}, {{"agent", "smith"}}, "", "", R"({"agent":"smith","flag":false,"id":"7"})"},
      {probe, {}, {{"Agent", "smith"}}, "", "", R"({"flag":false,"id":"7"})"},
      {probe, {P{"name", Json(R"("z")")}}, {}, "", "", R"({"flag":false,"id":"7","name":"z"})"},
      {probe, {P{{}, Json("true")}}, {}, "", "", R"({"flag":true,"id":"7"})"},  // after the 1 path parameter
      {probe, {P{"zzz", Json("1")}}, {}, "", "", "Unknown argument 'zzz' for 'TV1ProbeById'."},
      {probe, std::vector<P>(6, P{{}, Json("1")}), {}, "", "", "Unknown argument '6' for 'TV1ProbeById'."},
      {probe,
       {},
       {},
       "application/json; charset=utf-8",
       R"({"k":[1,2]})",
       R"({"body":{"k":[1,2]},"flag":false,"id":"7"})"},
      {probe, {}, {}, "Application/VND.API+JSON", "[1]", R"({"body":[1],"flag":false,"id":"7"})"},
      {probe, {}, {}, "application/x-yaml", "k: v", R"({"body":{"k":"v"},"flag":false,"id":"7"})"},
      {probe,
       {},
       {},
       "application/x-msgpack-ext",
       "\x81\xa1k\x01",
       R"({"body":{"k":1},"flag":false,"id":"7"})"},
      {probe, {}, {}, "application/x-msgpack", "\x81\xa1k\x01\x01", "Extra MessgePack data found in body"},
      {probe, {}, {}, "application/json", "{", "Error: "},
      {probe, {}, {}, "text/x-yaml", "k: v", "Unsupported body content type"},
      {probe, {}, {}, "", "{}", "Unsupported body content type"},
  };
  for (const Case& c : cases) {
    GoxHost::CallRequest request;
    request.path = c.path;
    request.parameters = c.parameters;
    request.headers = c.headers;
    request.contentType = c.contentType;
    request.body = c.body;
    const GoxHost::CallResponse response = Call(kProbe, kHttpMethodAny, request);
    const std::string answer = response.error.has_value() ? *response.error : response.body.Text();
    EXPECT_TRUE(answer.starts_with(c.answer)) << c.path.substr(0, 80) << "\n  " << answer.substr(0, 200);
  }
}

TEST_F(EndpointCallsTest, HeadersBindByLowerCaseNameAndEmptyNamesBindNothing) {
  struct Case {
    std::string path;
    GoxHost::HeaderList headers;
    const char* answer;
  };
  const Case cases[] = {
      {"/t/v1/bare", {{"x-token", "t1"}}, R"("t1/-")"},
      {"/t/v1/bare?X-Token=t2", {}, R"("t2/-")"},
      {"/t/v1/bare?=v", {}, "Unknown argument '' for 'GetTV1Bare'."},
      {"/t/v1/bare?", {}, R"("-/-")"},
  };
  for (const Case& c : cases) {
    GoxHost::CallRequest request;
    request.method = kHttpMethodGet;
    request.path = c.path;
    request.headers = c.headers;
    const GoxHost::CallResponse response = Call("/t/v1/bare", kHttpMethodGet, request);
    EXPECT_EQ(response.error.value_or(response.body.Text()), c.answer) << c.path;
  }
}

TEST_F(EndpointCallsTest, ResponseRecordCarriesTheHandlersOutcome) {
  struct Case {
    std::uint32_t method;
    const char* path;
    std::int32_t status;
    const char* error;  // null: success
    std::uint32_t mode;
  };
  const Case cases[] = {
      {kHttpMethodPost, "/t/v1/meta?mode=2", 201, nullptr, 2},
      {kHttpMethodPost, "/t/v1/meta?mode=7", 201, nullptr, 0},  // only modes 1 to 3 reach the host
      {kHttpMethodPost, "/t/v1/meta?mode=-1", 409, "Conflict here", 0},
      {kHttpMethodPost, "/t/v1/meta?mode=99", 500, "Endpoint call failed: boom", 0},
      {kHttpMethodPost, "/t/v1/meta?mode=x", 0, "Value x for 'mode' of type int32 is in an incorrect format",
       0},
      {kHttpMethodGet, "/t/v1/meta?mode=2", 404, "Invalid function", 0},
      {kHttpMethodPost, "/t/v1/meta/extra", 404, "Invalid function", 0},
  };
  for (const Case& c : cases) {
    GoxHost::CallRequest request;
    request.method = c.method;
    request.path = c.path;
    request.contentType = "text/plain";  // no body parameter: the body is ignored
    request.body = "ignored";
    const GoxHost::CallResponse response = Call("/t/v1/meta", kHttpMethodPost, request);
    EXPECT_EQ(response.status, c.status) << c.path;
    EXPECT_EQ(response.error.value_or("(none)"), c.error != nullptr ? c.error : "(none)") << c.path;
    EXPECT_EQ(response.mode, c.mode) << c.path;
    if (c.error != nullptr) continue;
    EXPECT_EQ(response.body.Text(), R"("ok")");
    EXPECT_EQ(response.reason, "Created");
    EXPECT_EQ(response.flag, 1);
    EXPECT_EQ(response.headers,
              (GoxHost::HeaderList{{"X-Mode", c.path + std::string_view(c.path).find('=') + 1}}));
  }

  // A handler that sets a stream still has its result converted into the body.
  GoxHost::CallRequest streamed;
  streamed.method = kHttpMethodGet;
  streamed.path = "/t/v1/streamed";
  const GoxHost::CallResponse both = Call("/t/v1/streamed", kHttpMethodGet, streamed);
  EXPECT_EQ(both.streamText, "body");
  EXPECT_EQ(both.body.Text(), R"("ok")");

  GoxHost::CallRequest deep;
  deep.path = "/t/v1/deep";
  const GoxHost::CallResponse tooDeep = Call("/t/v1/deep", kHttpMethodGet, deep);
  EXPECT_EQ(tooDeep.status, 400);
  EXPECT_EQ(tooDeep.error.value_or(""), "Couldn't convert the result of 'GetTV1Deep' for the host.");
}

TEST_F(EndpointCallsTest, AsynchronousHandlersReceiveThePendingCall) {
  GoxHost::CallRequest request;
  request.method = kHttpMethodPut;
  request.path = "/t/v1/later";
  request.headers = {{"a", "1"}};
  request.requestId = 42;
  (void)Call("/t/v1/later", kHttpMethodPut, request);
  ASSERT_NE(async_->pending, nullptr);
  EXPECT_TRUE(async_->completedWithToken);
  EXPECT_TRUE(async_->released);
  EXPECT_EQ(async_->pending->requestId, 42u);
  EXPECT_EQ(async_->pending->path, "/t/v1/later");
  EXPECT_EQ(async_->pending->methodText, "PUT");
  EXPECT_EQ(async_->pending->function->name, "PutTV1Later");
  EXPECT_EQ(async_->pending->headers, (std::map<std::string, std::string>{{"a", "1"}}));
  async_->pending.reset();  // the record holds the function, which holds the handler
}

TEST_F(EndpointCallsTest, CustomMethodsAndLongPaths) {
  GoxHost::CallRequest request;
  request.method = kHttpMethodOther;
  request.customMethod = "PURGE";
  request.path = "/t/v1/board?pins.1.x=5";
  const GoxHost::CallResponse board = Call("/t/v1/board", kHttpMethodOther, request);
  EXPECT_EQ(board.body.Text(), R"({"color":"Blue","pins":[{"x":0},{"x":5}]})");
  request.customMethod = "PURGED";
  EXPECT_EQ(Call("/t/v1/board", kHttpMethodOther, request).status, 404);

  test::OnSmallStack([&] {
    GoxHost::CallRequest longPath;
    longPath.path = "/t/v1/probe/" + std::string(100000, 'a');
    const GoxHost::CallResponse response = Call(kProbe, kHttpMethodAny, longPath);
    EXPECT_EQ(response.body.Text().size(), 100000 + std::string_view(R"({"flag":false,"id":""})").size());
  });
}

TEST_F(EndpointCallsTest, DescriptionReadsBackAsAHostSeesIt) {
  ASSERT_EQ(api_.endpoints.size(), 7u);
  const GoxHost::EndpointInfo* probe = api_.FindEndpoint(kProbe, kHttpMethodAny);
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->name, kProbeName);
  EXPECT_EQ(probe->locations, (std::vector<std::uint32_t>{2, 0, 1, 0, 0, 5}));
  EXPECT_EQ(probe->tags, (std::vector<std::string>{"Plugin t"}));
  std::vector<std::pair<std::string, std::uint32_t>> arguments;
  for (const GoxHost::ArgumentInfo& argument : probe->arguments)
    arguments.emplace_back(argument.name, argument.kind);
  EXPECT_EQ(arguments,
            (std::vector<std::pair<std::string, std::uint32_t>>{
                {"id", 12}, {"flag", 1}, {"name", 12}, {"items", 13}, {"agent", 12}, {"body", 13}}));
  EXPECT_TRUE(probe->arguments[2].optional);
  EXPECT_EQ(probe->customMethod, "");

  const GoxHost::EndpointInfo* meta =
      api_.FindEndpoint("/t/v1/meta", kHttpMethodPost);  // trailing "/" dropped
  ASSERT_NE(meta, nullptr);
  EXPECT_EQ(meta->name, "PostTV1Meta");

  const GoxHost::EndpointInfo* board = api_.FindEndpoint("/t/v1/board", kHttpMethodOther);
  ASSERT_NE(board, nullptr);
  EXPECT_EQ(board->customMethod, "PURGE");
  EXPECT_EQ(board->returnKind, 17u);
  EXPECT_EQ(board->returnTypeName, "TestBoard");
  ASSERT_EQ(board->arguments.size(), 1u);
  EXPECT_EQ(board->arguments[0].kind, 15u);
  EXPECT_EQ(board->arguments[0].elementKind, 17u);
  EXPECT_EQ(board->arguments[0].typeName, "TestPin");

  const GoxHost::EndpointInfo* later = api_.FindEndpoint("/t/v1/later", kHttpMethodPut);
  ASSERT_NE(later, nullptr);
  EXPECT_NE(later->context, probe->context);

  const GoxHost::TypeInfo* color = api_.FindType("TestColor");
  ASSERT_NE(color, nullptr);
  EXPECT_TRUE(color->fields.empty());
  ASSERT_EQ(color->enumerators.size(), 2u);
  EXPECT_EQ(color->enumerators[0].name, "Blue");  // name order
  EXPECT_EQ(color->enumerators[0].value, 2);
  const GoxHost::TypeInfo* boardType = api_.FindType("TestBoard");
  ASSERT_NE(boardType, nullptr);
  EXPECT_TRUE(boardType->enumerators.empty());
  ASSERT_EQ(boardType->fields.size(), 2u);
  EXPECT_EQ(boardType->fields[0].typeName, "TestPin");
  EXPECT_EQ(boardType->fields[1].kind, 16u);
  EXPECT_EQ(boardType->fields[1].offset, offsetof(Board, color));
  EXPECT_EQ(boardType->size, sizeof(Board));

  const auto event = std::find_if(api_.events.begin(), api_.events.end(),
                                  [](const GoxHost::EventInfo& e) { return e.name == "OnTestBoard"; });
  ASSERT_NE(event, api_.events.end());
  EXPECT_EQ(event->payloadTypeName, "TestBoard");
}

TEST_F(EndpointCallsTest, RegistrationKeepsTheFirstAndRefusesMalformedTemplates) {
  const std::vector<std::string> tags;
  EndpointBuilder again =
      RegisterEndpoint(registry_, tags, kHttpMethodGet, "/t/v1/deep", MakeHandler([] { return 1; }));
  again.AddArgument("x", "");
  EXPECT_EQ(again.Function(), nullptr);
  EXPECT_TRUE(registry_.FindFunction("GetTV1Deep")->arguments.empty());

  EndpointBuilder malformed = RegisterEndpoint(registry_, tags, kHttpMethodGet, "/t/{x", MakeHandler([] {}));
  ASSERT_TRUE(malformed.Result().HasFailure());
  EXPECT_EQ(malformed.Result().GetFailure().Message(),
            "Path template '/t/{x' has a '{' that is never closed.");
  EXPECT_EQ(registry_.FindFunction("GetTByX"), nullptr);

  // A template of a single slash keeps it.
  EXPECT_EQ(RegisterEndpoint(registry_, tags, kHttpMethodGet, "/", MakeHandler([] {})).Function()->path, "/");
}

}  // namespace
}  // namespace Quarn
