// qmx-host: the reference plugin host.
//
//   qmx-host [--plugin SO] [--config FILE] [--listen ADDRESS:PORT]
//            [--interface-version MAJOR.MINOR.PATCH] [--timeout SECONDS]
//   qmx-host --demo [--plugin SO] [--interface-version ...] [--timeout SECONDS]
//   qmx-host --help | --version
//
// Loads the plugin (by default qmx-be-entitlements.so, or .dll on Windows,
// beside this program, or in the library folder of the installed tree),
// seeds the JSON API from the configuration file, starts the plugin and runs
// until SIGINT or SIGTERM (Ctrl+C, or the console window closed, on
// Windows), when it shuts the plugin down and exits 0. With
// --listen the JSON API is served over HTTP on a loopback address. --demo
// plays a whole session against a demo entitlements service instead and exits
// 0 when every check held.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "config_file.h"
#include "demo_session.h"
#include "host_platform.h"
#include "http_front.h"
#include "port/module.h"
#include "reference_host.h"

namespace {

struct Arguments {
  std::string plugin;
  std::string config;
  std::string listen;
  unsigned major = 18, minor = 0, patch = 0;
  double timeout = 10;
  bool demo = false;
  bool help = false;
  bool version = false;
};

constexpr const char* kUsage =
    "usage: qmx-host [--plugin SO] [--config FILE] [--listen ADDRESS:PORT]\n"
    "                [--interface-version MAJOR.MINOR.PATCH] [--timeout SECONDS]\n"
    "       qmx-host --demo [--plugin SO] [--interface-version ...] [--timeout SECONDS]\n"
    "       qmx-host --help | --version\n"
    "--interface-version is the plugin-interface version the host announces (18.0.0).\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "qmx-host: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

// The plugin beside this program (the build tree), else the one in the
// installed tree's library folder (QMX_PLUGIN_FROM_BIN is that folder
// relative to the program's own).
std::string DefaultPlugin() {
  namespace fs = std::filesystem;
  const std::string name = qmx::host::PluginFileName();
  char self[4096];
  if (!qmx::port::ExecutablePath(self, sizeof self)) return name;
  fs::path folder = fs::path(self).parent_path();
  std::error_code ignored;
  if (fs::exists(folder / name, ignored)) return (folder / name).string();
  fs::path installed = folder / QMX_PLUGIN_FROM_BIN / name;
  if (fs::exists(installed, ignored)) return installed.string();
  return (folder / name).string();
}

// The options of the command line, or the problem with them.
qmx::Result<Arguments, std::string> Parse(int argc, char** argv) {
  Arguments arguments;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* text = nullptr;
    if (option == "--help" || option == "--version") {
      // The first of the two wins; the rest of the line is not looked at.
      (option == "--help" ? arguments.help : arguments.version) = true;
      return arguments;
    } else if (option == "--demo") {
      arguments.demo = true;
    } else if (option == "--plugin" || option == "--config" || option == "--listen" ||
               option == "--interface-version" || option == "--timeout") {
      if ((text = value()) == nullptr) {
        return qmx::Fail(option + " wants a value");
      }
      if (option == "--plugin") arguments.plugin = text;
      if (option == "--config") arguments.config = text;
      if (option == "--listen") arguments.listen = text;
      if (option == "--interface-version" &&
          std::sscanf(text, "%u.%u.%u", &arguments.major, &arguments.minor, &arguments.patch) != 3) {
        return qmx::Fail("--interface-version wants MAJOR.MINOR.PATCH");
      }
      if (option == "--timeout") {
        char* end = nullptr;
        arguments.timeout = std::strtod(text, &end);
        if (end == text || *end != '\0' || !(arguments.timeout > 0) || arguments.timeout > 3600) {
          return qmx::Fail("--timeout wants seconds between 0 and 3600");
        }
      }
    } else {
      return qmx::Fail("unknown argument '" + option + "'");
    }
  }
  if (arguments.demo && (!arguments.config.empty() || !arguments.listen.empty())) {
    return qmx::Fail("--demo brings its own configuration and serves no HTTP");
  }
  if (arguments.plugin.empty()) arguments.plugin = DefaultPlugin();
  return arguments;
}

