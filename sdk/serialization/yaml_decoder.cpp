#include "sdk/serialization/yaml_decoder.h"

#include <locale.h>
#include <yaml.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sdk/binding/nesting_limit.h"
#include "sdk/binding/property_context.h"
#include "sdk/binding/string_table.h"
#include "sdk/binding/value_readers.h"
#include "sdk/diagnostics/message_format.h"

namespace Quarn {
namespace {

constexpr const char* kMultiDocumentMessage = "Multi-document YAML is not supported.";
constexpr const char* kInvalidKeyMessage =
    "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2";
constexpr const char* kUnexpectedSequenceMessage = "Unexpected start of sequence. At line: %1 col: %2";
constexpr const char* kUnexpectedMappingMessage = "Unexpected start of mapping. At line: %1 col: %2";
constexpr const char* kCyclicAliasMessage =
    "Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3";
constexpr const char* kUndefinedAliasMessage = "Undefined alias encountered: \"%1\". At line: %2 col: %3";
constexpr const char* kDuplicateAnchorMessage = "Duplicate occurrence of anchor \"%1\". At line: %2 col: %3";
constexpr const char* kParserErrorMessage = "YAML parser error: %1. At line: %2 col: %3";
constexpr const char* kUnsupportedTagMessage = "Unsupported YAML tag '%1'.";
constexpr const char* kNotABoolMessage =
    "Value \"%1\" tagged tag:yaml.org,2002:bool is neither a true nor a false word. At line: %2 col: %3";
constexpr const char* kAliasKeyMessage = "Aliases cannot be mapping keys. Alias \"%1\". At line: %2 col: %3";
constexpr const char* kTooDeepMessage = "YAML nesting exceeds the limit of %1 levels. At line: %2 col: %3";
constexpr const char* kAliasTooDeepMessage =
    "Alias \"%1\" nests the document deeper than the limit of %2 levels. At line: %3 col: %4";
constexpr const char* kAliasTooLargeMessage =
    "Alias \"%1\" expands the document beyond the limit of %2 values added by aliases. At line: %3 col: %4";
constexpr const char* kOutOfMemoryMessage = "Out of memory while decoding YAML.";

constexpr std::string_view kStringTag = "tag:yaml.org,2002:str";
constexpr std::string_view kIntegerTag = "tag:yaml.org,2002:int";
constexpr std::string_view kFloatTag = "tag:yaml.org,2002:float";
constexpr std::string_view kBoolTag = "tag:yaml.org,2002:bool";

// The field name that messages of tagged numbers quote.
constexpr std::string_view kReaderField = "yaml";

// What a plain word means in YAML 1.1: one of the null, true or false spellings, or nothing special.
enum class Word : std::uint8_t { kOther, kNull, kTrue, kFalse };

struct WordEntry {
  std::string_view text;
  Word word;
};

// The word lists by length, so that most texts are settled by their length or first character.
constexpr WordEntry kWords1[] = {
    {"~", Word::kNull}, {"y", Word::kTrue}, {"Y", Word::kTrue}, {"n", Word::kFalse}, {"N", Word::kFalse}};
constexpr WordEntry kWords2[] = {{"on", Word::kTrue},  {"On", Word::kTrue},  {"ON", Word::kTrue},
                                 {"no", Word::kFalse}, {"No", Word::kFalse}, {"NO", Word::kFalse}};
constexpr WordEntry kWords3[] = {{"yes", Word::kTrue},  {"Yes", Word::kTrue},  {"YES", Word::kTrue},
                                 {"off", Word::kFalse}, {"Off", Word::kFalse}, {"OFF", Word::kFalse}};
constexpr WordEntry kWords4[] = {{"null", Word::kNull}, {"Null", Word::kNull}, {"NULL", Word::kNull},
                                 {"true", Word::kTrue}, {"True", Word::kTrue}, {"TRUE", Word::kTrue}};
constexpr WordEntry kWords5[] = {{"false", Word::kFalse}, {"False", Word::kFalse}, {"FALSE", Word::kFalse}};

template <std::size_t N>
Word Find(const WordEntry (&entries)[N], std::string_view text) {
  for (const WordEntry& entry : entries)
    if (entry.text == text) return entry.word;
  return Word::kOther;
}

Word ClassifyWord(std::string_view text) {
  switch (text.size()) {
    case 0:
      return Word::kNull;
    case 1:
      return Find(kWords1, text);
    case 2:
      return Find(kWords2, text);
    case 3:
      return Find(kWords3, text);
    case 4:
      return Find(kWords4, text);
    case 5:
      return Find(kWords5, text);
    default:
      return Word::kOther;
  }
}

// The "C" locale, so that number reading does not depend on the process's locale; null when it cannot be
// had, and then strtod of the current locale is used.
locale_t ClassicLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t{});
  return locale;
}

