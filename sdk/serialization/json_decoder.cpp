#include "sdk/serialization/json_decoder.h"

// clang-format off
#include "sdk/serialization/json_library.h"
// clang-format on

#include <rapidjson/error/en.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <string_view>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "sdk/binding/nesting_limit.h"
#include "sdk/binding/property_context.h"
#include "sdk/binding/tree_assembler.h"
#include "sdk/diagnostics/message_format.h"

namespace Quarn {
namespace {

constexpr const char* kParseErrorTemplate = "Error: %s at offset %u.";
constexpr const char* kNestingTooDeepTemplate = "Error: Nesting deeper than %u levels at offset %u.";
constexpr const char* kOutOfMemoryMessage = "Error: Not enough memory to hold the decoded value.";

// The reader's input: the text up to its first NUL. Peek() gives '\0' at the end, which the reader
// takes as the end of the text. Every byte before end_ may be read, whether or not a NUL comes first.
struct TerminatedSource {
  using Ch = char;
  const char* src_;
  const char* head_;
  const char* end_;
  bool* mayHoldNul_ = nullptr;  // see CopyPlainCharacters

  TerminatedSource(const char* text, std::size_t readable) : src_(text), head_(text), end_(text + readable) {}
  [[nodiscard]] char Peek() const { return *src_; }
  char Take() { return *src_++; }
  [[nodiscard]] std::size_t Tell() const { return static_cast<std::size_t>(src_ - head_); }
  // Output operations are never used: the reader does not parse in place.
  char* PutBegin() { return nullptr; }
  void Put(char) {}
  void Flush() {}
  std::size_t PutEnd(char*) { return 0; }
};

// The reader's input: a text of known length that need not be terminated.
struct BoundedSource {
  using Ch = char;
  const char* src_;
  const char* head_;
  const char* end_;
  bool* mayHoldNul_ = nullptr;  // see CopyPlainCharacters

  BoundedSource(const char* text, std::size_t length) : src_(text), head_(text), end_(text + length) {}
  [[nodiscard]] char Peek() const { return src_ != end_ ? *src_ : '\0'; }
  char Take() { return src_ != end_ ? *src_++ : '\0'; }
  [[nodiscard]] std::size_t Tell() const { return static_cast<std::size_t>(src_ - head_); }
  char* PutBegin() { return nullptr; }
  void Put(char) {}
  void Flush() {}
  std::size_t PutEnd(char*) { return 0; }
};

// The significant digits of an exponent that a number keeps; later digits are skipped. The reader of
// RapidJSON 1.1.0 adds the exponent to the count of fraction digits in a 32-bit int, which overflows for
// an exponent near -2^31 after a few fraction digits and then indexes its power-of-ten table out of
// bounds. Nine digits keep that sum in range for any text shorter than 1 GiB, and the number's value does
// not change: a float with an exponent beyond 10^8 in magnitude is zero or too big either way.
constexpr int kExponentDigitsKept = 9;

// How the reader sees one number of Source. The reader takes the digits of the integer and fraction
// parts with TakePush() and every other character (signs, point, exponent marker, exponent digits) with
// Take(), so the digits that arrive through Take() are the exponent's.
template <class Source>
class ExponentClampingStream {
 public:
  using Ch = char;
  explicit ExponentClampingStream(Source& source) : source_(source) {}
  ExponentClampingStream& operator=(const ExponentClampingStream&) = delete;

  [[nodiscard]] char Peek() const { return source_.Peek(); }
  char TakePush() { return source_.Take(); }
  char Take() {
    const char c = source_.Take();
    if (c >= '0' && c <= '9' && (c != '0' || exponentDigits_ != 0) &&
        ++exponentDigits_ == kExponentDigitsKept) {
      while (source_.Peek() >= '0' && source_.Peek() <= '9')
        source_.Take();
    }
    return c;
  }
  void Push(char) {}
  [[nodiscard]] std::size_t Tell() const { return source_.Tell(); }
  [[nodiscard]] std::size_t Length() const { return 0; }
  [[nodiscard]] const char* Pop() const { return nullptr; }

