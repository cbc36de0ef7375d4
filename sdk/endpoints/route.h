// Routes: an endpoint function's path template compiled into a matcher, and the matching of a call's
// method and path against a list of routes.
//
// A template is literal text with parameters in braces: "{name}" matches one path segment (any run of
// characters without "/"), "{+name}" the rest of the path (any run of characters without a line break),
// "{#name}" a "#" followed by the rest. Outside braces every character matches only itself, "." and "("
// included. Matching is a full match of the path; each parameter takes as much as it can while the rest
// of the template can still match (earlier parameters first), exactly as the equivalent regular
// expression (PatternText) would under the ECMAScript rules, but without a regular-expression engine and
// without recursion, so a path of any length is matched on a small stack in time proportional to the
// path's length times the template's pieces.
//
// A call path may carry a query after its first "?": routes match only the part before it, so literal
// routes and path parameters never see the query.

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/binding/maybe_type.h"
#include "sdk/binding/type_registry.h"

namespace Quarn {

// %1 the template.
inline constexpr const char* kUnopenedBraceMessage = "Path template '%1' has a '}' that closes no '{'.";
inline constexpr const char* kUnclosedBraceMessage = "Path template '%1' has a '{' that is never closed.";

enum class RouteParameterKind : std::uint8_t { Segment, Rest, Fragment };

struct RouteParameter {
  RouteParameterKind kind = RouteParameterKind::Segment;
  std::string name;
};

// One piece of a compiled template: literal text, or a capture of one segment or of the rest.
struct RoutePiece {
  enum class Kind : std::uint8_t { Literal, Segment, Rest };
  Kind kind = Kind::Literal;
  std::string text;  // Literal only
};

// A compiled template. Literal when the template has no "{": the path must equal it byte for byte.
struct RoutePattern {
  bool literal = true;
  std::string text;                        // the template
  std::vector<RoutePiece> pieces;          // patterns: adjacent literal text merged into one piece
  std::vector<RouteParameter> parameters;  // one per capture, in template order
  // Every capture is a segment that ends the template or is followed by a literal starting with "/":
  // each capture then takes exactly the characters up to the next "/", so a single pass matches.
  bool bySegments = false;

  // Matches the whole of path. On success captures holds one view into path per parameter.
  [[nodiscard]] bool Match(std::string_view path, std::vector<std::string_view>& captures) const;
  // The same into a buffer of at least parameters.size() views, of which the first parameters.size()
  // are written on success.
  [[nodiscard]] bool Match(std::string_view path, std::span<std::string_view> captures) const;

  // The ECMAScript regular expression the pattern is equivalent to ("" for a literal route): outside
  // braces "^$.*+?()[]|\" are escaped; a segment is "([^/]*)", a rest "(.*)", a fragment "#(.*)".
  [[nodiscard]] std::string PatternText() const;

 private:
  [[nodiscard]] bool MatchBySegments(std::string_view path, std::span<std::string_view> captures) const;
};

// Compiles a template. A "}" that closes no "{", or a "{" never closed, is refused. Inside braces a
// leading "+" makes a rest and "#" a fragment parameter; every other character up to "}" is the name.
[[nodiscard]] MaybeType<RoutePattern> CompileTemplate(std::string_view pathTemplate);

// A function's route: its template (the function's path, or its name when the path is empty) compiled.
struct Route {
  std::shared_ptr<const FunctionInfo> function;
  RoutePattern pattern;
};

// Compiles the route of function. REQUIRES: function is not null.
[[nodiscard]] MaybeType<Route> CompileRoute(std::shared_ptr<const FunctionInfo> function);

// One path parameter of a matched call.
struct CallParameter {
  std::string_view name;  // the matched route's parameter name: valid while that route lives
  std::string text;       // the capture, percent-decoded
};

// A matched call's path parameters in name order, one per name. The first few are held inline, so
// that matching a call allocates nothing for them.
class CallParameters {
 public:
  static constexpr std::size_t kInline = 4;

  // Gives name the text: replaces the text of a name held already, else inserts it in name order.
  void Set(std::string_view name, std::string text);
  void Clear() noexcept;

  [[nodiscard]] std::size_t size() const noexcept { return count_; }
  [[nodiscard]] bool empty() const noexcept { return count_ == 0; }
  [[nodiscard]] const CallParameter* begin() const noexcept {
    return count_ > kInline ? spilled_.data() : inline_.data();
  }
  [[nodiscard]] const CallParameter* end() const noexcept { return begin() + count_; }

 private:
  std::array<CallParameter, kInline> inline_;
  std::vector<CallParameter> spilled_;  // all of them, once there are more than kInline
  std::size_t count_ = 0;
};

// One incoming call, as matched against routes.
struct CallRecord {
  std::uint32_t method = 0;  // 0 to 8; codes outside 1 to 8 count as 0
  std::string customMethod;  // with method 8 only
  std::string_view path;     // as the host gave it, query included
  // Filled by a match:
  std::shared_ptr<const FunctionInfo> function;
  CallParameters parameters;
};

// The method code of a request: 1 to 8 as they are, any other code 0.
[[nodiscard]] std::uint32_t CallMethodCode(std::uint32_t method);

// The part of a call path before its first "?".
[[nodiscard]] std::string_view PathWithoutQuery(std::string_view path);

// Matches call against routes in order. A route passes when its pattern matches the path (before "?")
// and its function's method is 0 or equals the call's (custom method texts equal too). Among passing
// routes the one whose captures are shortest in total wins, the earlier one on equal totals; a passing
// literal route ends the search. Returns whether one passed, and fills call's function and parameters
// (a name that occurs twice keeps the later capture).
[[nodiscard]] bool MatchCall(CallRecord& call, std::span<const Route> routes);

}  // namespace Quarn
