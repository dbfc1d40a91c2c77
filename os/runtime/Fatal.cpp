#include "os/runtime/Fatal.h"

#include <cstdlib>
#include <string>

#include "os/core/Log.h"

namespace os {

void fatalError(std::string_view message) {
  log(std::string("fatal: ") + std::string(message));
  std::abort();
}

}  // namespace os
