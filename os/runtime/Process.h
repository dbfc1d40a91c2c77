#pragma once
// Facts and settings of the running process that a program's entry needs, and programs started in
// processes of their own.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace os {

// Blocks of at least `bytes` get mappings of their own, so freeing one returns it to the system
// at once instead of leaving it in the allocator's heaps.
void giveLargeAllocationsTheirOwnMappings(std::size_t bytes);

// At most `count` allocator heaps for all threads together. Each heap keeps its own freed memory,
// so a few worker threads each with a heap of its own hold megabytes no other thread can reuse;
// the per-thread caches in front of the heaps keep the shared ones from being contended. Call
// before the process starts its threads.
void limitAllocatorHeaps(int count);

// Raises the process's limit of open descriptors to the most the system lets it have, and answers
// the limit now in force (a server holding a connection per descriptor takes what it may).
std::size_t raiseOpenFileLimit();

// True when a person types the program's input (not a pipe or a file).
bool standardInputIsTerminal();

// From now on a write to a pipe or socket whose reading end has gone fails with EPIPE instead of
// ending the process (SIGPIPE is ignored), so a program whose output is cut off (piped into
// `head`, a reader that was killed) finds its writes failing and ends its own way, saving what it
// keeps. Call early in the entry, before crash hooks are installed: they leave an ignored SIGPIPE
// alone.
void letWritesToClosedPipesFail();

// Has the system send this process SIGTERM (the stop a program takes) when its parent ends,
// however it ends, so a program started by a script that is killed does not outlive it. `parent`
// is the starter's process id as the starter gave it, whatever it is (1 for a container's first
// process): false when this process's parent is not that one (it ended before the watch began, or
// the id names another process), and the caller ends at once.
bool stopWithParent(int parent);
// The same for a process id given as text (a program's --parent): false with the reason in `why`
// when the text is empty or no process id, or that process is not the parent (gone, or another).
bool stopWithParent(const std::string& parent, std::string& why);

// A program to start in a process of its own.
struct ProcessLaunch {
  // What a standard descriptor of the child is, when not one of ours.
  static constexpr int kInherit = -1;
  static constexpr int kNullDevice = -2;

  std::vector<std::string> arguments;  // the program's path first
  // The child's standard input, output and error: kInherit, kNullDevice or a descriptor of ours.
  int input = kInherit;
  int output = kInherit;
  int error = kInherit;
};

// How a started program ended.
struct ProcessExit {
  bool exitedNormally = false;  // false: ended by a signal
  int status = -1;              // the exit status, or the signal's number
  // The peak resident size the system kept for the process, in kB. Starting a program keeps the
  // larger of the starter's peak and the program's own, so it is the program's alone only when
  // it was started from a process smaller than it.
  long peakResidentKB = 0;
};

// Starts the program without copying this process's pages (no fork), so a large process can
// start many. Descriptors of ours not named above stay closed in the child when they were opened
// close-on-exec. Answers the child's id, or nothing when it could not be started.
std::optional<int> startProcess(const ProcessLaunch& launch);

// Waits for a child started by startProcess; nothing when `pid` is not a child of ours.
std::optional<ProcessExit> waitForProcess(int pid);

}  // namespace os
