// Feeds gox-services' request handling arbitrary bodies: every body must be answered with a status of
// the service's own and a JSON body, and what a store accepts must read back as it was sent.
//
// Input: byte 0 picks the target; the rest is a text. Targets 0 to 4 send the text as the whole body of
// items/get, items, signedItems/get, setGameCustomization or a fault setting; target 5 stores the text as
// the EMOTE items of a loadout, with a valid inventory token that owns EMOTE 1 to 9, and reads it back.
// The stored text lands inside the items object, so it may also add members of its own.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "services/fault_switch.h"
#include "services/loadout_store.h"
#include "services/loadouts_service.h"
#include "tools/common/token_signing.h"

namespace {

using namespace GoxServices;

constexpr const char* kSecret = "fuzz-secret";
constexpr const char* kPuuid = "fuzz-player";

LoadoutStore& Store() {
  static std::unique_ptr<LoadoutStore> store = std::get<0>(LoadoutStore::Open(":memory:"));
  return *store;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

// Every answer has a status the services give and, unless it is empty, one JSON value.
void CheckAnswer(const ServiceAnswer& answer) {
  Check(answer.status == 200 || answer.status == 204 || answer.status == 400 || answer.status == 403);
  Check(answer.body.empty() == (answer.status == 204));
  if (!answer.body.empty()) Check(GoxHost::JsonValue::Parse(answer.body).has_value());
}

std::string EmoteToken() {
  return GoxTools::SignToken(
      GoxHost::JsonValue::Parse(std::string(R"({"puuid":")") + kPuuid +
                                R"(","inventoryType":"EMOTE","items":[1,2,3,4,5,6,7,8,9]})")
          .value(),
      kSecret);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static LoadoutsService service(Store(), kSecret, [] { return std::int64_t{1000}; });
  static const std::string token = EmoteToken();
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 6) {
    case 0:
      CheckAnswer(service.GetItems(kPuuid, text));
      break;
    case 1:
      CheckAnswer(service.SetItems(kPuuid, text));
      break;
    case 2:
      CheckAnswer(service.SignedItems(kPuuid, text));
      break;
    case 3:
      CheckAnswer(service.SetGameCustomization("loc", kPuuid, "1", text));
      break;
    case 4:
      (void)FaultSwitch::Parse(text);
      break;
    default: {
      const std::string body =
          R"({"id":7,"items":{"EMOTE":)" + text + R"(},"inventoryJWTs":[")" + token + "\"]}";
      const ServiceAnswer stored = service.SetItems(kPuuid, body);
      CheckAnswer(stored);
      if (stored.status != 204) break;
      const ServiceAnswer read = service.GetItems(
          kPuuid, R"({"id":7,"inventoryTypes":["EMOTE"],"inventoryJWTs":[")" + token + "\"]}");
      CheckAnswer(read);
      // The text need not be one value: it may close the EMOTE member and add others, even more EMOTE
      // members. What is read back is the last EMOTE member of the items sent.
      const auto sent = GoxHost::JsonValue::Parse(body);
      const auto answered = GoxHost::JsonValue::Parse(read.body);
      Check(sent.has_value() && answered.has_value() && answered->Get().HasMember("EMOTE"));
      const rapidjson::Value* kept = nullptr;
      for (const auto& member : sent->Get()["items"].GetObject())
        if (std::string_view(member.name.GetString(), member.name.GetStringLength()) == "EMOTE")
          kept = &member.value;
      Check(kept != nullptr);
      // Compared as compact texts: structural equality is not defined for objects with repeated names.
      Check(GoxHost::JsonText(answered->Get()["EMOTE"]) == GoxHost::JsonText(*kept));
      break;
    }
  }
  return 0;
}
