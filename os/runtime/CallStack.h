#pragma once
// The calling thread's stack as text, one line per frame, innermost first (crash reports).
#include <string>
#include <vector>

namespace os {

std::vector<std::string> currentCallStack();

}  // namespace os
