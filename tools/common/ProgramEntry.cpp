#include "tools/common/ProgramEntry.h"

#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>

#include "os/runtime/Process.h"

namespace tools {

namespace {
sigset_t stopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}
}  // namespace

void takeStopSignals() {
  sigset_t signals = stopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

void serveUntilSignalled(const std::function<void()>& serve, const std::function<void()>& stop) {
  std::thread waiter([&] {
    sigset_t signals = stopSignals();
    int signal = 0;
    sigwait(&signals, &signal);
    stop();
  });
  serve();
  // The server may end on its own (a failed accept loop): wake the waiter so it can finish.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
}

bool stopWithParent(const std::string& program, const std::string& pid) {
  std::string why;
  if (os::stopWithParent(pid, why)) return true;
  std::fprintf(stderr, "%s: %s\n", program.c_str(), why.c_str());
  return false;
}

bool writePortFile(const std::string& path, const std::string& ports) {
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    if (!out) return false;
    out << ports << "\n";
    if (!out.flush()) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace tools
