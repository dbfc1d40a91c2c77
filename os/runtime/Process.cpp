#include "os/runtime/Process.h"

#include <malloc.h>
#include <unistd.h>

#include <climits>

namespace os {

void giveLargeAllocationsTheirOwnMappings(std::size_t bytes) {
  // Setting the threshold also stops the allocator from raising it after large frees.
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(bytes > INT_MAX ? INT_MAX : bytes));
}

void limitAllocatorHeaps(int count) { mallopt(M_ARENA_MAX, count < 1 ? 1 : count); }

bool standardInputIsTerminal() { return isatty(STDIN_FILENO) != 0; }

}  // namespace os
