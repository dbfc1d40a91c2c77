// newsreader: runs the reader headless against a news server. It prints the visible screen as
// text whenever it changes and runs the reader's touches as commands, each as its line arrives on
// standard input (see `help`). Standard input that ends before any command plays a short tour.
//
//   newsreader --home DIR --server URL [--hosts FILE] [--trust PEM] [--sharing-server URL]
//              [--push-control PORT] [--verbose] [--parent PID]

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "app/RemoteNotificationLink.h"
#include "app/VXAppDelegate.h"
#include "app/main/ReaderCommands.h"
#include "app/main/MessengerPeer.h"
#include "app/main/QQPeer.h"
#include "app/main/ReaderHome.h"
#include "news/api/VXReaderContext.h"
#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/net/CertificateTrust.h"
#include "os/net/HostLookup.h"
#include "os/net/NetworkReachability.h"
#include "os/store/Bundle.h"
#include "os/store/FileLock.h"
#include "os/store/FileManager.h"
#include "os/runtime/Process.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/StopRequests.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
#include "os/views/Application.h"
#include "os/views/Device.h"

namespace {

// The simulated phone is on Wi-Fi, on the same network as the server: the news client asks the
// server for its categories only on Wi-Fi, and a Linux host has no link-local network to report.
class WiFiReachability : public os::ReachabilityProvider {
 public:
  std::optional<std::uint32_t> flags(const os::ReachabilityTarget&) override {
    return os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsDirect;
  }
};

// In the home folder, beside the sandbox's own folders.
constexpr const char* kLogFileName = "console.log";

// Blocks from this size up get mappings of their own (the allocator's default start).
constexpr std::size_t kLargeAllocation = 128 * 1024;
constexpr int kAllocatorHeaps = 1;

void usage() {
  std::fprintf(stderr,
               "usage: newsreader --home DIR --server URL [--hosts FILE] [--trust PEM] [--sharing-server URL]\n"
               "                  [--push-control PORT] [--verbose] [--parent PID]\n"
               "  --home    the reader's sandbox folder (made on first run)\n"
               "  --server  the news server's root, e.g. http://127.0.0.1:8080\n"
               "  --hosts   host routes, one a line: NAME[:PORT] ADDRESS[:PORT] (\"-\" fails the name)\n"
               "  --trust   a PEM certificate authority trusted beside the system's (local services)\n"
               "  --sharing-server  the sharing service's base URL (SocialSDK-config's baseURL)\n"
               "  --push-control  the push service's control port: the device links to its push channel\n"
               "            there and the tour ends with one pushed headline\n"
               "  --verbose the reader's log lines on standard error as well as in HOME/console.log\n"
               "  --parent  ends the reader when process PID (the script that started it) ends\n"
               "Commands on standard input: type `help` for the list.\n");
}

// A server's root as the requests build on it: http or https, with a host.
bool isServiceURL(const std::string& text) {
  auto url = os::URL::parse(text);
  if (!url) return false;
  std::string scheme = os::lowercaseASCII(url->scheme());
  auto host = url->host();
  return (scheme == "http" || scheme == "https") && host && !host->empty();
}

// How long the reader's components may take to save what they keep when it ends (the platform
// gives an application that is left some seconds before it is stopped).
constexpr double kLeaveLimit = 10;

// Ends the process without running static destructors: the network thread and the image
// queues may still be winding down, and what needed saving was saved as the application left.
[[noreturn]] void finish(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}

}  // namespace

