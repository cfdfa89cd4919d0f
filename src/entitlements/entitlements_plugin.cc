#include "entitlements/entitlements_plugin.h"

namespace qmx {

EntitlementsPlugin::EntitlementsPlugin() : Plugin("entitlements") {}

EntitlementsPlugin::~EntitlementsPlugin() = default;

Plugin* EntitlementsPlugin::Create() { return new EntitlementsPlugin(); }

}  // namespace qmx
