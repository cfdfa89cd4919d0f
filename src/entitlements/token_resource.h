// The record published at "/entitlements/v1/token" and served by its GET.
#pragma once

#include <string>
#include <vector>

#include "binding/native_types.h"
#include "binding/type_registry.h"

namespace qmx {

struct EntitlementsTokenResource {
  std::string accessToken;                // the access token the token was fetched with
  std::string token;                      // the entitlements token as the service returned it
  std::string subject;                    // claim "sub", empty if absent
  std::string issuer;                     // claim "iss", empty if absent
  std::vector<std::string> entitlements;  // claim "entitlements"
};

QMX_DECLARE_TYPE_ID(EntitlementsTokenResource, "qmx::EntitlementsTokenResource");
QMX_REGISTERED_STRUCT(EntitlementsTokenResource);

// Fills the struct type begun for the record (EntitlementsPlugin names it
// and gives it the plugin's tags): five fields in declaration order, all
// descriptions empty.
void AddTokenResourceMembers(TypeBuilder& type, TypeRegistry& registry);

}  // namespace qmx
