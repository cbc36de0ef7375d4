#include "host/json_value.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <system_error>

#include <rapidjson/encodedstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

namespace GoxHost {

JsonValue& JsonValue::operator=(const JsonValue& other) {
  if (this != &other) {
    JsonDocument copy;
    CopyJson(other.Get(), copy, copy.GetAllocator());
    document_.Swap(copy);
  }
  return *this;
}

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The power of ten of a number's leading digit, from its text, with the exponent held to a bound. Tells
// a number too large for a double from one too small: they lie more than six hundred powers apart.
long LeadingPower(std::string_view text) {
  std::size_t i = text.front() == '-' ? 1 : 0;
  long power = 0;
  bool leadingZeros = true;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    leadingZeros = leadingZeros && text[i] == '0';
    if (!leadingZeros) ++power;
  }
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && IsDigit(text[i]); ++i) {
      if (leadingZeros && text[i] == '0') --power;
      leadingZeros = leadingZeros && text[i] == '0';
    }
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    long exponent = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i)
      exponent = std::min(exponent * 10 + (text[i] - '0'), 100000L);
    power += negative ? -exponent : exponent;
  }
  return power;
}

// Builds a document from the reader's events, reading each number from its text. The reader's fast
// reading of numbers is off by a unit in the last place for long mantissas and large or tiny exponents,
// so a number written from a double would not always read back as it; its full-precision reading does
// undefined arithmetic on a zero with an exponent ("0e42").
class NumberReadingHandler {
 public:
  explicit NumberReadingHandler(JsonDocument& document) : document_(document) {}

  bool Null() { return document_.Null(); }
  bool Bool(bool value) { return document_.Bool(value); }
  bool Int(int value) { return document_.Int(value); }
  bool Uint(unsigned value) { return document_.Uint(value); }
  bool Int64(std::int64_t value) { return document_.Int64(value); }
  bool Uint64(std::uint64_t value) { return document_.Uint64(value); }
  bool Double(double value) { return document_.Double(value); }
  bool String(const char* text, rapidjson::SizeType length, bool copy) {
    return document_.String(text, length, copy);
  }
  bool StartObject() { return document_.StartObject(); }
  bool Key(const char* text, rapidjson::SizeType length, bool copy) {
    return document_.Key(text, length, copy);
  }
  bool EndObject(rapidjson::SizeType members) { return document_.EndObject(members); }
  bool StartArray() { return document_.StartArray(); }
  bool EndArray(rapidjson::SizeType elements) { return document_.EndArray(elements); }

  // Typed as the reader types numbers: an integer that fits 64 bits stays one, any other number is the
  // nearest double. One beyond the largest double is refused; one below the smallest is zero.
  bool RawNumber(const char* text, rapidjson::SizeType length, bool /*copy*/) {
    const char* last = text + length;
    const bool negative = text[0] == '-';
    if (std::find_if(text, last, [](char c) { return c == '.' || c == 'e' || c == 'E'; }) == last) {
      if (std::int64_t value = 0; negative && std::from_chars(text, last, value).ec == std::errc{})
        return Int64(value);
      if (std::uint64_t value = 0; !negative && std::from_chars(text, last, value).ec == std::errc{})
        return Uint64(value);
    }
    double value = 0;
    const std::errc error = std::from_chars(text, last, value).ec;
    if (error == std::errc{}) return Double(value);
    if (error != std::errc::result_out_of_range || LeadingPower({text, length}) > 0) return false;
    return Double(negative ? -0.0 : 0.0);
  }

 private:
  JsonDocument& document_;
};

}  // namespace

std::optional<JsonValue> JsonValue::Parse(std::string_view text) {
  JsonValue result;
  bool parsed = false;
  auto read = [&](JsonDocument& document) {
    rapidjson::MemoryStream bytes(text.data(), text.size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> stream(bytes);
    rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, JsonStackAllocator> reader;
    NumberReadingHandler handler(document);
    parsed = !reader.Parse<rapidjson::kParseNumbersAsStringsFlag>(stream, handler).IsError();
    return parsed;
  };
  result.document_.Populate(read);
  if (!parsed) return std::nullopt;
  return result;
}

JsonValue JsonValue::String(std::string_view text) {
  JsonValue result;
  result.document_.SetString(text.data(), static_cast<rapidjson::SizeType>(text.size()),
                             result.document_.GetAllocator());
  return result;
}

void CopyJson(const rapidjson::Value& from, rapidjson::Value& to,
              rapidjson::MemoryPoolAllocator<>& allocator) {
  if (from.IsString()) {
    to.SetString(from.GetString(), from.GetStringLength(), allocator);
  } else if (from.IsArray()) {
    to.SetArray();
    to.Reserve(from.Size(), allocator);
    for (const rapidjson::Value& item : from.GetArray()) {
      rapidjson::Value copy;
      CopyJson(item, copy, allocator);
      to.PushBack(copy, allocator);
    }
  } else if (from.IsObject()) {
    to.SetObject();
    for (const auto& member : from.GetObject()) {
      rapidjson::Value name(member.name.GetString(), member.name.GetStringLength(), allocator);
      rapidjson::Value copy;
      CopyJson(member.value, copy, allocator);
      to.AddMember(name, copy, allocator);
    }
  } else {
    to = rapidjson::Value(from, allocator);  // scalars: no stack involved
  }
}

std::string JsonValue::Text() const {
  return JsonText(document_);
}

std::string JsonText(const rapidjson::Value& value) {
  JsonBuffer buffer;
  JsonWriter writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace GoxHost
