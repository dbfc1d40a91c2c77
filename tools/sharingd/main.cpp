// sharingd: serves the sharing service's numbered actions on loopback for the reader and the
// tests. Stops on SIGINT or SIGTERM.
#include <pthread.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>


#include "os/core/String.h"
#include "tools/common/ProgramEntry.h"
#include "tools/sharingd/server/SharingServer.h"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: sharingd [--host ADDR] [--port N] [--free-if-taken] [--port-file PATH] [--state PATH] [--grant-at-once] [--verbose]\n"
               "                [--parent PID] [--fault ACTION=FAULT]...\n"
               "  --port 0 picks a free port; --port-file receives the port once the server listens.\n"
               "  --free-if-taken: a --port that cannot be bound gives way to a free one (said on standard error).\n"
               "  --parent stops the service when process PID (the script that started it) ends.\n"
               "  --state keeps users, their platform sign-ins and the application's platform keys in PATH\n"
               "          between runs; a damaged PATH is refused, not replaced.\n"
               "  Web authorisation shows a sign-in page: the test account is %s, password %s;\n"
               "  --grant-at-once skips the page.\n"
               "  ACTION: an action number 0-19, or all.\n"
               "  FAULT: st:CODE (the answer's status), garbage (text that does not decipher),\n"
               "         4xx or 5xx (an HTTP error), stall (never answers), hold (answers once the\n"
               "         service is sent SIGUSR1) or none.\n",
               sharingd::kTestAccount, sharingd::kTestPassword);
}

}  // namespace

int main(int argc, char** argv) {
  sharingd::ServerOptions options;
  options.signInPage = true;
  std::string portFile;
  std::string stateFile;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "sharingd: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--host") {
      options.host = value();
    } else if (arg == "--port") {
      std::string text = value();
      int port = os::intValue(text);
      if (std::to_string(port) != text || port < 0 || port > 65535) return usage(), 2;
      options.port = port;
    } else if (arg == "--free-if-taken") {
      options.freeIfTaken = true;
    } else if (arg == "--port-file") {
      portFile = value();
    } else if (arg == "--state") {
      stateFile = value();
    } else if (arg == "--grant-at-once") {
      options.signInPage = false;
    } else if (arg == "--parent") {
      if (!tools::stopWithParent("sharingd", i + 1 < argc ? argv[++i] : "")) return 1;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--fault") {
      std::string text = value();
      auto equals = text.find('=');
      std::string target = text.substr(0, equals);
      int action = target == "all" ? -1 : os::intValue(target);
      auto fault = equals == std::string::npos ? std::nullopt : sharingd::parseFault(text.substr(equals + 1));
      bool validTarget = target == "all" || (std::to_string(action) == target && action >= 0 && action <= 19);
      if (!fault || !validTarget) {
        std::fprintf(stderr, "sharingd: bad --fault %s\n", text.c_str());
        return usage(), 2;
      }
      options.faults[action] = *fault;
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else {
      std::fprintf(stderr, "sharingd: unknown option %s\n", arg.c_str());
      return usage(), 2;
    }
  }

  tools::takeStopSignals();
  // SIGUSR1 lets held requests go. Blocked before any thread starts, it is taken only by the
  // waiting thread below, never by a handler.
  sigset_t releaseSignal;
  sigemptyset(&releaseSignal);
  sigaddset(&releaseSignal, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &releaseSignal, nullptr);

  sharingd::SharingServer server(options);
  if (std::string error; !stateFile.empty() && !server.service().keepStateIn(stateFile, &error)) {
    std::fprintf(stderr, "sharingd: %s\n", error.c_str());
    return 1;
  }
  auto port = server.bind();
  if (!port) {
    std::fprintf(stderr, "sharingd: cannot listen on %s:%d\n", options.host.c_str(), options.port);
    return 1;
  }
  if (options.port != 0 && *port != options.port)
    std::fprintf(stderr, "sharingd: port %d cannot be taken; a free one instead\n", options.port);
  if (!portFile.empty() && !tools::writePortFile(portFile, *port)) {
    std::fprintf(stderr, "sharingd: cannot write %s\n", portFile.c_str());
    return 1;
  }
  std::fprintf(stderr, "sharingd: listening on http://%s:%d\n", options.host.c_str(), *port);
  std::atomic<bool> ended{false};
  std::thread releaser([&] {
    for (;;) {
      int signal = 0;
      sigwait(&releaseSignal, &signal);
      if (ended) return;
      server.releaseHeld();
    }
  });
  tools::serveUntilSignalled([&] { server.serve(); }, [&] { server.stop(); });
  ended = true;
  pthread_kill(releaser.native_handle(), SIGUSR1);
  releaser.join();
  return 0;
}
