#include "entitlements/token_resource.h"

#include "binding/native_conversion.h"

namespace qmx {

void AddTokenResourceMembers(TypeBuilder& type, TypeRegistry& registry) {
  using R = EntitlementsTokenResource;
  AddMember(type, registry, "accessToken", &R::accessToken);
  AddMember(type, registry, "token", &R::token);
  AddMember(type, registry, "subject", &R::subject);
  AddMember(type, registry, "issuer", &R::issuer);
  AddMember(type, registry, "entitlements", &R::entitlements);
  type.SetDescription("");
}

}  // namespace qmx
