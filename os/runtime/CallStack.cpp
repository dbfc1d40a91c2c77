#include "os/runtime/CallStack.h"

#include <execinfo.h>

#include <cstdlib>

namespace os {

std::vector<std::string> currentCallStack() {
  void* frames[64];
  int count = backtrace(frames, 64);
  std::vector<std::string> out;
  char** symbols = backtrace_symbols(frames, count);
  if (!symbols) return out;
  for (int i = 0; i < count; ++i) out.emplace_back(symbols[i]);
  std::free(symbols);
  return out;
}

}  // namespace os
