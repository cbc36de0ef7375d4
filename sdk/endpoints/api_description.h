// The API description the module hands the host core at load: the registry's endpoints, types and
// events flattened into the packed records of the boundary header.
//
// One ApiDescription object owns every record, array, text and call context of the description; the
// plugin object holds it, so all of them stay valid and unchanged while the plugin lives. Records of one
// kind lie in one array, each linked to the next, and the host walks them by their counts. Arrays are
// in name order, which the host must not rely on.

#pragma once

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/plugin_abi.h"
#include "sdk/binding/type_registry.h"
#include "sdk/endpoints/call_dispatch.h"

namespace Quarn {

class ApiDescription {
 public:
  ApiDescription() = default;
  ApiDescription(const ApiDescription&) = delete;
  ApiDescription& operator=(const ApiDescription&) = delete;

  // The six-word header the registration record points to.
  [[nodiscard]] const PluginApiDescription& Header() const { return header_; }

 private:
  friend std::unique_ptr<ApiDescription> BuildApiDescription(const TypeRegistry& registry);

  // A copy of text owned by the description.
  const char* Text(std::string_view text);
  // An owned array of copies of texts; null when there are none.
  const char* const* TextArray(const std::vector<std::string>& texts);

  PluginApiDescription header_{};
  std::deque<std::string> texts_;
  std::deque<std::vector<const char*>> textArrays_;
  std::vector<PluginEndpointRecord> endpoints_;
  std::deque<std::vector<PluginArgumentRecord>> arguments_;
  std::deque<std::vector<PluginArgumentLocation>> locations_;
  std::vector<PluginTypeRecord> types_;
  std::deque<std::vector<PluginFieldRecord>> fields_;
  std::deque<std::vector<PluginEnumeratorRecord>> enumerators_;
  std::vector<PluginEventInfoRecord> events_;
  std::vector<std::unique_ptr<EndpointCallContext>> contexts_;
};

// Describes every endpoint of registry (the functions registered with an EndpointHandler), with its
// argument records and locations, its call context {registry, function} and HandleCall as call entry;
// every registered structure and enumeration, with its field or enumerator records (enumerators in
// name order); and every event. Functions registered afterwards are not described. The registry must
// outlive the description.
[[nodiscard]] std::unique_ptr<ApiDescription> BuildApiDescription(const TypeRegistry& registry);

}  // namespace Quarn