int main(int argc, char** argv) {
  // Decoded pictures are large and short-lived, made and freed on different threads: given their
  // own mappings they go back to the system when freed. Left to the allocator's sliding threshold
  // they end up in its heaps after the first few, which keep the freed memory (an offline download
  // then holds twice the picture cache's bound).
  os::giveLargeAllocationsTheirOwnMappings(kLargeAllocation);
  // The reader's few threads (network, picture loading, disk) share the main thread's heap.
  os::limitAllocatorHeaps(kAllocatorHeaps);
  // Whoever reads the screens may go first (`| head`, a script that was killed): the next print
  // then fails, and the commands end as at `quit`, so what the reader keeps is saved. Before the
  // application launches, so its crash hooks find the signal ignored and leave it so.
  os::letWritesToClosedPipesFail();
  std::string home, server, hosts, trust, sharingServer;
  long pushControl = 0;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "--home" || arg == "--server") && i + 1 < argc) {
      (arg == "--home" ? home : server) = argv[++i];
    } else if ((arg == "--hosts" || arg == "--trust") && i + 1 < argc) {
      (arg == "--hosts" ? hosts : trust) = argv[++i];
    } else if (arg == "--sharing-server" && i + 1 < argc) {
      sharingServer = argv[++i];
    } else if (arg == "--push-control" && i + 1 < argc) {
      char* end = nullptr;
      pushControl = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || pushControl <= 0 || pushControl > 65535) {
        usage();
        return 2;
      }
    } else if (arg == "--parent") {
      if (std::string why; !os::stopWithParent(i + 1 < argc ? argv[++i] : "", why)) {
        std::fprintf(stderr, "newsreader: %s\n", why.c_str());
        return 1;
      }
    } else if (arg == "--verbose" || arg == "-v") {
      verbose = true;
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else {
      std::fprintf(stderr, "newsreader: unknown argument %s\n", arg.c_str());
      usage();
      return 2;
    }
  }
  if (home.empty() || server.empty()) {
    usage();
    return 2;
  }
  for (const auto& [option, url] : {std::pair{"--server", server}, std::pair{"--sharing-server", sharingServer}}) {
    if (url.empty() || isServiceURL(url)) continue;
    std::fprintf(stderr, "newsreader: %s needs an http or https URL with a host, e.g. http://127.0.0.1:8080, not \"%s\"\n",
                 option, os::escapeControlCharacters(url).c_str());
    return 2;
  }

  os::RunLoop::makeCurrentThreadMain();
  // A request to stop (kill, the end of the terminal, an interrupt key, the end of the script that
  // started us) ends the reader as `quit` does, so what it keeps is saved on the way out.
  std::optional<os::StopRequests::Request> stopRequest;
  reader::ReaderCommands* running = nullptr;
  auto stops = os::StopRequests::watch(os::RunLoop::main(), [&](const os::StopRequests::Request& request) {
    if (!stopRequest) os::log("newsreader: " + request.name + ", ending\n");
    stopRequest = request;
    if (running) running->stop();
  });
  os::Error error;
  for (const auto& [option, path] : {std::pair{"--hosts", hosts}, std::pair{"--trust", trust}}) {
    if (path.empty()) continue;
    auto text = os::FileManager::defaultManager().contentsAtPath(path);
    std::string bad;
    if (!text) {
      std::fprintf(stderr, "newsreader: cannot read %s %s\n", option, path.c_str());
      return 1;
    }
    std::string contents(text->begin(), text->end());
    if (option == std::string("--trust")) {
      os::CertificateTrust::addTrustedAuthority(contents);
    } else if (!os::HostLookup::addRoutesFromText(contents, &bad)) {
      std::fprintf(stderr, "newsreader: bad line in %s: %s\n", path.c_str(), bad.c_str());
      return 1;
    }
  }
  // Taken before anything is written to the home, and held until the process ends.
  std::string refusal;
  auto homeLock = reader::lockHome(home, &refusal);
  if (!homeLock) {
    std::fprintf(stderr, "newsreader: %s\n", refusal.c_str());
    return 1;
  }
  auto sandbox = reader::prepareHome(home, &error);
  if (!sandbox) {
    std::fprintf(stderr, "newsreader: cannot prepare %s: %s\n", home.c_str(), error.localizedDescription().c_str());
    return 1;
  }
  os::Sandbox::setCurrent(sandbox);
  // The clients' log lines are for developers: kept in the home, and on standard error only when
  // asked for, so a person reading the screens is not buried in them.
  const std::string logFile = home + "/" + kLogFileName;
  if (!os::logToFile(logFile, verbose))
    std::fprintf(stderr, "newsreader: cannot write %s; logging to standard error\n", logFile.c_str());
  if (!sharingServer.empty() &&
      !os::PropertyList::writeFile(os::Value(os::Dictionary{{"baseURL", os::Value(sharingServer)}}),
                                   sandbox->bundlePath() + "/SocialSDK-config.plist", os::PropertyListFormat::XML, &error)) {
    std::fprintf(stderr, "newsreader: cannot write the sharing configuration: %s\n", error.localizedDescription().c_str());
    return 1;
  }
  os::ReachabilityProvider::setShared(std::make_shared<WiFiReachability>());
  // The news server also plays the device's store: its product pages fill the store sheet.
  os::DeviceProfile device = os::Device::current().profile();
  device.storeURL = server;
  os::Device::current().setProfile(device);
  auto context = reader::makeReaderContext(server);
  VXReaderContext::setCurrent(context);

  auto app = os::Application::create(std::make_shared<VXAppDelegate>(context), reader::kBundleIdentifier);
  // Installing an application registers the URL schemes its Info.plist declares.
  app->registerURLSchemesFromInfoDictionary(sandbox->mainBundle()->infoDictionary());
  app->launch();
  // The messenger on the same device, where the sheet's two messenger platforms share to.
  auto messenger = reader::installMessenger(home + "/Peers/Messenger", sandbox, std::cout);
  // QQ on the same device, where the sheet's QQ and QZone platforms share to.
  auto qq = reader::installQQ(home + "/Peers/QQ", sandbox, std::cout);
  reader::ReaderCommands commands(std::cout);
  // The push service plays the platform's push channel on its control port: the device links to
  // it, and the tour asks it for one headline.
  std::shared_ptr<RemoteNotificationLink> pushChannel;
  if (pushControl != 0) {
    auto port = static_cast<std::uint16_t>(pushControl);
    pushChannel = RemoteNotificationLink::connect(app, port);
    if (!pushChannel) std::fprintf(stderr, "newsreader: cannot reach the push channel on port %u\n", unsigned(port));
    commands.setPushControlPort(port);
  }

  running = &commands;
  if (stopRequest) commands.stop();

  // Each command runs as its line arrives, from a terminal, a pipe or a file; standard input that
  // ends before any command plays the tour.
  int code = commands.runInput(os::standardInputIsTerminal());
  if (commands.outputClosed()) os::log("newsreader: standard output is closed, ending");
  // However the commands ended (`quit`, the end of input, a request to stop, the output closing),
  // the application is left as a person leaves it, and each component saves then what it keeps.
  if (!app->leave(kLeaveLimit)) os::log("newsreader: some of the work of ending was cut short\n");
  running = nullptr;
  finish(stopRequest ? 128 + stopRequest->number : code);
}
