// Outside HTTP requests performed for the plugin: with libcurl on Linux and
// WinHTTP on Windows (http_exchange.h).
#pragma once

#include "interface/host_api.h"
#include "reference_host.h"

namespace qmx::host {

// Performs request and fills response (which the caller zeroed): result 0 with
// the status, headers and body when the service answered; otherwise result 1
// (not reached), 2 (timed out) or -1 (a request the host refuses), with the
// reason as the body text. The response's release function frees what this
// filled. Returns the record of the call for observers.
ExternalCallRecord PerformExternalRequest(const ExternalRequest& request, ExternalResponse& response,
                                          double timeoutSeconds);

}  // namespace qmx::host
