// Region and entitlements-service URL lookup in the data-store settings.
//
// Both functions read the settings anew on every call and report each
// failure as one ERROR line (category mask 1); neither retries.
#pragma once

#include <string>

#include "plugin/json_api_client.h"

namespace qmx {

// The "region" member of the install setting "globals"; empty on failure.
// A "region" that is not a string gives the empty string without a log line.
std::string GetGlobalRegion(JsonApiClient& client);

// Walks region_data.<region>.servers.entitlements.entitlements_url in the
// system settings. The URL on success, the empty string on every failure.
std::string ResolveServiceUrl(JsonApiClient& client, const std::string& region);

}  // namespace qmx