int RunDemo(const Arguments& arguments) {
  static std::atomic<bool> interrupted{false};
  std::thread watcher([] {
    qmx::host::WaitForStop();
    interrupted = true;
  });
  watcher.detach();  // the process ends with the demo

  qmx::host::DemoOptions options;
  options.pluginPath = arguments.plugin;
  options.major = arguments.major;
  options.minor = arguments.minor;
  options.patch = arguments.patch;
  options.externalTimeoutSeconds = arguments.timeout;
  options.interrupted = &interrupted;
  return qmx::host::RunDemo(options, std::cout).exitCode;
}

int RunHost(const Arguments& arguments) {
  using namespace qmx::host;
  qmx::Value config;
  if (!arguments.config.empty()) {
    qmx::Result<qmx::Value, std::string> read = ReadConfigFile(arguments.config);
    if (!read) {
      std::fprintf(stderr, "qmx-host: %s\n", read.error().c_str());
      return 1;
    }
    config = std::move(read).value();
  }
  qmx::Result<std::unique_ptr<PluginModule>, std::string> opened = PluginModule::Open(arguments.plugin);
  if (!opened) {
    std::fprintf(stderr, "qmx-host: %s\n", opened.error().c_str());
    return 1;
  }
  std::unique_ptr<PluginModule> plugin = std::move(opened).value();
  ReferenceHost::Options hostOptions;
  hostOptions.externalTimeoutSeconds = arguments.timeout;
  ReferenceHost host(hostOptions);
  if (!config.IsEmpty()) {
    if (qmx::Result<void, std::string> seeded = host.SeedFromConfig(config); !seeded) {
      std::fprintf(stderr, "qmx-host: %s: %s\n", arguments.config.c_str(), seeded.error().c_str());
      return 1;
    }
  }
  if (qmx::Result<void, std::string> started = host.Start(*plugin, arguments.major, arguments.minor,
                                                          arguments.patch);
      !started) {
    std::fprintf(stderr, "qmx-host: %s\n", started.error().c_str());
    return 1;
  }
  std::printf("qmx-host: plugin '%s' %u.%u.%u running\n", plugin->Record().shortName, plugin->Record().major,
              plugin->Record().minor, plugin->Record().patch);

  HttpFront front(host);
  if (!arguments.listen.empty()) {
    if (qmx::Result<void, std::string> listening = front.Start(arguments.listen); !listening) {
      std::fprintf(stderr, "qmx-host: %s\n", listening.error().c_str());
      host.Stop();
      return 1;
    }
    std::printf("qmx-host: listening on %s\n", front.Url().c_str());
  }
  std::fflush(stdout);

  StopRequest stop = WaitForStop();
  std::printf("qmx-host: %s, shutting down\n", StopRequestName(stop));
  front.Stop();
  host.Stop();
  MemoryStats after = plugin->Memory();
  std::printf("qmx-host: plugin memory in use after Shutdown: %llu bytes\n",
              static_cast<unsigned long long>(after.bytesAllocated - after.bytesReleased));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qmx::Result<Arguments, std::string> parsed = Parse(argc, argv);
  if (!parsed) return Usage(parsed.error());
  const Arguments& arguments = parsed.value();
  if (arguments.help || arguments.version) {
    if (arguments.help) {
      std::fputs(kUsage, stdout);
    } else {
      std::printf("qmx-host %s\n", QMX_PACKAGE_VERSION);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  // Before any thread starts: a stop request then only wakes WaitForStop.
  qmx::host::CatchStopRequests();
  return arguments.demo ? RunDemo(arguments) : RunHost(arguments);
}
