#include "tools/gox_host/call_mapping.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace GoxHostApp {
namespace {

GoxHost::JsonValue Json(const char* text) {
  return GoxHost::JsonValue::Parse(text).value();
}

TEST(CallMappingTest, TemplatesMatchWholeSegments) {
  struct Case {
    const char* pathTemplate;
    const char* path;
    std::optional<int> literals;
  };
  const Case cases[] = {
      {"/a/v1/items/{id}/{type}", "/a/v1/items/7/A", 3},
      {"/a/v1/items/{id}/{type}", "/a/v1/items/7/A%20B", 3},
      {"/a/v1/items/{id}/{type}", "/a/v1/items/7", std::nullopt},
      {"/a/v1/items/{id}/{type}", "/a/v1/items/7/A/x", std::nullopt},
      {"/a/v1/items/{id}/{type}", "/a/v1/items//A", std::nullopt},  // a parameter is never empty
      {"/a/v1/items/{id}", "/a/v1/items/7/", std::nullopt},
      {"/a/v1/inventory", "/a/v1/inventory", 3},
      {"/a/v1/inventory", "/a/v1/Inventory", std::nullopt},
      {"/a/v1/inventory", "/a/v1/inventory/", std::nullopt},
      {"/", "/", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MatchTemplate(c.pathTemplate, c.path), c.literals) << c.pathTemplate << " " << c.path;
}

TEST(CallMappingTest, TheMostSpecificEndpointOfTheMethodWins) {
  GoxHost::ApiDescription description;
  const auto add = [&](const char* path, std::uint32_t method, const char* name, const char* custom = "") {
    GoxHost::EndpointInfo endpoint;
    endpoint.path = path;
    endpoint.method = method;
    endpoint.name = name;
    endpoint.customMethod = custom;
    description.endpoints.push_back(endpoint);
  };
  add("/a/v1/items/{id}", kHttpMethodGet, "byId");
  add("/a/v1/items/latest", kHttpMethodGet, "latest");
  add("/a/v1/items/{id}", kHttpMethodPost, "post");
  add("/a/v1/items/{id}", kHttpMethodOther, "purge", "PURGE");
  struct Case {
    std::uint32_t method;
    const char* custom;
    const char* path;
    const char* found;  // null: none
    bool pathMatched;
  };
  const Case cases[] = {
      {kHttpMethodGet, "", "/a/v1/items/7", "byId", true},
      {kHttpMethodGet, "", "/a/v1/items/latest", "latest", true},
      {kHttpMethodPost, "", "/a/v1/items/latest", "post", true},
      {kHttpMethodDelete, "", "/a/v1/items/7", nullptr, true},
      {kHttpMethodOther, "PURGE", "/a/v1/items/7", "purge", true},
      {kHttpMethodOther, "BREW", "/a/v1/items/7", nullptr, true},
      {kHttpMethodGet, "", "/a/v1/other", nullptr, false},
  };
  for (const Case& c : cases) {
    bool pathMatched = false;
    const GoxHost::EndpointInfo* found = FindEndpoint(description, c.method, c.custom, c.path, &pathMatched);
    EXPECT_EQ(found != nullptr ? found->name : "none", c.found != nullptr ? c.found : "none") << c.path;
    EXPECT_EQ(pathMatched, c.pathMatched) << c.path;
  }
}

TEST(CallMappingTest, ModuleAnswersBecomeHttpAnswers) {
  struct Case {
    const char* name;
    std::int32_t status;
    std::optional<std::string> error;
    const char* body;  // JSON of the body host value
    std::optional<std::string> stream;
    std::optional<std::string> problem;
    int httpStatus;
    const char* httpBody;
  };
  const Case cases[] = {
      {"result with status 0", 0, {}, R"({"a":1})", {}, {}, 200, R"({"a":1})"},
      {"result with its own status", 201, {}, R"("made")", {}, {}, 201, R"("made")"},
      {"empty result", 0, {}, "null", {}, {}, 204, ""},
      {"empty result with a status", 202, {}, "null", {}, {}, 202, ""},
      {"streamed result", 0, {}, "null", R"([1,2])", {}, 200, "[1,2]"},
      {"empty stream", 0, {}, "null", "", {}, 204, ""},
      {"failure with a status",
       503,
       "Loadouts not enabled",
       "null",
       {},
       {},
       503,
       R"({"httpStatus":503,"message":"Loadouts not enabled"})"},
      {"failure without a status",
       0,
       "Value x for 'id' is in an incorrect format",
       "null",
       {},
       {},
       400,
       R"({"httpStatus":400,"message":"Value x for 'id' is in an incorrect format"})"},
      {"failure with a success status",
       200,
       "odd",
       "null",
       {},
       {},
       400,
       R"({"httpStatus":400,"message":"odd"})"},
      {"failure text that is not UTF-8",
       404,
       "bad \xff\xfe path",
       "null",
       {},
       {},
       404,
       "{\"httpStatus\":404,\"message\":\"bad \xEF\xBF\xBD\xEF\xBF\xBD path\"}"},
      {"status outside HTTP",
       1000,
       {},
       "1",
       {},
       {},
       502,
       R"({"httpStatus":502,"message":"the module answered with the status 1000"})"},
      {"broken record",
       0,
       {},
       "null",
       {},
       "response body: unknown code",
       502,
       R"({"httpStatus":502,"message":"the module's answer could not be read: response body: unknown code"})"},
  };
  for (const Case& c : cases) {
    GoxHost::CallResponse response;
    response.status = c.status;
    response.error = c.error;
    response.body = Json(c.body);
    if (c.stream) {
      response.streamed = true;
      response.streamText = *c.stream;
    }
    if (c.problem) response.problems.push_back(*c.problem);
    const HttpAnswer answer = AnswerFromCall(response);
    EXPECT_EQ(answer.status, c.httpStatus) << c.name;
    EXPECT_EQ(answer.body, c.httpBody) << c.name;
    EXPECT_EQ(answer.contentType, answer.body.empty() ? "" : kJsonContentType) << c.name;
  }
}

TEST(CallMappingTest, FramingHeadersAndHeadersWithLineBreaksAreNotPassedOn) {
  GoxHost::CallResponse response;
  response.body = Json("1");
  response.headers = {{"X-Kept", "yes"},        {"Content-Length", "99"}, {"transfer-encoding", "chunked"},
                      {"X-Split", "a\r\nb: c"}, {"X-Bad\nName", "v"},     {"Connection", "close"}};
  EXPECT_EQ(AnswerFromCall(response).headers, (GoxHost::HeaderList{{"X-Kept", "yes"}}));
}

TEST(CallMappingTest, InvalidUtf8IsReplacedSequenceBySequence) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},                                // é
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},                                  // a four-byte character
      {"a\xC3", "a\xEF\xBF\xBD"},                                                // cut short
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                                  // overlong
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},                  // a surrogate
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // above U+10FFFF
  };
  for (const Case& c : cases)
    EXPECT_EQ(ValidUtf8(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace GoxHostApp
