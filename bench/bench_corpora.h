// Deterministic JSON corpora for the codec benchmarks, generated from a fixed seed so that every run
// and every machine measures the same documents. Nothing is downloaded.
//
//   records: an array of objects of 8 to 15 members drawn from 40 names; mixed scalars, small arrays
//   numbers: an array of doubles written with 15 to 17 significant digits
//   text:    an array of strings with escapes and multi-byte UTF-8
//   tiny:    many small independent documents

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace BenchCorpora {

// The raw engine only: its output sequence is fixed by the standard, unlike the distributions'.
class Source {
 public:
  explicit Source(std::uint64_t seed = 20261208) : engine_(seed) {}
  std::uint64_t Next() { return engine_(); }
  std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(engine_() % bound); }
  double Unit() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

 private:
  std::mt19937_64 engine_;
};

inline const char* const kMemberNames[40] = {
    "id",     "name",    "itemId",   "inventoryType", "quantity", "price",     "enabled", "tags",
    "owner",  "created", "modified", "rarity",        "level",    "score",     "ratio",   "region",
    "locale", "payload", "version",  "parent",        "children", "x",         "y",       "z",
    "weight", "label",   "note",     "active",        "expires",  "purchased", "loadout", "slot",
    "skin",   "chroma",  "ward",     "emote",         "icon",     "banner",    "title",   "accountId"};

inline void AppendNumber(std::string& out, double value, int digits) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
  out += buffer;
}

inline void AppendWord(std::string& out, Source& source) {
  static const char* const kWords[] = {"alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf",
                                       "hotel", "india", "juliet",  "kilo",  "lima", "mike",    "nova"};
  out += '"';
  out += kWords[source.Below(14)];
  out += '_';
  out += std::to_string(source.Below(100000));
  out += '"';
}

inline void AppendScalar(std::string& out, Source& source) {
  switch (source.Below(6)) {
    case 0:
      out += std::to_string(source.Below(1000000));
      break;
    case 1:
      out += '-';
      out += std::to_string(source.Below(100000));
      break;
    case 2:
      AppendNumber(out, source.Unit() * 1000.0, 9);
      break;
    case 3:
      out += source.Below(2) != 0 ? "true" : "false";
      break;
    case 4:
      AppendWord(out, source);
      break;
    default:
      if (source.Below(4) == 0) {
        out += "null";
      } else {
        AppendWord(out, source);
      }
  }
}

inline void AppendRecord(std::string& out, Source& source) {
  const std::size_t count = 8 + source.Below(8);
  std::vector<bool> used(40, false);
  out += '{';
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t name = source.Below(40);
    while (used[name])
      name = (name + 1) % 40;
    used[name] = true;
    if (i != 0) out += ',';
    out += '"';
    out += kMemberNames[name];
    out += "\":";
    if (source.Below(6) == 0) {
      const std::size_t length = source.Below(5);
      out += '[';
      for (std::size_t j = 0; j < length; ++j) {
        if (j != 0) out += ',';
        AppendScalar(out, source);
      }
      out += ']';
    } else {
      AppendScalar(out, source);
    }
  }
  out += '}';
}

// An array of records, about `bytes` long.
inline std::string Records(std::size_t bytes, std::uint64_t seed = 1) {
  Source source(seed);
  std::string out = "[";
  while (out.size() < bytes) {
    if (out.size() > 1) out += ',';
    AppendRecord(out, source);
  }
  out += ']';
  return out;
}

// An array of doubles with 15 to 17 significant digits, about `bytes` long.
inline std::string Numbers(std::size_t bytes, std::uint64_t seed = 2) {
  Source source(seed);
  std::string out = "[";
  while (out.size() < bytes) {
    if (out.size() > 1) out += ',';
    const double magnitude = (source.Unit() - 0.5) * 2e6;
    AppendNumber(out, magnitude, 15 + static_cast<int>(source.Below(3)));
  }
  out += ']';
  return out;
}

// An array of strings mixing plain ASCII, JSON escapes and two-, three- and four-byte UTF-8.
inline std::string Text(std::size_t bytes, std::uint64_t seed = 3) {
  static const char* const kPieces[] = {"plain words ",
                                        "\\n",
                                        "\\t",
                                        "\\\"quoted\\\" ",
                                        "back\\\\slash ",
                                        "caf\xC3\xA9 ",
                                        "\xE6\xBC\xA2\xE5\xAD\x97 ",
                                        "\xF0\x9F\x8E\xAE ",
                                        "\\u00e9",
                                        "\\u2603 ",
                                        "line\\r\\n"};
  Source source(seed);
  std::string out = "[";
  while (out.size() < bytes) {
    if (out.size() > 1) out += ',';
    out += '"';
    const std::size_t pieces = 2 + source.Below(12);
    for (std::size_t i = 0; i < pieces; ++i)
      out += kPieces[source.Below(11)];
    out += '"';
  }
  out += ']';
  return out;
}

// `count` small documents: one record each.
inline std::vector<std::string> Tiny(std::size_t count, std::uint64_t seed = 4) {
  Source source(seed);
  std::vector<std::string> documents(count);
  for (std::string& document : documents)
    AppendRecord(document, source);
  return documents;
}

// A named set of documents that the JSON benchmarks decode and encode as one unit.
struct Corpus {
  const char* name;
  std::vector<std::string> documents;
  std::size_t bytes = 0;  // of all its documents together
};

// The JSON corpora every JSON benchmark measures, made once per process.
inline const std::vector<Corpus>& JsonCorpora() {
  static const std::vector<Corpus> corpora = [] {
    std::vector<Corpus> made;
    made.push_back({"records_1k", {Records(1 << 10)}});
    made.push_back({"records_64k", {Records(64 << 10)}});
    made.push_back({"records_4m", {Records(4 << 20)}});
    made.push_back({"numbers_4m", {Numbers(4 << 20)}});
    made.push_back({"text_2m", {Text(2 << 20)}});
    made.push_back({"tiny_10000", Tiny(10000)});
    for (Corpus& corpus : made)
      for (const std::string& document : corpus.documents)
        corpus.bytes += document.size();
    return made;
  }();
  return corpora;
}

}  // namespace BenchCorpora
