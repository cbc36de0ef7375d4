#include "tests/support/type_text.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace Quarn::test {
namespace {

std::string KindText(NativeKind kind, const TypeInfo* referenced) {
  if (kind != NativeKind::Struct && kind != NativeKind::Enum) return std::string(NativeKindName(kind));
  return referenced == nullptr ? "?" : referenced->name;
}

}  // namespace

std::string MemberText(const FieldInfo& field) {
  const TypeDescriptor& d = field.descriptor;
  std::string type = KindText(d.kind, d.typeInfo);
  if (d.kind == NativeKind::Vector || d.kind == NativeKind::Map)
    type += "<" + KindText(d.elementKind, d.typeInfo) + ">";
  if (field.optional) type += "?";
  char id[16];
  std::snprintf(id, sizeof id, " #%08X", static_cast<unsigned>(field.type->id));
  std::string text = field.name + ": " + type + id;
  if (!field.description.empty()) text += " (" + field.description + ")";
  return text;
}

std::vector<std::string> MemberTexts(const TypeInfo& type) {
  std::vector<std::string> texts;
  for (const FieldInfo& field : type.fields)
    texts.push_back(MemberText(field));
  return texts;
}

std::vector<std::string> EnumeratorTexts(const TypeInfo& type) {
  std::vector<std::string> texts;
  for (const auto& [name, e] : type.values)
    texts.push_back(name + "=" + std::to_string(e.value) + ": " + e.description);
  return texts;
}

void ExpectRegistered(const TypeRegistry& registry, const ExpectedType& expected) {
  SCOPED_TRACE(expected.name);
  const TypeInfo* type = registry.FindTypeByName(expected.name);
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(registry.FindTypeById(expected.id), type);
  EXPECT_EQ(type->size, expected.size);
  EXPECT_EQ(type->description, expected.description);
  EXPECT_EQ(type->tags, expected.tags);
  EXPECT_TRUE(type->nameSpace.empty());
  EXPECT_EQ(type->isEnum ? EnumeratorTexts(*type) : MemberTexts(*type), expected.members);
}

}  // namespace Quarn::test
