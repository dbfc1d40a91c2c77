#pragma once
// The reader's sandbox on disk: one folder holding the application's home (Documents/, Library/),
// its bundle ("Bundle/": Info.plist, the resources the reader reads and the named images its
// screens show) and the simulated device's shared folder ("Device/"). Made on first run.
#include <memory>
#include <string>
#include <vector>

#include "os/core/Error.h"

class VXReaderContext;

namespace os {
class FileLock;
class Sandbox;
}

namespace reader {

inline constexpr const char* kBundleIdentifier = "com.example.newsreader";
inline constexpr const char* kChannel = "App Store";

// Creates what is missing below `folder` (existing files are kept) and answers the sandbox, or
// null with *error set when the folder cannot be made or written.
std::shared_ptr<os::Sandbox> prepareHome(const std::string& folder, os::Error* error);

// One home serves one reader at a time: two would each write what they hold over the other's.
// Makes `folder` when missing and takes its lock (a file in it, dropped by the system when the
// process ends, however it ends) for as long as the answer lives; null with *refusal saying
// which process holds the home, or why it cannot be locked.
std::unique_ptr<os::FileLock> lockHome(const std::string& folder, std::string* refusal);

// The one reader context of the process: what the news client's parts share, from the server's
// address on the command line to the database in the current sandbox's caches.
std::shared_ptr<VXReaderContext> makeReaderContext(const std::string& server);

// The names of the pictures the bundle carries.
const std::vector<std::string>& bundleImageNames();

}  // namespace reader
