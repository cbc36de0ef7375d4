// Remote-service URLs: hostile values stay inside their own parameter; ordinary ones come out unchanged.

#include "loadouts/service_urls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Quarn::Client::Loadouts {
namespace {

TEST(ServiceUrlsTest, PercentEncodingKeepsOnlyUnreservedBytes) {
  struct Case {
    std::string value;
    const char* encoded;
  };
  const Case cases[] = {
      {"p-1_a.b~C9", "p-1_a.b~C9"},
      {"a b", "a%20b"},
      {"x&inventoryType=B", "x%26inventoryType%3DB"},
      {"a?b#c%d", "a%3Fb%23c%25d"},
      {"line\r\nHost: evil", "line%0D%0AHost%3A%20evil"},
      {std::string("nul\0byte", 8), "nul%00byte"},
      {"\xC3\xA9\xFF", "%C3%A9%FF"},
      {"/", "%2F"},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PercentEncode(c.value), c.encoded) << c.encoded;
}

TEST(ServiceUrlsTest, TemplatesFillEveryValueEncodedAndTheBaseAsItStands) {
  const std::string base = "https://svc.test:8443/base path";
  const std::vector<std::string> none;
  const std::vector<std::string> types = {"A", "B&signed=true"};
  struct Case {
    std::string url;
    const char* expected;
  };
  const Case cases[] = {
      {GetItemsUrl(base, "p 1"), "https://svc.test:8443/base path/loadouts/v3/items/get?puuid=p%201"},
      {SetItemsUrl(base, ""), "https://svc.test:8443/base path/loadouts/v3/items?puuid="},
      {DeleteItemsUrl(base, 4294967295u, "A B", "p&x"),
       "https://svc.test:8443/base path/loadouts/v3/items/4294967295?inventoryType=A%20B&puuid=p%26x"},
      {InventoryUrl(base, "P", none, false, "L"),
       "https://svc.test:8443/base path/goxinventoryservice/v2/inventories?puuid=P&signed=false&location=L"},
      {InventoryUrl(base, "P", types, true, "L#1"),
       "https://svc.test:8443/base path/goxinventoryservice/v2/inventories?puuid=P&inventoryTypes=A&"
       "inventoryTypes=B%26signed%3Dtrue&signed=true&location=L%231"},
      {SignedItemsUrl(base, "P"), "https://svc.test:8443/base path/loadouts/v3/signedItems/get?puuid=P"},
      {SetGameCustomizationUrl(base, "loc 1", "P", 18446744073709551615u),
       "https://svc.test:8443/base path/loadouts/v3/setGameCustomization/?location=loc%201&puuid=P&"
       "accountId=18446744073709551615"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.url, c.expected);
}

TEST(ServiceUrlsTest, ManyTypesMakeOneWholeUrl) {
  const std::vector<std::string> types(500, "Type&");
  const std::string url = InventoryUrl("https://i", "P", types, false, "L");
  EXPECT_EQ(url.size(), std::string("https://i/goxinventoryservice/v2/inventories?puuid=P&").size() +
                            500 * std::string("inventoryTypes=Type%26&").size() +
                            std::string("signed=false&location=L").size());
  EXPECT_TRUE(url.ends_with("&signed=false&location=L"));
}

}  // namespace
}  // namespace Quarn::Client::Loadouts