 private:
  Source& source_;
  int exponentDigits_ = 0;
};

// Copies the plain characters at the front of a string (up to a quote, a backslash or a control
// character, NUL included) into the reader's string, sixteen at a time while sixteen are left before
// end; the reader goes on from the first character that is not plain, or from the last few, one at a
// time. Bytes of multi-byte UTF-8 are plain: the reader copies them unchecked too.
//
// The reader calls this before each escape it decodes, so it also tells whether the string may hold a
// NUL, which only the escape "\u0000" makes: it sets mayHoldNul when it stops at one, or when it leaves
// the rest of the text to the reader unseen. Whoever takes the string clears it.
template <class Output>
[[gnu::always_inline]] inline void CopyPlainCharacters(const char*& from, const char* end, bool& mayHoldNul,
                                                       Output& output) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i lastControl = _mm_set1_epi8(0x1f);
  const char* at = from;
  for (;;) {
    if (end - at < 16) {
      mayHoldNul = true;
      break;
    }
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(bytes, lastControl), lastControl);
    const __m128i stops =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)), control);
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(stops));
    if (mask != 0) {
      const auto plain = static_cast<unsigned>(std::countr_zero(mask));
      if (plain != 0) std::memcpy(output.Push(plain), at, plain);
      at += plain;
      if (*at == '\\' && (end - at < 6 || std::memcmp(at, "\\u0000", 6) == 0)) mayHoldNul = true;
      break;
    }
    std::memcpy(output.Push(16), at, 16);
    at += 16;
  }
  from = at;
#else
  (void)from;
  (void)end;
  (void)output;
  mayHoldNul = true;
#endif
}

}  // namespace
}  // namespace Quarn

namespace rapidjson {

// Both sources are plain pointers, so the reader may work on a local copy.
template <>
struct StreamTraits<Quarn::TerminatedSource> {
  enum { copyOptimization = 1 };
};
template <>
struct StreamTraits<Quarn::BoundedSource> {
  enum { copyOptimization = 1 };
};

// The reader's number stream for the SDK's sources (default flags: no copy of the digits kept).
template <>
template <>
class GenericReader<UTF8<>, UTF8<>, Quarn::JsonStackAllocator>::NumberStream<Quarn::TerminatedSource, false,
                                                                             false>
    : public Quarn::ExponentClampingStream<Quarn::TerminatedSource> {
 public:
  NumberStream(GenericReader&, Quarn::TerminatedSource& source) : ExponentClampingStream(source) {}
};
template <>
template <>
class GenericReader<UTF8<>, UTF8<>, Quarn::JsonStackAllocator>::NumberStream<Quarn::BoundedSource, false,
                                                                             false>
    : public Quarn::ExponentClampingStream<Quarn::BoundedSource> {
 public:
  NumberStream(GenericReader&, Quarn::BoundedSource& source) : ExponentClampingStream(source) {}
};

// The reader's scan of a string's plain characters, which it leaves to each kind of source, for the
// SDK's sources.
using SdkJsonReader = GenericReader<UTF8<>, UTF8<>, Quarn::JsonStackAllocator>;
template <>
template <>
inline void SdkJsonReader::ScanCopyUnescapedString<Quarn::TerminatedSource, SdkJsonReader::StackStream<char>>(
    Quarn::TerminatedSource& source, StackStream<char>& output) {
  Quarn::CopyPlainCharacters(source.src_, source.end_, *source.mayHoldNul_, output);
}
template <>
template <>
inline void SdkJsonReader::ScanCopyUnescapedString<Quarn::BoundedSource, SdkJsonReader::StackStream<char>>(
    Quarn::BoundedSource& source, StackStream<char>& output) {
  Quarn::CopyPlainCharacters(source.src_, source.end_, *source.mayHoldNul_, output);
}

}  // namespace rapidjson

