#pragma once
// What every local service's program does around its server: stop signals, the port file.
#include <functional>
#include <string>

namespace tools {

// Call first in main, before any thread: SIGINT and SIGTERM are then taken only by
// serveUntilSignalled's waiter, and a client that hung up (SIGPIPE) does not end the service.
void takeStopSignals();

// Runs serve() on this thread; SIGINT or SIGTERM call stop() from a waiting thread, outside a
// signal handler. Returns when serve() does, also when it ends on its own.
void serveUntilSignalled(const std::function<void()>& serve, const std::function<void()>& stop);

// --parent PID: the program stops (as on SIGTERM) when that process, the script that started it,
// ends however it ends. False, having said why on standard error, when PID is missing (empty) or
// no number, or that process is not the parent: the program ends at once.
bool stopWithParent(const std::string& program, const std::string& pid);

// Writes the port (or a line of ports) and a newline to PATH through a temporary file, so a script
// polling it never reads half.
bool writePortFile(const std::string& path, const std::string& ports);
inline bool writePortFile(const std::string& path, int port) { return writePortFile(path, std::to_string(port)); }

}  // namespace tools
