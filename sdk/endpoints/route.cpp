#include "sdk/endpoints/route.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "sdk/diagnostics/message_format.h"
#include "sdk/endpoints/percent_decoding.h"

namespace Quarn {
namespace {

// Characters that an ECMAScript expression needs escaped to read them literally.
constexpr std::string_view kRegexSpecial = "^$.*+?()[]|\\";

void AppendLiteral(std::vector<RoutePiece>& pieces, std::string_view text) {
  if (text.empty()) return;
  if (pieces.empty() || pieces.back().kind != RoutePiece::Kind::Literal)
    pieces.push_back(RoutePiece{RoutePiece::Kind::Literal, std::string()});
  pieces.back().text += text;
}

// Whether a capture of kind may take character c: a segment stops at "/", the rest (ECMAScript ".")
// at line breaks.
bool Takes(RoutePiece::Kind kind, char c) {
  return kind == RoutePiece::Kind::Segment ? c != '/' : (c != '\n' && c != '\r');
}

}  // namespace

MaybeType<RoutePattern> CompileTemplate(std::string_view pathTemplate) {
  RoutePattern pattern;
  pattern.text = std::string(pathTemplate);
  pattern.literal = pathTemplate.find('{') == std::string_view::npos;
  if (pattern.literal) {
    if (pathTemplate.find('}') != std::string_view::npos)
      return Failure(FormatString(kUnopenedBraceMessage, pathTemplate));
    return pattern;
  }
  std::size_t i = 0;
  while (i < pathTemplate.size()) {
    const char c = pathTemplate[i];
    if (c == '}') return Failure(FormatString(kUnopenedBraceMessage, pathTemplate));
    if (c != '{') {
      const std::size_t next = pathTemplate.find_first_of("{}", i);
      const std::size_t end = next == std::string_view::npos ? pathTemplate.size() : next;
      AppendLiteral(pattern.pieces, pathTemplate.substr(i, end - i));
      i = end;
      continue;
    }
    const std::size_t close = pathTemplate.find('}', i + 1);
    if (close == std::string_view::npos) return Failure(FormatString(kUnclosedBraceMessage, pathTemplate));
    RouteParameter parameter;
    std::size_t nameStart = i + 1;
    if (nameStart < close && (pathTemplate[nameStart] == '+' || pathTemplate[nameStart] == '#')) {
      parameter.kind =
          pathTemplate[nameStart] == '+' ? RouteParameterKind::Rest : RouteParameterKind::Fragment;
      ++nameStart;
    }
    parameter.name = std::string(pathTemplate.substr(nameStart, close - nameStart));
    if (parameter.kind == RouteParameterKind::Fragment) AppendLiteral(pattern.pieces, "#");
    pattern.pieces.push_back(RoutePiece{
        parameter.kind == RouteParameterKind::Segment ? RoutePiece::Kind::Segment : RoutePiece::Kind::Rest,
        std::string()});
    pattern.parameters.push_back(std::move(parameter));
    i = close + 1;
  }
  pattern.bySegments = true;
  for (std::size_t k = 0; k < pattern.pieces.size(); ++k) {
    const RoutePiece::Kind kind = pattern.pieces[k].kind;
    if (kind == RoutePiece::Kind::Literal) continue;
    const bool last = k + 1 == pattern.pieces.size();
    if (kind != RoutePiece::Kind::Segment ||
        (!last && (pattern.pieces[k + 1].kind != RoutePiece::Kind::Literal ||
                   pattern.pieces[k + 1].text.front() != '/')))
      pattern.bySegments = false;
  }
  return pattern;
}

bool RoutePattern::MatchBySegments(std::string_view path, std::span<std::string_view> captures) const {
  std::size_t position = 0;
  std::size_t captured = 0;
  for (const RoutePiece& piece : pieces) {
    if (piece.kind == RoutePiece::Kind::Literal) {
      if (path.compare(position, piece.text.size(), piece.text) != 0) return false;
      position += piece.text.size();
      continue;
    }
    const std::size_t slash = path.find('/', position);
    const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
    captures[captured++] = path.substr(position, end - position);
    position = end;
  }
  return position == path.size();
}

bool RoutePattern::Match(std::string_view path, std::vector<std::string_view>& captures) const {
  captures.resize(parameters.size());
  const bool matched = Match(path, std::span<std::string_view>(captures));
  if (!matched) captures.clear();
  return matched;
}

bool RoutePattern::Match(std::string_view path, std::span<std::string_view> captures) const {
  if (literal) return path == text;
  if (bySegments) return MatchBySegments(path, captures);

  // feasible[i * width + p]: pieces i.. can match path[p..] to its end. Filled from the last piece back,
  // each row from the end of the path back, so no step recurses. A piece preceded by literals only can
  // start at one position, so its row is filled there alone.
  const std::size_t width = path.size() + 1;
  const std::size_t count = pieces.size();
  std::uint8_t inlineTable[256];
  std::vector<std::uint8_t> heapTable;
  std::uint8_t* feasible = inlineTable;
  if ((count + 1) * width > sizeof inlineTable) {
    heapTable.resize((count + 1) * width);
    feasible = heapTable.data();
  }
  std::fill(feasible, feasible + (count + 1) * width, std::uint8_t{0});
  feasible[count * width + path.size()] = 1;
  std::size_t anchoredPieces = 0;  // the leading literal pieces
  std::size_t anchor = 0;          // where the first piece after them starts
  while (anchoredPieces < count && pieces[anchoredPieces].kind == RoutePiece::Kind::Literal)
    anchor += pieces[anchoredPieces++].text.size();
  for (std::size_t i = count; i-- > 0;) {
    const RoutePiece& piece = pieces[i];
    const std::uint8_t* next = &feasible[(i + 1) * width];
    std::uint8_t* row = &feasible[i * width];
    if (piece.kind == RoutePiece::Kind::Literal) {
      const std::size_t length = piece.text.size();
      std::size_t first = 0;
      std::size_t last = path.size() >= length ? path.size() - length : 0;
      if (path.size() < length) continue;
      if (i < anchoredPieces) {
        for (std::size_t k = 0; k < i; ++k)
          first += pieces[k].text.size();
        last = std::min(last, first);
      }
      for (std::size_t p = first; p <= last; ++p)
        row[p] =
            next[p + length] != 0 && path[p] == piece.text[0] && path.compare(p, length, piece.text) == 0;
    } else {
      const std::size_t first = i == anchoredPieces ? std::min(anchor, path.size()) : 0;
      row[path.size()] = next[path.size()];
      for (std::size_t p = path.size(); p-- > first;)
        row[p] = (next[p] != 0 || (Takes(piece.kind, path[p]) && row[p + 1] != 0)) ? 1 : 0;
    }
  }
  if (feasible[0] == 0) return false;

  // Walk forward: each capture takes the longest run after which the remaining pieces still match.
  std::size_t position = 0;
  std::size_t captured = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const RoutePiece& piece = pieces[i];
    if (piece.kind == RoutePiece::Kind::Literal) {
      position += piece.text.size();
      continue;
    }
    std::size_t limit = position;
    while (limit < path.size() && Takes(piece.kind, path[limit]))
      ++limit;
    const std::uint8_t* next = &feasible[(i + 1) * width];
    std::size_t end = limit;
    while (next[end] == 0)
      --end;  // feasible[i][position] guarantees a stop at or after position
    captures[captured++] = path.substr(position, end - position);
    position = end;
  }
  return true;
}