namespace Quarn {
namespace {

// The reader counts an escaped NUL character into a string's length; the value ends before it.
std::string_view UpToNul(const char* text, rapidjson::SizeType length) {
  // Most names and strings are short; a plain loop answers them sooner than a call.
  if (length <= 16) {
    for (rapidjson::SizeType i = 0; i < length; ++i)
      if (text[i] == '\0') return {text, i};
    return {text, length};
  }
  const void* nul = std::memchr(text, '\0', length);
  return {text, nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : length};
}

// A text as the reader reports it, ended before a NUL when the scan of its characters says it may hold
// one (CopyPlainCharacters); the mark is cleared for the next text.
std::string_view TextOf(const char* text, rapidjson::SizeType length, bool& mayHoldNul) {
  if (!mayHoldNul) return {text, length};
  mayHoldNul = false;
  return UpToNul(text, length);
}

// Why a builder stopped the reader, if it did.
enum class Stop { None, TooDeep, NumberTooBig, Repeated };

// Builds a value from the reader's events through a TreeAssembler: each object's members are gathered
// and become its fields when it closes. An object that repeats a member name stops it (Stop::Repeated),
// and the document is built again by TreeBuilder, whose slots carry the rules for repeated names.
class AssemblingBuilder {
 public:
  AssemblingBuilder(BindingProperty& root, bool& mayHoldNul) : assembler_(root), mayHoldNul_(mayHoldNul) {}

  bool Null() {
    (void)assembler_.Slot();
    return true;
  }
  bool Bool(bool value) {
    assembler_.Slot().SetBool(value);
    return true;
  }
  bool Int(int value) {
    assembler_.Slot().SetSigned(value);
    return true;
  }
  bool Uint(unsigned value) {
    assembler_.Slot().SetUnsigned(value);
    return true;
  }
  bool Int64(std::int64_t value) {
    assembler_.Slot().SetSigned(value);
    return true;
  }
  bool Uint64(std::uint64_t value) {
    assembler_.Slot().SetUnsigned(value);
    return true;
  }
  bool Double(double value) {
    if (!std::isfinite(value)) {
      stop_ = Stop::NumberTooBig;
      return false;
    }
    assembler_.Slot().SetFloat(value);
    return true;
  }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    assembler_.Slot().SetString(TextOf(text, length, mayHoldNul_));
    return true;
  }
  bool StartObject() { return Open(BindingKind::Structure); }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    assembler_.Key(TextOf(text, length, mayHoldNul_));
    return true;
  }
  bool EndObject(rapidjson::SizeType) { return Close(); }
  bool StartArray() { return Open(BindingKind::Collection); }
  bool EndArray(rapidjson::SizeType) { return Close(); }

  [[nodiscard]] Stop Stopped() const { return stop_; }

 private:
  bool Open(BindingKind kind) {
    if (assembler_.Open(kind)) return true;
    if (assembler_.Depth() == kMaxNestingDepth) stop_ = Stop::TooDeep;
    return false;  // otherwise out of memory: the tree is marked
  }
  bool Close() {
    if (assembler_.Close()) return true;
    if (assembler_.Repeated()) stop_ = Stop::Repeated;
    return false;
  }

  TreeAssembler assembler_;
  bool& mayHoldNul_;  // the text the reader reports next may hold a NUL
  Stop stop_ = Stop::None;
};

// Builds a value from the reader's events. Each scalar, array or object goes into the slot of the
// container open on top: a new element of a collection, or the field that the last member name chose;
// at the top level, the root. Arrays and objects that meet a value of their own kind in their slot (a
// repeated member name) keep its content and add to it. Returning false stops the reader at once.
class TreeBuilder {
 public:
  TreeBuilder(BindingProperty& root, bool& mayHoldNul) : current_(&root), mayHoldNul_(mayHoldNul) {}

