// EntitlementsPlugin: keeps the entitlements token of the signed-in user current.
#pragma once

#include "plugin/plugin.h"

namespace qmx {

class EntitlementsPlugin : public Plugin {
 public:
  EntitlementsPlugin();
  ~EntitlementsPlugin() override;

  static Plugin* Create();
};

}  // namespace qmx
