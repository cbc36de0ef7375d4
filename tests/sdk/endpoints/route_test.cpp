#include "sdk/endpoints/route.h"

#include <gtest/gtest.h>

#include <regex>

#include "sdk/endpoints/percent_decoding.h"
#include "tests/support/small_stack.h"

namespace Quarn {
namespace {

std::string Joined(const std::vector<std::string_view>& parts) {
  std::string joined;
  for (const std::string_view part : parts)
    joined += std::string(part) + "|";
  return joined;
}

RoutePattern Compile(std::string_view pathTemplate) {
  MaybeType<RoutePattern> pattern = CompileTemplate(pathTemplate);
  EXPECT_TRUE(pattern.Ok()) << pathTemplate;
  return pattern.Ok() ? pattern.TakeValue() : RoutePattern{};
}

// Each case is also run through the regular expression the pattern stands for, so the matcher keeps
// exactly the regular-expression semantics (greedy captures, full match, line breaks stop a rest).
TEST(RouteTest, MatchesAsItsRegularExpressionDoes) {
  struct Case {
    const char* pathTemplate;
    std::string path;
    const char* captures;  // null: no match
  };
  const Case cases[] = {
      {"/gox-loadouts/v2/items/{id}", "/gox-loadouts/v2/items/abc", "abc|"},
      {"/gox-loadouts/v2/items/{id}", "/gox-loadouts/v2/items/", "|"},
      {"/gox-loadouts/v2/items/{id}", "/gox-loadouts/v2/items/a/b", nullptr},
      {"/gox-loadouts/v2/items/{id}", "/gox-loadouts/v2/items", nullptr},
      {"/files/{+rest}", "/files/a/b/c", "a/b/c|"},
      {"/files/{+rest}", "/files/a\nb", nullptr},
      {"/files/{id}", "/files/a\nb", "a\nb|"},
      {"/doc{#part}", "/doc#top/x", "top/x|"},
      {"/doc{#part}", "/doctop", nullptr},
      {"/a.b/{x}", "/a.b/1", "1|"},
      {"/a.b/{x}", "/aXb/1", nullptr},
      {"/f(x)+[y]|$^/{y}", "/f(x)+[y]|$^/1", "1|"},
      {"/f(x)/{y}", "/fx/1", nullptr},
      {"/{a}{b}", "/xy", "xy||"},
      {"/{a}-{b}", "/x-y-z", "x-y|z|"},
      {"/{+a}/{b}", "/p/q/r", "p/q|r|"},
      {"/{a}/{+b}", "/p/q/r", "p|q/r|"},
      {"/x/{a}.json", "/x/a.b.json", "a.b|"},
      {"{+all}", "", "|"},
      {"/x/{a}", "/x/a%2Fb+c", "a%2Fb+c|"},
      {"/{a}/{a}", "/1/2", "1|2|"},
      // Captures that end at the next "/" or at the end, matched in one pass.
      {"/items/{id}/{type}", "/items/7/A", "7|A|"},
      {"/items/{id}/{type}", "/items//", "||"},
      {"/items/{id}/{type}", "/items/7", nullptr},
      {"/items/{id}/{type}", "/items/7/A/", nullptr},
      {"/items/{id}/{type}/x", "/items/7/A/y", nullptr},
      {"/items/{id}/{type}/x", "/items/7/A/x", "7|A|"},
      {"/items/{id}/", "/items/7/", "7|"},
      {"/items/{id}/", "/items/7", nullptr},
      {"{id}/x", "a/x", "a|"},
      {"/items/{id}/{type}", "/itemz/7/A", nullptr},
  };
  for (const Case& c : cases) {
    const RoutePattern pattern = Compile(c.pathTemplate);
    std::vector<std::string_view> captures;
    const bool matched = pattern.Match(c.path, captures);
    EXPECT_EQ(matched, c.captures != nullptr) << c.pathTemplate << " " << c.path;
    if (matched && c.captures != nullptr) {
      EXPECT_EQ(Joined(captures), c.captures) << c.pathTemplate;
    }

    const std::regex expression(pattern.PatternText(), std::regex::ECMAScript | std::regex::optimize);
    std::smatch groups;
    ASSERT_EQ(std::regex_match(c.path, groups, expression), matched) << pattern.PatternText();
    for (std::size_t i = 1; matched && i < groups.size(); ++i)
      EXPECT_EQ(groups[i].str(), captures[i - 1]) << pattern.PatternText();
  }
}

TEST(RouteTest, MalformedTemplatesAreRefused) {
  const std::pair<const char*, const char*> cases[] = {
      {"/a}", "Path template '/a}' has a '}' that closes no '{'."},
      {"/{a}}", "Path template '/{a}}' has a '}' that closes no '{'."},
      {"/a/{b", "Path template '/a/{b' has a '{' that is never closed."},
  };
  for (const auto& [pathTemplate, message] : cases) {
    MaybeType<RoutePattern> pattern = CompileTemplate(pathTemplate);
    ASSERT_TRUE(pattern.HasFailure()) << pathTemplate;
    EXPECT_EQ(pattern.GetFailure().Message(), message);
  }
  // Inside braces every character up to "}" names the parameter.
  EXPECT_EQ(Compile("/{a{b}").parameters.at(0).name, "a{b");
}

TEST(RouteTest, PercentDecodingKeepsWhatIsNoEscape) {
  const std::pair<std::string, std::string> cases[] = {
      {"a%2Fb+c", "a/b c"},
      {"%41%62", "Ab"},
      {"%zz", "%zz"},
      {"%+1x", "%+1x"},
      {"%4", "4"},
      {"ab%", "ab"},
      {"%", ""},
      {std::string("%00", 3), std::string(1, '\0')},
      {"%e2%82%AC", "\xe2\x82\xac"},
  };
  for (const auto& [text, decoded] : cases)
    EXPECT_EQ(PercentDecode(text), decoded) << text;
}

std::shared_ptr<FunctionInfo> Function(const char* name, const char* path, std::uint32_t method,
                                       const char* custom = "") {
  auto function = std::make_shared<FunctionInfo>();
  function->name = name;
  function->path = path;
  function->method = method;
  function->customMethod = custom;
  return function;
}

TEST(RouteTest, CallsPickTheShortestCaptureAndObeyMethods) {
  std::vector<Route> routes;
  for (const auto& function :
       {Function("a", "/{a}/{b}", 0), Function("b", "/x/{b}", 2), Function("c", "/{a}/y", 2),
        Function("d", "/lit/y", 6), Function("e", "/lit/{z}", 6), Function("f", "/custom/{z}", 8, "PURGE"),
        Function("GetNamed", "", 2)})
    routes.push_back(CompileRoute(function).TakeValue());

  struct Case {
    std::uint32_t method;
    const char* custom;
    const char* path;
    const char* function;  // null: no match
    const char* parameters;
  };
  const Case cases[] = {
      {2, "", "/x/y", "b", "b=y;"},      // 1 captured character beats "a" (2); "c" ties and comes later
      {6, "", "/x/y", "a", "a=x;b=y;"},  // "b" and "c" are GET only; "a" takes any method
      {6, "", "/lit/y", "d", ""},        // the literal route ends the search
      {6, "", "/lit/y?q=1", "d", ""},    // the query takes no part in matching
      {2, "", "/lit/y", "c", "a=lit;"},  // "d", "e" are POST only; "c" captures less than "a"
      {8, "PURGE", "/custom/%41", "f", "z=A;"},
      {2, "", "GetNamed", "GetNamed", ""},  // an empty template stands for the function's name
      {2, "", "/too/many/parts", nullptr, ""},
  };
  for (const Case& c : cases) {
    CallRecord call;
    call.method = c.method;
    call.customMethod = c.custom;
    call.path = c.path;
    const bool matched = MatchCall(call, routes);
    ASSERT_EQ(matched, c.function != nullptr) << c.path;
    if (!matched) continue;
    std::string parameters;
    for (const auto& [name, value] : call.parameters)
      parameters += std::string(name) + "=" + value + ";";
    EXPECT_EQ(call.function->name, c.function) << c.path;
    EXPECT_EQ(parameters, c.parameters) << c.path;
  }

  // A custom method matches only its own text.
  const std::vector<Route> custom = {CompileRoute(Function("f", "/custom/{z}", 8, "PURGE")).TakeValue()};
  for (const auto& [method, text, matches] :
       {std::tuple{8u, "PURGE", true}, std::tuple{8u, "PURGEX", false}, std::tuple{2u, "", false}}) {
    CallRecord call;
    call.method = method;
    call.customMethod = text;
    call.path = "/custom/1";
    EXPECT_EQ(MatchCall(call, custom), matches) << text;
  }
}

// A call's parameters come out in name order, one per name with its later capture, whether there are
// few enough to be held inline or more; matching again starts from none.
TEST(RouteTest, CallParametersAreInNameOrderWithTheLaterCapture) {
  struct Case {
    const char* pathTemplate;
    const char* path;
    const char* parameters;
  };
  const Case cases[] = {
      {"/{b}/{a}", "/1/2", "a=2;b=1;"},
      {"/{a}/{a}/{a}", "/1/2/3", "a=3;"},
      {"/{d}/{c}/{b}/{a}", "/1/2/3/4", "a=4;b=3;c=2;d=1;"},
      {"/{f}/{e}/{d}/{c}/{b}/{a}/{c}", "/1/2/3/4/5/6/7", "a=6;b=5;c=7;d=3;e=2;f=1;"},
      {"/{i}/{h}/{g}/{f}/{e}/{d}/{c}/{b}/{a}/{j}", "/1/2/3/4/5/6/7/8/9/%2F",
       "a=9;b=8;c=7;d=6;e=5;f=4;g=3;h=2;i=1;j=/;"},
      {"/{x}-{y}/{+z}", "/p-q-r/s/t", "x=p-q;y=r;z=s/t;"},
  };
  for (const Case& c : cases) {
    const std::vector<Route> routes = {CompileRoute(Function("f", c.pathTemplate, 0)).TakeValue()};
    CallRecord call;
    call.path = c.path;
    for (int round = 0; round < 2; ++round) {
      ASSERT_TRUE(MatchCall(call, routes)) << c.path;
      std::string parameters;
      for (const auto& [name, value] : call.parameters)
        parameters += std::string(name) + "=" + value + ";";
      EXPECT_EQ(parameters, c.parameters) << c.pathTemplate << " round " << round;
    }
  }
}

// The standard library's matcher recurses per character; this one must answer long paths on a small
// stack.
TEST(RouteTest, LongSegmentsAreMatchedOnASmallStack) {
  const std::string segment(100000, 'a');
  test::OnSmallStack([&] {
    for (const char* pathTemplate : {"/items/{id}", "/items/{+rest}", "/items/{id}/{kind}"}) {
      const RoutePattern pattern = Compile(pathTemplate);
      std::vector<std::string_view> captures;
      const bool matched = pattern.Match("/items/" + segment, captures);
      EXPECT_EQ(matched, std::string_view(pathTemplate) != "/items/{id}/{kind}");
      if (matched) {
        EXPECT_EQ(captures.at(0).size(), segment.size());
      }
    }
  });
}

}  // namespace
}  // namespace Quarn