  bool Null() {
    (void)Slot();
    return true;
  }
  bool Bool(bool value) {
    Slot().SetBool(value);
    return true;
  }
  bool Int(int value) {
    Slot().SetSigned(value);
    return true;
  }
  bool Uint(unsigned value) {
    Slot().SetUnsigned(value);
    return true;
  }
  bool Int64(std::int64_t value) {
    Slot().SetSigned(value);
    return true;
  }
  bool Uint64(std::uint64_t value) {
    Slot().SetUnsigned(value);
    return true;
  }
  // The reader refuses most numbers beyond the range of a double, but lets some through as infinity
  // ("1.8e308"); those are refused here alike.
  bool Double(double value) {
    if (!std::isfinite(value)) {
      stop_ = Stop::NumberTooBig;
      return false;
    }
    Slot().SetFloat(value);
    return true;
  }
  // Numbers as text are asked for only by a flag the decoder does not set.
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    Slot().SetString(TextOf(text, length, mayHoldNul_));
    return true;
  }
  bool StartObject() { return Open(BindingKind::Structure); }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    current_ = &open_[depth_ - 1]->Field(TextOf(text, length, mayHoldNul_));
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    --depth_;
    return true;
  }
  bool StartArray() { return Open(BindingKind::Collection); }
  bool EndArray(rapidjson::SizeType) {
    --depth_;
    return true;
  }

  [[nodiscard]] Stop Stopped() const { return stop_; }

 private:
  BindingProperty& Slot() {
    if (depth_ != 0 && open_[depth_ - 1]->Kind() == BindingKind::Collection)
      return open_[depth_ - 1]->Append();
    return *current_;
  }

  bool Open(BindingKind kind) {
    if (depth_ == kMaxNestingDepth) {
      stop_ = Stop::TooDeep;
      return false;
    }
    BindingProperty& container = Slot();
    if (kind == BindingKind::Collection)
      container.MakeCollection();
    else
      container.MakeStructure();
    open_[depth_++] = &container;
    return true;
  }

  // The value a scalar goes into when the container on top is a structure, or at the top level.
  BindingProperty* current_;
  // The containers open from the outermost in; an element or field stays put while it is open, since
  // its parent gains nothing until it is closed.
  BindingProperty* open_[kMaxNestingDepth];
  std::size_t depth_ = 0;
  bool& mayHoldNul_;  // the text the reader reports next may hold a NUL
  Stop stop_ = Stop::None;
};

// Reads the document into root with the builder; the reader's outcome and why the builder stopped it.
template <class Builder, class Source>
rapidjson::ParseResult Read(Source source, BindingProperty& root, Stop& stop) {
  bool mayHoldNul = false;
  source.mayHoldNul_ = &mayHoldNul;
  Builder builder(root, mayHoldNul);
  JsonStackAllocator allocator;
  JsonReader reader(&allocator);
  const rapidjson::ParseResult parsed = reader.Parse<rapidjson::kParseDefaultFlags>(source, builder);
  stop = builder.Stopped();
  return parsed;
}

// Bytes of records per byte of JSON text, about.
constexpr std::size_t kRecordBytesPerByte = 6;

template <class Source>
ConversionResult Decode(Source source, std::size_t length) {
  ConversionResult result;
  BindingProperty root;
  root.SizeStorageFor(ExpectedRecordBytes(length, kRecordBytesPerByte));
  Stop stop = Stop::None;
  rapidjson::ParseResult parsed = Read<AssemblingBuilder>(source, root, stop);
  if (stop == Stop::Repeated) {
    root = BindingProperty();
    root.SizeStorageFor(ExpectedRecordBytes(length, kRecordBytesPerByte));
    parsed = Read<TreeBuilder>(source, root, stop);
  }
  if (stop == Stop::TooDeep) {
    // The reader reports the offset just past the bracket that opened one level too many.
    result.Fail(FormatString(kNestingTooDeepTemplate, kMaxNestingDepth, parsed.Offset() - 1));
  } else if (parsed.IsError() && (stop != Stop::None || parsed.Code() != rapidjson::kParseErrorTermination)) {
    // (A stop with no reason of the builder's is memory it could not have: reported below.)
    // A number the builder refused is reported at its start, as the reader reports its own.
    const rapidjson::ParseErrorCode code =
        stop == Stop::NumberTooBig ? rapidjson::kParseErrorNumberTooBig : parsed.Code();
    result.Fail(FormatString(kParseErrorTemplate, rapidjson::GetParseError_En(code), parsed.Offset()));
  } else if (root.AllocationFailed()) {
    result.Fail(kOutOfMemoryMessage);
  } else {
    result.Value() = std::move(root);
  }
  return result;
}

}  // namespace

ConversionResult DecodeJson(const char* text) {
  if (text == nullptr) text = "";
  const std::size_t length = std::strlen(text);
  return Decode(TerminatedSource(text, length), length);
}

ConversionResult DecodeJson(const std::string& text) {
  return Decode(TerminatedSource(text.c_str(), text.size()), text.size());
}

ConversionResult DecodeJson(const char* text, std::size_t length) {
  if (text == nullptr) length = 0;
  return Decode(BoundedSource(text, length), length);
}

}  // namespace Quarn
