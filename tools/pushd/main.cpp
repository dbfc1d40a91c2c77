// pushd: the local push service on loopback (address lookup, push server, control port) for the
// reader and the tests. Stops on SIGINT or SIGTERM.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>

#include "tools/common/ProgramEntry.h"
#include "tools/pushd/server/PushServer.h"

namespace {

// What the main thread sleeps on: a stop signal, and the first login for --push-after.
struct Wake {
  std::mutex mutex;
  std::condition_variable changed;
  bool stopping = false;
  std::optional<std::chrono::steady_clock::time_point> firstLogin;
};

void usage() {
  std::fprintf(stderr,
               "usage: pushd [--lookup-port N] [--core-port N] [--control-port N] [--report-port N]\n"
               "             [--backup-core-port N] [--backup-report-port N] [--port-file PATH]\n"
               "             [--identities PATH] [--report-store PATH] [--server-version N]\n"
               "             [--push-after SECONDS JSON] [--free-if-taken] [--verbose] [--parent PID]\n"
               "  --parent PID stops the service when process PID (the script that started it) ends.\n"
               "  Ports default to 19000 (lookup; the push client's built-in one), free ports otherwise.\n"
               "  The lookup names the core address, the backup core address and the report service's\n"
               "  backup address (also as the user service); both backups serve as the primaries do.\n"
               "  --report-store keeps the newest records the report service accepted over restarts (the\n"
               "  newest 10000 within 16 MiB come back; past 64 MiB the file is written anew with them).\n"
               "  --free-if-taken: a port given that cannot be bound gives way to a free one (said on\n"
               "  standard error).\n"
               "  --port-file receives \"LOOKUP CORE CONTROL REPORT\" once the service listens.\n"
               "  --push-after pushes JSON (a message with \"title\" and \"message\") once, to every\n"
               "  logged-in client, SECONDS after the first client logged in.\n"
               "  Control port, one command a line: push JSON | push-id ID JSON | notify JSON | close | reset |\n"
               "  silence on|off | garbage | delay SECONDS | report ok|403|500|stall|garbage|crash|stall-after-store |\n"
               "  primary down|up. \"primary down\" silences the lookup and closes the primary core and report\n"
               "  ports (their connections end), so a client takes its backup addresses; \"primary up\" reopens\n"
               "  them. Each answers \"ok ...\" or \"error: <why>\", also for JSON that push and notify cannot send.\n"
               "  A line \"device TOKEN\" makes its connection a device's link to the push channel that\n"
               "  \"notify JSON\" plays: remote notifications arrive there as lines \"remote JSON\".\n");
}

bool number(const char* text, long& out) {
  char* end = nullptr;
  out = std::strtol(text, &end, 10);
  return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  tools::takeStopSignals();
  pushd::ServerOptions options;
  std::string portFile, pushContent;
  long pushAfter = -1;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        usage();
        std::exit(2);
      }
      return argv[++i];
    };
    long n = 0;
    if (arg == "--lookup-port" || arg == "--core-port" || arg == "--control-port" || arg == "--report-port" ||
        arg == "--backup-core-port" || arg == "--backup-report-port" || arg == "--server-version") {
      if (!number(value(), n) || n < 0 || n > 65535) return usage(), 2;
      auto port = static_cast<std::uint16_t>(n);
      if (arg == "--lookup-port") options.lookupPort = port;
      if (arg == "--core-port") options.corePort = port;
      if (arg == "--control-port") options.controlPort = port;
      if (arg == "--report-port") options.reportPort = port;
      if (arg == "--backup-core-port") options.backupCorePort = port;
      if (arg == "--backup-report-port") options.backupReportPort = port;
      if (arg == "--server-version") options.serverVersion = port;
    } else if (arg == "--free-if-taken") {
      options.freeIfTaken = true;
    } else if (arg == "--port-file") {
      portFile = value();
    } else if (arg == "--identities") {
      options.identityFile = value();
    } else if (arg == "--report-store") {
      options.reportStore = value();
    } else if (arg == "--push-after") {
      if (!number(value(), pushAfter) || pushAfter < 0) return usage(), 2;
      pushContent = value();
    } else if (arg == "--parent") {
      if (!tools::stopWithParent("pushd", i + 1 < argc ? argv[++i] : "")) return 1;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else {
      std::fprintf(stderr, "pushd: unknown option %s\n", arg.c_str());
      return usage(), 2;
    }
  }
  Wake wake;
  options.onLogin = [&wake] {
    {
      std::lock_guard lock(wake.mutex);
      if (!wake.firstLogin) wake.firstLogin = std::chrono::steady_clock::now();
    }
    wake.changed.notify_all();
  };
  std::string error;
  auto server = pushd::PushServer::start(options, &error);
  if (!server) {
    std::fprintf(stderr, "pushd: %s\n", error.c_str());
    return 1;
  }
  for (auto [name, asked, bound] : {std::tuple{"lookup", options.lookupPort, server->lookupPort()},
                                    std::tuple{"core", options.corePort, server->corePort()},
                                    std::tuple{"control", options.controlPort, server->controlPort()},
                                    std::tuple{"report", options.reportPort, server->reportPort()}})
    if (asked != 0 && asked != bound) std::fprintf(stderr, "pushd: %s port %d cannot be taken; a free one instead\n", name, asked);
  const std::string ports = std::to_string(server->lookupPort()) + " " + std::to_string(server->corePort()) + " " +
                            std::to_string(server->controlPort()) + " " + std::to_string(server->reportPort());
  if (!portFile.empty() && !tools::writePortFile(portFile, ports)) {
    std::fprintf(stderr, "pushd: cannot write %s\n", portFile.c_str());
    return 1;
  }
  // Sleeps until a stop signal, or, with --push-after, until that long after the first login.
  auto serve = [&] {
    std::unique_lock lock(wake.mutex);
    bool pushed = pushAfter < 0;
    while (!wake.stopping) {
      if (pushed || !wake.firstLogin) {
        wake.changed.wait(lock);
        continue;
      }
      if (wake.changed.wait_until(lock, *wake.firstLogin + std::chrono::seconds(pushAfter), [&] { return wake.stopping; })) break;
      lock.unlock();
      server->pushMessage(pushContent);
      lock.lock();
      pushed = true;
    }
  };
  tools::serveUntilSignalled(serve, [&] {
    {
      std::lock_guard lock(wake.mutex);
      wake.stopping = true;
    }
    wake.changed.notify_all();
  });
  server.reset();
  return 0;
}
