// qqconnectd: serves the QQ Connect service on loopback for the reader and the tests: the web
// login's authorisation page, the OpenAPI operations and the policy, report and analytics CGIs.
// Stops on SIGINT or SIGTERM.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "os/core/String.h"
#include "tools/common/ProgramEntry.h"
#include "tools/qqconnectd/server/QQConnectServer.h"

namespace {

using qqconnectd::QQConnectService;

void usage() {
  std::fprintf(stderr,
               "usage: qqconnectd [--host ADDR] [--port N] [--free-if-taken] [--port-file PATH] [--verbose] [--parent PID]\n"
               "  --parent PID stops the service when process PID (the script that started it) ends.\n"
               "  --port 0 (the default) picks a free port; --port-file receives the port once the server listens.\n"
               "  --free-if-taken: a --port that cannot be bound gives way to a free one (said on standard error).\n"
               "  --verbose says each request and what came of it on standard error.\n"
               "  Paths: %s (sign-in page; test account %s, password %s), %s, %s, %s,\n"
               "         %s, %s, %s.\n",
               QQConnectService::kAuthorizePath, QQConnectService::kTestAccount, QQConnectService::kTestPassword,
               QQConnectService::kOpenIdPath, QQConnectService::kUserInfoPath, QQConnectService::kAddSharePath,
               QQConnectService::kPolicyPath, QQConnectService::kReportPath, QQConnectService::kAnalyticsPath);
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1";
  int port = 0;
  std::string portFile;
  bool verbose = false;
  bool freeIfTaken = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "qqconnectd: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--host") {
      host = value();
    } else if (arg == "--port") {
      std::string text = value();
      port = os::intValue(text);
      if (std::to_string(port) != text || port < 0 || port > 65535) return usage(), 2;
    } else if (arg == "--free-if-taken") {
      freeIfTaken = true;
    } else if (arg == "--port-file") {
      portFile = value();
    } else if (arg == "--parent") {
      if (!tools::stopWithParent("qqconnectd", i + 1 < argc ? argv[++i] : "")) return 1;
    } else if (arg == "--verbose") {
      verbose = true;
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else {
      std::fprintf(stderr, "qqconnectd: unknown option %s\n", arg.c_str());
      return usage(), 2;
    }
  }

  tools::takeStopSignals();

  qqconnectd::QQConnectServer server(host);
  server.setVerbose(verbose);
  auto bound = server.bind(port, freeIfTaken);
  if (!bound) {
    std::fprintf(stderr, "qqconnectd: cannot listen on %s:%d\n", host.c_str(), port);
    return 1;
  }
  if (port != 0 && *bound != port)
    std::fprintf(stderr, "qqconnectd: port %d cannot be taken; a free one instead\n", port);
  if (!portFile.empty() && !tools::writePortFile(portFile, *bound)) {
    std::fprintf(stderr, "qqconnectd: cannot write %s\n", portFile.c_str());
    return 1;
  }
  std::fprintf(stderr, "qqconnectd: listening on http://%s:%d; the sign-in page takes the test account %s, password %s\n",
               host.c_str(), *bound, QQConnectService::kTestAccount, QQConnectService::kTestPassword);
  tools::serveUntilSignalled([&] { server.serve(); }, [&] { server.stop(); });
  return 0;
}
