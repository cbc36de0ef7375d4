// LoadoutsServiceClient: the plugin's operations on the remote loadouts and inventory services and on the
// inventory plugin's signed tokens.
//
// Each operation checks the feature switch, builds its request from the plugin state at the moment it
// needs each member, sends it through the host core (synchronously), judges and decodes the answer and
// returns a value or a Failure: 503 "Loadouts not enabled" while switched off, 500 for everything else,
// with a lower layer's message embedded in the operation's own template. Failures are logged once, at
// error level with the message itself as the line, where the message table says so.

#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "loadouts/loadouts_state.h"
#include "loadouts/loadouts_types.h"
#include "sdk/binding/binding_property.h"
#include "sdk/binding/conversion_result.h"
#include "sdk/binding/maybe_type.h"
#include "sdk/binding/native_converters.h"
#include "sdk/host/host_requests.h"
#include "sdk/serialization/json_decoder.h"

namespace Quarn {
class AppModule;
}

namespace Quarn::Client::Loadouts {

inline constexpr std::int32_t kStatusNotEnabled = 503;
inline constexpr std::int32_t kStatusFailed = 500;

inline constexpr const char* kNotEnabled = "Loadouts not enabled";
inline constexpr const char* kSignedInventoryUnavailable =
    "Unable to obtain signed inventory from gox-inventory plugin: %1";
inline constexpr const char* kSignedInventoriesFailed = "Error fetching signed inventories: %s";
inline constexpr const char* kBodyNotConvertible =
    "Failed to convert type {type} to BindingProperty for serialization";
inline constexpr const char* kSerializingJwtsFailed = "Error serializing inventoryJWTs: %s";
inline constexpr const char* kGetItemsFailed = "Error fetching items from service: %s";
inline constexpr const char* kItemsNotDecodable = "Couldn't deserialize items response: %s";
inline constexpr const char* kSetItemsFailed = "Error setting items with service: %s";
inline constexpr const char* kDeleteItemsFailed = "Error deleting loadout in service: %s";
inline constexpr const char* kInventoryFailed = "Could not get inventory from goxinventoryservice: %s";
inline constexpr const char* kInventoryNotDecodable = "Couldn't deserialize inventory response: %s";

// The inventory plugin's resource that signs inventories.
inline constexpr const char* kSignedInventoryPath = "/gox-inventory/v1/signedInventory";
// Passed to the host core with every remote request.
inline constexpr std::uint32_t kRemoteRequestValue = 60;
inline constexpr std::uint8_t kRemoteRequestFlag = 1;
// Line ends of request bodies.
inline constexpr const char* kBodyLineSeparator = "\r\n";

// True when a remote answer counts as failed: a host message, a non-zero result, an HTTP status outside
// 200 to 299, or a record the bridge could not read.
[[nodiscard]] bool ResponseFailed(const ExternalResponse& response);

// The 500 failure whose message is templ with text in place of its one placeholder.
[[nodiscard]] Failure Failed(const char* templ, std::string_view text);

// Writes failure's message to the log at error level and hands the failure back.
[[nodiscard]] Failure Logged(Failure failure);

// The resource path of loadout id's items of one inventory type; the type is placed as it is.
[[nodiscard]] std::string ItemResourcePath(std::uint32_t id, std::string_view inventoryType);

class LoadoutsServiceClient {
 public:
  // Runs after items were stored and published, with the loadout's id.
  using StoredHook = std::function<void(std::uint32_t id)>;

  LoadoutsServiceClient(AppModule& module, const LoadoutsState& state) : module_(module), state_(state) {}

  void SetStoredHook(StoredHook hook) { stored_ = std::move(hook); }

  // The signed token of each requested type, from the inventory plugin, in the order of its answer's
  // keys. Not gated by the switch.
  [[nodiscard]] MaybeType<std::vector<std::string>> FetchSignedInventories(
      const std::vector<std::string>& types);
  // The player's inventory of those types (all types for none); isSigned asks for the items token too.
  // Failures are not logged here.
  [[nodiscard]] MaybeType<Api::InventoryDTO> FetchInventory(const std::vector<std::string>& types,
                                                            bool isSigned);
  // The stored items of loadout id for one inventory type; the empty value when the service has none.
  [[nodiscard]] MaybeType<BindingProperty> GetItems(std::uint32_t id, const std::string& inventoryType);
  // Stores the items per inventory type, publishes each type's item resource and, during champion select,
  // runs the stored hook. Answers the empty value.
  [[nodiscard]] MaybeType<BindingProperty> SetItems(std::uint32_t id,
                                                    std::map<std::string, BindingProperty> items);
  // Deletes loadout id's items of one inventory type and publishes the resource's deletion.
  [[nodiscard]] MaybeType<BindingProperty> DeleteItems(std::uint32_t id, const std::string& inventoryType);

  // FetchSignedInventories with its failure wrapped in "Error fetching signed inventories: %s" and
  // logged, as every caller reports it.
  [[nodiscard]] MaybeType<std::vector<std::string>> SignedTokens(const std::vector<std::string>& types);

  // The switch check: nothing while enabled, else the 503 failure (logged when log is set).
  [[nodiscard]] MaybeType<> CheckEnabled(bool log) const;

  // The JSON text of a request body, indented with "\r\n" line ends, or the failure of converting it:
  // notConvertible embeds "Failed to convert type ... for serialization" and is logged.
  template <class Request>
  [[nodiscard]] MaybeType<std::string> EncodeBody(const Request& request, const char* notConvertible) const {
    return EncodeBody(ToBody(request), StaticType<Request>::kName, notConvertible);
  }

  // Sends a remote request with the default headers of the moment.
  [[nodiscard]] ExternalResponse Send(std::uint32_t method, std::string url, std::string body = {});

  // Decodes a JSON answer into T with the root name "<value>"; false when either step fails.
  template <class T>
  [[nodiscard]] bool DecodeAnswer(const std::string& body, T& value) const;

  [[nodiscard]] const LoadoutsState& State() const { return state_; }

 private:
  template <class Request>
  [[nodiscard]] ConversionResult ToBody(const Request& request) const;
  [[nodiscard]] MaybeType<std::string> EncodeBody(const ConversionResult& converted,
                                                  std::string_view typeName,
                                                  const char* notConvertible) const;
  [[nodiscard]] const TypeRegistry& Registry() const;

  AppModule& module_;
  const LoadoutsState& state_;
  StoredHook stored_;
};

template <class Request>
ConversionResult LoadoutsServiceClient::ToBody(const Request& request) const {
  ConversionResult converted;
  ToProperty(converted, request, Registry());
  return converted;
}

template <class T>
bool LoadoutsServiceClient::DecodeAnswer(const std::string& body, T& value) const {
  const ConversionResult decoded = DecodeJson(body);
  if (!decoded.Ok()) return false;
  ConversionResult converted;
  ToNative(converted, value, decoded.Value(), "<value>", Registry());
  return converted.Ok();
}

}  // namespace Quarn::Client::Loadouts
