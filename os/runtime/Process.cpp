#include "os/runtime/Process.h"

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdlib>

extern char** environ;

namespace os {

void giveLargeAllocationsTheirOwnMappings(std::size_t bytes) {
  // Setting the threshold also stops the allocator from raising it after large frees.
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(bytes > INT_MAX ? INT_MAX : bytes));
}

void limitAllocatorHeaps(int count) { mallopt(M_ARENA_MAX, count < 1 ? 1 : count); }

std::size_t raiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? std::size_t{1} << 20 : static_cast<std::size_t>(limit.rlim_cur);
}

bool standardInputIsTerminal() { return isatty(STDIN_FILENO) != 0; }

void letWritesToClosedPipesFail() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

bool stopWithParent(int parent) {
  // Any process id names a possible parent, 1 included: in a container the starting script is
  // often the first process.
  if (parent < 1 || prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) return false;
  // Checked only now: a parent that ended before left this process to another, which is no signal.
  if (getppid() == parent) return true;
  prctl(PR_SET_PDEATHSIG, 0);
  return false;
}

bool stopWithParent(const std::string& parent, std::string& why) {
  char* end = nullptr;
  const long pid = std::strtol(parent.c_str(), &end, 10);
  if (parent.empty()) {
    why = "--parent takes a process id, the one of the process that started it";
    return false;
  }
  if (end == parent.c_str() || *end != '\0' || pid < 1 || pid > INT_MAX) {
    why = "--parent takes a process id, not \"" + parent + "\"";
    return false;
  }
  if (stopWithParent(static_cast<int>(pid))) return true;
  // A process that is there, but is not this one's parent, was named by mistake; one that is gone
  // was the parent and ended before the watch began.
  const bool exists = ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
  why = "process " + std::to_string(pid) + (exists ? " is not the one that started it" : " that started it has ended");
  return false;
}

std::optional<int> startProcess(const ProcessLaunch& launch) {
  if (launch.arguments.empty()) return std::nullopt;
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return std::nullopt;
  bool ok = true;
  const int targets[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
  const int sources[] = {launch.input, launch.output, launch.error};
  for (int i = 0; i < 3; ++i) {
    if (sources[i] == ProcessLaunch::kNullDevice)
      ok = ok && posix_spawn_file_actions_addopen(&actions, targets[i], "/dev/null", i == 0 ? O_RDONLY : O_WRONLY, 0) == 0;
    else if (sources[i] >= 0)
      ok = ok && posix_spawn_file_actions_adddup2(&actions, sources[i], targets[i]) == 0;
  }
  std::vector<char*> argv;
  for (const auto& a : launch.arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (ok) ok = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!ok) return std::nullopt;
  return static_cast<int>(pid);
}

std::optional<ProcessExit> waitForProcess(int pid) {
  int status = 0;
  rusage usage{};
  pid_t got;
  do {
    got = ::wait4(pid, &status, 0, &usage);
  } while (got < 0 && errno == EINTR);
  if (got != pid) return std::nullopt;
  ProcessExit exit;
  exit.exitedNormally = WIFEXITED(status);
  exit.status = WIFEXITED(status) ? WEXITSTATUS(status) : (WIFSIGNALED(status) ? WTERMSIG(status) : -1);
  exit.peakResidentKB = usage.ru_maxrss;
  return exit;
}

}  // namespace os
