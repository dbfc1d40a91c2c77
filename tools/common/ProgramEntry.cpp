#include "tools/common/ProgramEntry.h"

#include <pthread.h>

#include <climits>
#include <csignal>
#include <cstdlib>
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

bool stopWithParent(const std::string& program, const char* pid) {
  char* end = nullptr;
  const long parent = std::strtol(pid, &end, 10);
  if (end == pid || *end != '\0' || parent <= 1 || parent > INT_MAX) {
    std::fprintf(stderr, "%s: --parent takes a process id, not \"%s\"\n", program.c_str(), pid);
    return false;
  }
  if (os::stopWithParent(static_cast<int>(parent))) return true;
  std::fprintf(stderr, "%s: process %ld that started it has ended\n", program.c_str(), parent);
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
