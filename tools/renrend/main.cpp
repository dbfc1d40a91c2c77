// renrend: serves the Renren REST API on loopback with tokens given on the command line. Stops on
// SIGINT or SIGTERM.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "os/core/String.h"
#include "tools/common/ProgramEntry.h"
#include "tools/renrend/server/RenrenServer.h"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: renrend [--host ADDR] [--port N] [--bearer TOKEN:UID]... [--mac TOKEN:KEY:UID]...\n"
               "  --port 0 picks a free port, printed on standard output once the server listens.\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1";
  long long port = 0;
  std::vector<std::vector<std::string>> bearers, macs;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return usage(), 2;
    std::string value = argv[++i];
    if (arg == "--host") {
      host = value;
    } else if (arg == "--port") {
      port = os::longLongValue(value);
      if (port < 0 || port > 65535) return usage(), 2;
    } else if (arg == "--bearer") {
      auto parts = os::split(value, ":");
      if (parts.size() != 2) return usage(), 2;
      bearers.push_back(parts);
    } else if (arg == "--mac") {
      auto parts = os::split(value, ":");
      if (parts.size() != 3) return usage(), 2;
      macs.push_back(parts);
    } else {
      return usage(), 2;
    }
  }
  tools::takeStopSignals();

  renrend::RenrenServer server(host);
  for (const auto& b : bearers) server.api().addBearerToken(b[0], b[1]);
  for (const auto& m : macs) server.api().addMacToken(m[0], m[1], m[2]);
  auto bound = server.bind(static_cast<int>(port));
  if (!bound) {
    std::fprintf(stderr, "renrend: cannot listen on %s:%lld\n", host.c_str(), port);
    return 1;
  }
  std::printf("%d\n", *bound);
  std::fflush(stdout);
  tools::serveUntilSignalled([&] { server.serve(); }, [&] { server.stop(); });
  return 0;
}