double ReadDouble(const char* text, char** end) {
  const locale_t locale = ClassicLocale();
  return locale != locale_t{} ? strtod_l(text, end, locale) : std::strtod(text, end);
}

// How a text reads as a decimal or 0x-hexadecimal integer literal with an optional sign.
enum class Literal : std::uint8_t { kNone, kExact, kOutOfRange };

// Reads such a literal exactly: its sign and its magnitude, which fits 64 bits when kExact.
Literal ReadIntegerLiteral(std::string_view text, bool& negative, std::uint64_t& magnitude) {
  std::size_t at = 0;
  negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    ++at;
  }
  int base = 10;
  if (text.size() - at > 2 && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X')) {
    base = 16;
    at += 2;
  }
  if (at == text.size()) return Literal::kNone;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data() + at, last, magnitude, base);
  if (end != last) return Literal::kNone;
  if (error == std::errc::result_out_of_range) return Literal::kOutOfRange;
  if (error != std::errc()) return Literal::kNone;
  return negative && magnitude > std::uint64_t{1} << 63 ? Literal::kOutOfRange : Literal::kExact;
}

// Types a plain scalar that may be a number (it starts with a digit, a sign or a point). False when it is
// not a finite number that strtod reads completely. Integer literals keep every digit; integral numbers
// outside the 64-bit ranges become float, since converting them would be undefined. REQUIRES: text is not
// empty and text.data()[text.size()] is NUL.
bool SetPlainNumber(BindingProperty& target, std::string_view text) {
  const char first = text[0];
  if (!(first >= '0' && first <= '9') && first != '-' && first != '+' && first != '.') return false;
  bool negative;
  std::uint64_t magnitude;
  const Literal literal = ReadIntegerLiteral(text, negative, magnitude);
  if (literal == Literal::kExact) {
    if (negative && magnitude != 0) {
      target.SetSigned(static_cast<std::int64_t>(std::uint64_t{0} - magnitude));
    } else {
      target.SetUnsigned(magnitude);
    }
    return true;
  }
  char* end = nullptr;
  const double number = ReadDouble(text.data(), &end);
  if (end != text.data() + text.size() || !std::isfinite(number)) return false;
  if (literal == Literal::kOutOfRange || number != std::trunc(number)) {
    target.SetFloat(number);
  } else if (number >= 0) {
    if (number < 0x1p64) {
      target.SetUnsigned(static_cast<std::uint64_t>(number));
    } else {
      target.SetFloat(number);
    }
  } else if (number >= -0x1p63) {
    target.SetSigned(static_cast<std::int64_t>(number));
  } else {
    target.SetFloat(number);
  }
  return true;
}

// One step from a container to a value inside it.
struct PathStep {
  std::string name;
  std::size_t index = 0;
  bool isIndex = false;
};

// Where an anchor points: the path of the anchored value from the root, or, for an anchor on a mapping
// key, the key's text. `open` is set while the anchored container is still being read.
struct Anchor {
  std::vector<PathStep> path;
  std::string keyText;
  bool onKey = false;
  bool open = false;
};

// Anchor names are hashed with FNV-1a and compared in full, so that two names never share an anchor.
struct AnchorNameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const noexcept { return StringTable::Hash(name); }
};

using AnchorTable = std::unordered_map<std::string, Anchor, AnchorNameHash, std::equal_to<>>;

// One value being read: an open container, the root, or the slot of a scalar or an alias.
struct Frame {
  BindingProperty* value = nullptr;
  PathStep step;             // how the parent reaches this value; unused for the root
  Anchor* anchor = nullptr;  // the anchor placed on this container, marked open while it is
  bool container = false;    // opened by a sequence or mapping start
};

