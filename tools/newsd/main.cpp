// newsd: serves the sample news and promotion APIs on loopback for the reader and the end-to-end
// tests. Stops on SIGINT or SIGTERM.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <string>

#include "tools/common/ProgramEntry.h"
#include "tools/newsd/server/NewsServer.h"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: newsd [--host ADDR] [--port N] [--free-if-taken] [--port-file PATH] [--state PATH] [--seed N] [--verbose] [--parent PID]\n"
               "  --parent PID stops the service when process PID (the script that started it) ends.\n"
               "             [--pass 0|1] [--nctime SECONDS] [--latest-version V] [--update-url URL]\n"
               "             [--news-key KEY32] [--promotion-key KEY30]\n"
               "             [--fault TARGET=FAILURE]... [--delay TARGET=SECONDS]...\n"
               "  --port 0 picks a free port; --port-file receives the port once the server listens.\n"
               "  --free-if-taken: a --port that cannot be bound gives way to a free one (said on standard error).\n"
               "  --state keeps what readers did (favourites, votes) in PATH between runs; a file there\n"
               "          that is cut short or not a state file is moved aside and the server does not start;\n"
               "          nor does it while another server keeps PATH (its lock is PATH.lock).\n"
               "  TARGET: an opcode, common (the version check: 设置, 版本升级) or img (every picture).\n"
               "  Opcodes and the screens they serve:\n"
               "    1000 activation (the splash, and a return to the foreground)\n"
               "    1001 read history (sent after an article is read)\n"
               "    1010 a category's list (each tab's list: its load, pull and next page; offline download)\n"
               "    1020 an article (the article and album screens; offline download)\n"
               "    1030 an article's votes and favourite mark (the article and album screens)\n"
               "    1040 the category list (the tab strip)\n"
               "    1050 favourites (menu, 收藏)\n"
               "    1060 a vote (the article's vote row)\n"
               "    1070 a favourite added or removed (the article's and album's 收藏)\n"
               "    1090 a crash dump (sent at start-up)\n"
               "    1100 an article body that could not be read (the article screen)\n"
               "    1110 feedback (设置, 意见反馈)\n"
               "    2002 an ad tapped (the article's ad row, 精彩应用)\n"
               "    2613 the article ads (the article screen's ad row)\n"
               "    2616 the recommended apps (menu, 精彩应用; shown with --pass 0)\n"
               "  FAILURE: none, errorcode (\"errorcode\" -1), noresult (\"data\" without \"result\"),\n"
               "           500 (HTTP 500) or stall (never answers); errorcode and noresult not for img.\n"
               "  --delay holds every answer of the target, failures included, for SECONDS.\n");
}

bool parseNumber(const char* text, long long& out) {
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') return false;
  out = v;
  return true;
}

// The stored keys are letters and digits of a fixed length, as the reader keeps them.
bool plausibleKey(const std::string& key, std::size_t length) {
  if (key.size() != length) return false;
  for (char ch : key)
    if (!std::isalnum(static_cast<unsigned char>(ch))) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  newsd::ServerOptions options;
  std::string portFile, stateFile;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "newsd: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    long long n = 0;
    if (arg == "--host") {
      options.host = value();
    } else if (arg == "--port") {
      if (!parseNumber(value(), n) || n < 0 || n > 65535) return usage(), 2;
      options.port = static_cast<int>(n);
    } else if (arg == "--free-if-taken") {
      options.freeIfTaken = true;
    } else if (arg == "--port-file") {
      portFile = value();
    } else if (arg == "--state") {
      stateFile = value();
    } else if (arg == "--seed") {
      if (!parseNumber(value(), n)) return usage(), 2;
      options.seed = static_cast<std::uint64_t>(n);
    } else if (arg == "--parent") {
      if (!tools::stopWithParent("newsd", i + 1 < argc ? argv[++i] : "")) return 1;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--pass") {
      if (!parseNumber(value(), n) || (n != 0 && n != 1)) return usage(), 2;
      options.service.pass = static_cast<int>(n);
    } else if (arg == "--nctime") {
      if (!parseNumber(value(), n) || n < 0) return usage(), 2;
      options.service.nctime = static_cast<double>(n);
    } else if (arg == "--latest-version") {
      options.service.latestVersion = value();
    } else if (arg == "--update-url") {
      options.service.updateURL = value();
    } else if (arg == "--news-key") {
      options.service.newsKey = value();
      if (!plausibleKey(options.service.newsKey, 32)) return usage(), 2;
    } else if (arg == "--promotion-key") {
      options.service.promotionKey = value();
      if (!plausibleKey(options.service.promotionKey, 30)) return usage(), 2;
    } else if (arg == "--fault" || arg == "--delay") {
      const char* text = value();
      bool fault = arg == "--fault";
      if (!(fault ? newsd::applyFaultArgument(text, options.faults) : newsd::applyDelayArgument(text, options.faults))) {
        std::fprintf(stderr, "newsd: bad %s %s\n", arg.c_str(), text);
        return usage(), 2;
      }
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else {
      std::fprintf(stderr, "newsd: unknown option %s\n", arg.c_str());
      usage();
      return 2;
    }
  }

  tools::takeStopSignals();

  newsd::NewsServer server(options);
  if (!stateFile.empty()) {
    if (auto problem = server.service().keepStateIn(stateFile)) {
      std::fprintf(stderr, "newsd: %s\n", problem->c_str());
      return 1;
    }
  }
  auto port = server.bind();
  if (!port) {
    std::fprintf(stderr, "newsd: cannot listen on %s:%d\n", options.host.c_str(), options.port);
    return 1;
  }
  if (options.port != 0 && *port != options.port)
    std::fprintf(stderr, "newsd: port %d cannot be taken; a free one instead\n", options.port);
  if (!portFile.empty() && !tools::writePortFile(portFile, *port)) {
    std::fprintf(stderr, "newsd: cannot write %s\n", portFile.c_str());
    return 1;
  }
  std::fprintf(stderr, "newsd: listening on http://%s:%d (seed %llu)\n", options.host.c_str(), *port,
               static_cast<unsigned long long>(options.seed));
  for (const auto& [target, fault] : options.faults)
    std::fprintf(stderr, "newsd: %s: failure %s, delay %.3g s\n", newsd::describe(target).c_str(),
                 std::string(newsd::failureName(fault.failure)).c_str(), fault.delay);

  tools::serveUntilSignalled([&] { server.serve(); }, [&] { server.stop(); });
  return 0;
}
