#pragma once
// Work that must happen on the main thread: at once when already there, else queued on the main
// queue. Queued rather than waited for, so a download thread never blocks on a main thread that
// may itself be waiting; order between the tasks of one thread is kept by the queue.
#include <functional>

#include "os/runtime/DispatchQueue.h"

inline void BNRunOnMainThread(std::function<void()> task) {
  if (os::DispatchQueue::isMainThread())
    task();
  else
    os::DispatchQueue::main()->async(std::move(task));
}