std::string RoutePattern::PatternText() const {
  if (literal) return std::string();
  std::string expression;
  for (const RoutePiece& piece : pieces) {
    if (piece.kind == RoutePiece::Kind::Literal) {
      // A fragment's "#" was merged into the literal before it; it needs no escape either way.
      for (const char c : piece.text) {
        if (kRegexSpecial.find(c) != std::string_view::npos) expression += '\\';
        expression += c;
      }
    } else {
      expression += piece.kind == RoutePiece::Kind::Segment ? "([^/]*)" : "(.*)";
    }
  }
  return expression;
}

MaybeType<Route> CompileRoute(std::shared_ptr<const FunctionInfo> function) {
  MaybeType<RoutePattern> pattern = CompileTemplate(function->path.empty() ? function->name : function->path);
  if (pattern.HasFailure()) return pattern.TakeFailure();
  return Route{std::move(function), pattern.TakeValue()};
}

std::uint32_t CallMethodCode(std::uint32_t method) {
  return method >= 1 && method <= 8 ? method : 0;
}

std::string_view PathWithoutQuery(std::string_view path) {
  return path.substr(0, path.find('?'));
}

void CallParameters::Set(std::string_view name, std::string text) {
  CallParameter* first = count_ > kInline ? spilled_.data() : inline_.data();
  CallParameter* const last = first + count_;
  CallParameter* place = std::lower_bound(
      first, last, name, [](const CallParameter& held, std::string_view key) { return held.name < key; });
  if (place != last && place->name == name) {
    place->text = std::move(text);
    return;
  }
  if (count_ < kInline) {
    std::move_backward(place, last, last + 1);
    *place = CallParameter{name, std::move(text)};
  } else {
    if (count_ == kInline) spilled_.assign(std::make_move_iterator(first), std::make_move_iterator(last));
    spilled_.insert(spilled_.begin() + (place - first), CallParameter{name, std::move(text)});
  }
  ++count_;
}

void CallParameters::Clear() noexcept {
  count_ = 0;
  spilled_.clear();
}

bool MatchCall(CallRecord& call, std::span<const Route> routes) {
  const std::string_view path = PathWithoutQuery(call.path);
  const Route* best = nullptr;
  std::size_t bestTotal = std::numeric_limits<std::size_t>::max();
  // Two buffers, the captures of the route being tried and of the best so far, swapped on a better
  // match; inline for routes of a few parameters.
  constexpr std::size_t kInlineCaptures = 8;
  std::string_view inlineCaptures[2][kInlineCaptures];
  std::vector<std::string_view> heapCaptures[2];
  std::span<std::string_view> captures;
  std::span<std::string_view> bestCaptures;
  std::size_t trying = 0;
  for (const Route& route : routes) {
    const FunctionInfo& function = *route.function;
    if (function.method != 0 &&
        (function.method != call.method || function.customMethod != call.customMethod))
      continue;
    const std::size_t wanted = route.pattern.parameters.size();
    if (wanted <= kInlineCaptures) {
      captures = std::span<std::string_view>(inlineCaptures[trying], wanted);
    } else {
      heapCaptures[trying].resize(wanted);
      captures = std::span<std::string_view>(heapCaptures[trying]);
    }
    if (!route.pattern.Match(path, captures)) continue;
    std::size_t total = 0;
    for (const std::string_view capture : captures)
      total += capture.size();
    if (best == nullptr || total < bestTotal) {
      best = &route;
      bestTotal = total;
      bestCaptures = captures;
      trying = 1 - trying;
    }
    if (route.pattern.literal) break;
  }
  if (best == nullptr) return false;
  call.function = best->function;
  call.parameters.Clear();
  // A name that occurs twice keeps the later capture.
  for (std::size_t i = 0; i < bestCaptures.size(); ++i)
    call.parameters.Set(best->pattern.parameters[i].name, PercentDecode(bestCaptures[i]));
  return true;
}

}  // namespace Quarn
