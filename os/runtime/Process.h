#pragma once
// Facts and settings of the running process that a program's entry needs.
#include <cstddef>

namespace os {

// Blocks of at least `bytes` get mappings of their own, so freeing one returns it to the system
// at once instead of leaving it in the allocator's heaps.
void giveLargeAllocationsTheirOwnMappings(std::size_t bytes);

// At most `count` allocator heaps for all threads together. Each heap keeps its own freed memory,
// so a few worker threads each with a heap of its own hold megabytes no other thread can reuse;
// the per-thread caches in front of the heaps keep the shared ones from being contended. Call
// before the process starts its threads.
void limitAllocatorHeaps(int count);

// True when a person types the program's input (not a pipe or a file).
bool standardInputIsTerminal();

}  // namespace os
