#pragma once
// What an atomic write cut short (the process killed, the power lost) leaves beside its target,
// for tests of the stores that remove it.
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "os/store/FileManager.h"

namespace os::testing {

// A process that ended at once, whose id no process holds until ids come round again: the writer
// of a write killed part-way.
inline pid_t endedProcessId() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return pid;
}

// Plants the temporary file a write of `target` by an ended process left, half written, and
// answers its path (empty when it could not be made).
inline std::string plantCutShortWrite(const std::string& target, unsigned long long serial = 0) {
  const std::string path = temporaryFileName(target, endedProcessId(), serial);
  return FileManager::defaultManager().writeData(dataFromString("half a fi"), path, {.atomic = false}) ? path
                                                                                                      : std::string();
}

}  // namespace os::testing
