#pragma once
// The names and limits that tell one copy of the JSON codec from another. The reader and the
// writer are written once; each client that carries its own copy only supplies its profile.
#include <cstddef>
#include <string>

#include "os/core/Error.h"

struct JSONCodecProfile {
  std::string errorDomain = "JTErrorDomain";
  std::string atIndexKey = "JTAtIndexKey";
  std::string lineNumberKey = "JTLineNumberKey";
  // Arrays and objects nested deeper than this fail instead of exhausting the thread's stack.
  std::size_t maximumDepth = 512;

  // The codec of the networking and data-format layer.
  static const JSONCodecProfile& standard();
  // The profile behind the process-wide string, data and collection operations. Only one copy
  // of those operations answers in a process, so the last client to claim them sets this once
  // at start-up, before other threads run.
  static const JSONCodecProfile& current();
  static void setCurrent(const JSONCodecProfile& profile);

  os::Error error(std::string message) const;
};
