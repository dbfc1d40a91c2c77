#pragma once
// Facts and settings of the running process that a program's entry needs.
#include <cstddef>

namespace os {

// Blocks of at least `bytes` get mappings of their own, so freeing one returns it to the system
// at once instead of leaving it in the allocator's heaps.
void giveLargeAllocationsTheirOwnMappings(std::size_t bytes);

// True when a person types the program's input (not a pipe or a file).
bool standardInputIsTerminal();

}  // namespace os
