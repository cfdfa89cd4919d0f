// qmx-demo-service: the demo entitlements service on its own, for trying the
// reference host by hand.
//
//   qmx-demo-service [--listen ADDRESS:PORT]    (default 127.0.0.1:8471)
//   qmx-demo-service --help | --version
//
// Prints the token URL to put into "region_data" and runs until SIGINT or
// SIGTERM (Ctrl+C, or the console window closed, on Windows). See host/demo_service.h for what it answers.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "../tool_options.h"
#include "demo_service.h"
#include "host_platform.h"

namespace {

constexpr const char* kUsage =
    "usage: qmx-demo-service [--listen ADDRESS:PORT]    (default 127.0.0.1:8471)\n"
    "       qmx-demo-service --help | --version\n"
    "Serves the demo entitlements service on a loopback address until SIGINT or SIGTERM.\n";

}  // namespace

int main(int argc, char** argv) {
  if (int status = qmx::tools::AnswerHelpOrVersion(argc, argv, "qmx-demo-service", kUsage);
      status >= 0)
    return status;
  std::string listen = "127.0.0.1:8471";
  if (argc == 3 && std::string(argv[1]) == "--listen") {
    listen = argv[2];
  } else if (argc != 1) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  size_t colon = listen.rfind(':');
  int port = colon == std::string::npos ? -1 : std::atoi(listen.c_str() + colon + 1);
  std::string address = colon == std::string::npos ? "" : listen.substr(0, colon);
  if (port < 0 || port > 65535 || !(address == "localhost" || address.starts_with("127."))) {
    std::fprintf(stderr, "qmx-demo-service: --listen wants a loopback ADDRESS:PORT, got '%s'\n", listen.c_str());
    std::fputs(kUsage, stderr);
    return 2;
  }

  qmx::host::CatchStopRequests();

  qmx::host::DemoService service;
  if (qmx::Result<void, std::string> listening = service.Start(address, port); !listening) {
    std::fprintf(stderr, "qmx-demo-service: %s\n", listening.error().c_str());
    return 1;
  }
  std::printf("qmx-demo-service: token URL %s\n", service.TokenUrl().c_str());
  std::fflush(stdout);
  qmx::host::WaitForStop();
  service.Stop();
  std::printf("qmx-demo-service: stopped after %d token requests\n", service.Requests());
  return 0;
}
