#include "sdk/binding/conversion_result.h"

#include <utility>

namespace Quarn {
namespace {

constexpr std::string_view kErrorField = "error";

}  // namespace

ConversionResult::ConversionResult(ConversionResult&& other) noexcept
    : value_(std::move(other.value_)), ok_(other.ok_) {}

ConversionResult& ConversionResult::operator=(ConversionResult&& other) noexcept {
  ok_ = other.ok_;
  value_ = std::move(other.value_);
  return *this;
}

namespace {
constexpr const char* kOutOfMemoryMessage = "Out of memory";
}  // namespace

void ConversionResult::Init() noexcept {
  value_.Reset();
  ok_ = true;
}

void ConversionResult::Fail(std::string_view message) noexcept {
  value_ = BindingProperty();  // a new root: a tree that ran out of memory before stays marked otherwise
  ok_ = false;
  value_.MakeStructure();
  value_.Field(kErrorField).SetString(message);
}

std::string_view ConversionResult::Message() const noexcept {
  if (ok_) return {};
  // A message the heap could not hold is reported as what happened to it.
  if (value_.AllocationFailed()) return kOutOfMemoryMessage;
  return value_.Field(kErrorField).GetString({});
}

}  // namespace Quarn
