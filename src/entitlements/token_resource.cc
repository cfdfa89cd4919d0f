#include "entitlements/token_resource.h"

#include "binding/native_conversion.h"

namespace qmx {

void RegisterTokenResourceType(TypeRegistry& registry, const std::string& typePrefix) {
  using R = EntitlementsTokenResource;
  TypeBuilder type = registry.BeginType(sizeof(R), typePrefix + "Token", TypeIdOf<R>(), false);
  AddMember(type, registry, "accessToken", &R::accessToken);
  AddMember(type, registry, "token", &R::token);
  AddMember(type, registry, "subject", &R::subject);
  AddMember(type, registry, "issuer", &R::issuer);
  AddMember(type, registry, "entitlements", &R::entitlements);
  type.SetDescription("");
}

}  // namespace qmx