std::string_view TextOf(const yaml_char_t* text) {
  return text != nullptr ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

// The parser and its event, released on every way out.
class Parser {
 public:
  Parser() { ready_ = yaml_parser_initialize(&parser_) != 0; }
  ~Parser() {
    if (ready_) yaml_parser_delete(&parser_);
  }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;
  [[nodiscard]] bool Ready() const { return ready_; }
  yaml_parser_t* operator->() { return &parser_; }
  yaml_parser_t* Get() { return &parser_; }

 private:
  yaml_parser_t parser_{};
  bool ready_ = false;
};

class Event {
 public:
  Event() = default;
  ~Event() { yaml_event_delete(&event_); }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  yaml_event_t* Get() { return &event_; }

 private:
  yaml_event_t event_{};
};

// How an alias copy measures up against the limits.
enum class Measure : std::uint8_t { kFits, kTooLarge, kTooDeep };

class YamlDecoder {
 public:
  YamlDecoder(ConversionResult& result, std::size_t inputBytes)
      : result_(result),
        inputBytes_(inputBytes),
        aliasBudget_(inputBytes * kYamlAliasValuesPerByte + kYamlAliasValuesBase) {}

  void Run(std::string_view text) {
    Parser parser;
    if (!parser.Ready()) {
      result_.Fail(kOutOfMemoryMessage);
      return;
    }
    yaml_parser_set_encoding(parser.Get(), YAML_UTF8_ENCODING);
    yaml_parser_set_input_string(parser.Get(), reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
    Push(result_.Value());
    bool parserFailed = false;
    for (;;) {
      Event event;
      if (yaml_parser_parse(parser.Get(), event.Get()) == 0) {
        parserFailed = true;
        break;
      }
      Handle(*event.Get());
      if (!result_.Ok() || event.Get()->type == YAML_STREAM_END_EVENT) break;
    }
    if (!result_.Ok()) return;
    if (parserFailed) {
      const yaml_mark_t& mark = parser->problem_mark;
      result_.Fail(FormatString(kParserErrorMessage, parser->problem != nullptr ? parser->problem : "",
                                mark.line, mark.column));
    } else if (result_.Value().AllocationFailed()) {
      result_.Fail(kOutOfMemoryMessage);
    }
  }

 private:
  template <class... Args>
  void FailAt(const char* templ, const yaml_event_t& event, const Args&... args) {
    result_.Fail(FormatString(templ, args..., event.start_mark.line + 1, event.start_mark.column + 1));
  }

  void Push(BindingProperty& value) {
    if (depth_ == frames_.size()) frames_.emplace_back();
    frames_[depth_++].value = &value;
  }

  void Pop() {
    if (depth_ == 0) return;
    Frame& frame = frames_[--depth_];
    if (frame.anchor != nullptr) frame.anchor->open = false;
    if (frame.container) --containers_;
    frame.anchor = nullptr;
    frame.container = false;
  }

  void Handle(const yaml_event_t& event) {
    switch (event.type) {
      case YAML_DOCUMENT_START_EVENT:
        if (documentSeen_) result_.Fail(kMultiDocumentMessage);
        documentSeen_ = true;
        return;
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT:
        Pop();
        return;
      case YAML_SCALAR_EVENT:
      case YAML_SEQUENCE_START_EVENT:
      case YAML_MAPPING_START_EVENT:
      case YAML_ALIAS_EVENT:
        break;
      default:
        return;
    }
    // A well-formed stream sends no value once the root is complete.
    if (depth_ == 0) return;

    // The target: a new element, the field of the pending key, or the top value itself.
    BindingProperty& top = *frames_[depth_ - 1].value;
    bool pushed = false;
    bool awaitingKey = false;
    if (top.Kind() == BindingKind::Collection) {
      BindingProperty& element = top.Append();
      const std::size_t index = top.Count() - 1;
      Push(element);
      PathStep& step = frames_[depth_ - 1].step;
      step.isIndex = true;
      step.index = index;
      pushed = true;
    } else if (top.Kind() == BindingKind::Structure) {
      if (hasPendingKey_) {
        Push(top.Field(pendingKey_));
        PathStep& step = frames_[depth_ - 1].step;
        step.isIndex = false;
        step.name.swap(pendingKey_);
        hasPendingKey_ = false;
        pushed = true;
      } else {
        awaitingKey = true;
      }
    }
    BindingProperty& target = *frames_[depth_ - 1].value;

    switch (event.type) {
      case YAML_SCALAR_EVENT:
        if (awaitingKey) {
          ReadKey(event);
          return;
        }
        SetScalar(target, event);
        if (result_.Ok() && event.data.scalar.anchor != nullptr)
          RecordPathAnchor(event.data.scalar.anchor, event);
        if (pushed) Pop();
        return;
      case YAML_SEQUENCE_START_EVENT:
      case YAML_MAPPING_START_EVENT: {
        const bool sequence = event.type == YAML_SEQUENCE_START_EVENT;
        if (awaitingKey) {
          FailAt(sequence ? kUnexpectedSequenceMessage : kUnexpectedMappingMessage, event);
          return;
        }
        if (containers_ >= kMaxNestingDepth) {
          FailAt(kTooDeepMessage, event, kMaxNestingDepth);
          return;
        }
        // The document is a container: its storage is sized to the text. A scalar document takes
        // none, unless it is a string, which takes a context as any string root does.
        if (containers_ == 0) target.SizeStorageFor(ExpectedRecordBytes(inputBytes_, kRecordBytesPerByte));
        if (sequence) {
          target.MakeCollection();
        } else {
          target.MakeStructure();
        }
        Frame& frame = frames_[depth_ - 1];
        frame.container = true;
        ++containers_;
        const yaml_char_t* anchorName =
            sequence ? event.data.sequence_start.anchor : event.data.mapping_start.anchor;
        if (anchorName != nullptr) {
          Anchor* anchor = RecordPathAnchor(anchorName, event);
          if (anchor != nullptr) {
            anchor->open = true;
            frames_[depth_ - 1].anchor = anchor;
          }
        }
        return;
      }
      default:
        ReadAlias(target, awaitingKey, event);
        if (pushed) Pop();
        return;
    }
  }

  void ReadKey(const yaml_event_t& event) {
    const std::string_view tag = TextOf(event.data.scalar.tag);
    if (!tag.empty() && tag != kStringTag) {
      FailAt(kInvalidKeyMessage, event);
      return;
    }
    pendingKey_.assign(reinterpret_cast<const char*>(event.data.scalar.value), event.data.scalar.length);
    hasPendingKey_ = true;
    if (event.data.scalar.anchor != nullptr) {
      Anchor* anchor = Record(event.data.scalar.anchor, event);
      if (anchor != nullptr) {
        anchor->onKey = true;
        anchor->keyText = pendingKey_;
      }
    }
  }

  // Enters a new anchor; null, with the result failed, when the name is taken.
  Anchor* Record(const yaml_char_t* name, const yaml_event_t& event) {
    const auto [entry, inserted] = anchors_.try_emplace(std::string(TextOf(name)));
    if (!inserted) {
      FailAt(kDuplicateAnchorMessage, event, TextOf(name));
      return nullptr;
    }
    return &entry->second;
  }

  // Enters a new anchor on the value on top of the stack, by its path from the root.
  Anchor* RecordPathAnchor(const yaml_char_t* name, const yaml_event_t& event) {
    Anchor* anchor = Record(name, event);
    if (anchor == nullptr) return nullptr;
    anchor->path.reserve(depth_ - 1);
    for (std::size_t i = 1; i < depth_; ++i)
      anchor->path.push_back(frames_[i].step);
    return anchor;
  }

  void SetScalar(BindingProperty& target, const yaml_event_t& event) {
    const std::string_view text(reinterpret_cast<const char*>(event.data.scalar.value),
                                event.data.scalar.length);
    const std::string_view tag = TextOf(event.data.scalar.tag);
    if (!tag.empty()) {
      SetTagged(target, tag, text, event);
      return;
    }
    if (event.data.scalar.style != YAML_PLAIN_SCALAR_STYLE) {
      target.SetString(text);
      return;
    }
    if (text.empty()) return;
    if (SetPlainNumber(target, text)) return;
    switch (ClassifyWord(text)) {
      case Word::kNull:
        return;
      case Word::kTrue:
        target.SetBool(true);
        return;
      case Word::kFalse:
        target.SetBool(false);
        return;
      default:
        target.SetString(text);
    }
  }

  void SetTagged(BindingProperty& target, std::string_view tag, std::string_view text,
                 const yaml_event_t& event) {
    if (tag == kStringTag) {
      target.SetString(text);
    } else if (tag == kIntegerTag || tag == kFloatTag) {
      // The number readers take a value; the text goes through one scratch root kept for the call.
      scratch_.SetString(text);
      if (tag == kFloatTag) {
        const double value =
            ReadFloating(result_, scratch_, kReaderField, -std::numeric_limits<double>::max(),
                         std::numeric_limits<double>::max(), "double");
        if (result_.Ok()) target.SetFloat(value);
      } else if (!text.empty() && text[0] == '-') {
        const std::int64_t value =
            ReadSigned(result_, scratch_, kReaderField, std::numeric_limits<std::int64_t>::min(),
                       std::numeric_limits<std::int64_t>::max(), "int64_t");
        if (result_.Ok()) target.SetSigned(value);
      } else {
        const std::uint64_t value = ReadUnsigned(result_, scratch_, kReaderField,
                                                 std::numeric_limits<std::uint64_t>::max(), "uint64_t");
        if (result_.Ok()) target.SetUnsigned(value);
      }
    } else if (tag == kBoolTag) {
      const Word word = ClassifyWord(text);
      if (word == Word::kTrue || word == Word::kFalse) {
        target.SetBool(word == Word::kTrue);
      } else {
        FailAt(kNotABoolMessage, event, text);
      }
    } else {
      result_.Fail(FormatString(kUnsupportedTagMessage, tag));
    }
  }

  void ReadAlias(BindingProperty& target, bool awaitingKey, const yaml_event_t& event) {
    const std::string_view name = TextOf(event.data.alias.anchor);
    if (awaitingKey) {
      FailAt(kAliasKeyMessage, event, name);
      return;
    }
    const auto entry = anchors_.find(name);
    if (entry != anchors_.end() && entry->second.open) {
      FailAt(kCyclicAliasMessage, event, name);
      return;
    }
    if (entry == anchors_.end()) {
      FailAt(kUndefinedAliasMessage, event, name);
      return;
    }
    const Anchor& anchor = entry->second;
    if (anchor.onKey) {
      if (aliasBudget_ == 0) {
        FailAt(kAliasTooLargeMessage, event, name, Limit());
        return;
      }
      --aliasBudget_;
      target.SetString(anchor.keyText);
      return;
    }
    const BindingProperty* source = &std::as_const(result_.Value());
    for (const PathStep& step : anchor.path)
      source = step.isIndex ? &source->Element(step.index) : &source->Field(step.name);
    std::size_t values = 0;
    switch (MeasureCopy(*source, kMaxNestingDepth - containers_, values)) {
      case Measure::kTooLarge:
        FailAt(kAliasTooLargeMessage, event, name, Limit());
        return;
      case Measure::kTooDeep:
        FailAt(kAliasTooDeepMessage, event, name, kMaxNestingDepth);
        return;
      case Measure::kFits:
        break;
    }
    aliasBudget_ -= values;
    target = *source;
  }

  // The whole budget of values that alias copies may add, for messages.
  [[nodiscard]] std::size_t Limit() const { return limit_; }

  // Counts the values of `source` (itself included) and the depth of its containers, stopping as soon as
  // either passes what is left: the walk costs at most as much as the copy it allows.
  Measure MeasureCopy(const BindingProperty& source, std::size_t depthLeft, std::size_t& values) {
    values = 0;
    walk_.clear();
    const auto visit = [&](const BindingProperty& value) {
      if (++values > aliasBudget_) return Measure::kTooLarge;
      const BindingKind kind = value.Kind();
      if (kind == BindingKind::Collection || kind == BindingKind::Structure) {
        if (walk_.size() >= depthLeft) return Measure::kTooDeep;
        walk_.emplace_back(&value, 0);
      }
      return Measure::kFits;
    };
    Measure measure = visit(source);
    while (measure == Measure::kFits && !walk_.empty()) {
      const BindingProperty* container = walk_.back().first;
      const std::size_t next = walk_.back().second;
      if (next == container->Count()) {
        walk_.pop_back();
        continue;
      }
      ++walk_.back().second;
      measure = visit(container->Kind() == BindingKind::Collection ? container->Elements()[next]
                                                                   : container->FieldAt(next).value);
    }
    return measure;
  }

  // Bytes of records per byte of YAML text, about: as dense as JSON text.
  static constexpr std::size_t kRecordBytesPerByte = 6;

  ConversionResult& result_;
  std::size_t inputBytes_;
  std::vector<Frame> frames_;
  std::size_t depth_ = 0;       // frames in use; frames_ keeps the rest for their buffers
  std::size_t containers_ = 0;  // open containers, the nesting depth of the next value
  std::string pendingKey_;
  bool hasPendingKey_ = false;
  bool documentSeen_ = false;
  AnchorTable anchors_;
  std::size_t aliasBudget_;
  std::size_t limit_ = aliasBudget_;
  BindingProperty scratch_;
  std::vector<std::pair<const BindingProperty*, std::size_t>> walk_;
};

}  // namespace

ConversionResult DecodeYaml(std::string_view text) {
  ConversionResult result;
  try {
    YamlDecoder decoder(result, text.size());
    decoder.Run(text);
  } catch (const std::bad_alloc&) {
    result.Fail(kOutOfMemoryMessage);
  }
  return result;
}

}  // namespace Quarn
