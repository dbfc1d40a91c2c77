#pragma once
// Waiting for the screen to come to rest as a person would before touching it again: answers
// arrive, animations end, and short-lived messages (a HUD, a toast) go by themselves. Time passes
// as the touch driver lets it: on the virtual clock in tests, on the real one in the reader.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace os {

class View;

using TransientTest = std::function<bool(const View&)>;

struct SettleOptions {
  // How long the screen must stay the same.
  double quiet = 0.8;
  // How long to wait at most.
  double limit = 8;
  // The time let pass between two looks.
  double slice = 0.1;
  // Tells a short-lived message: the screen is not at rest while one shows.
  TransientTest isTransient;
  // Called with the screen's dump whenever it changes while a short-lived message shows (and at
  // the start when one does), so a printer can show what a person saw before it went.
  std::function<void(const std::string& dump)> onMessage;
};

struct SettleResult {
  bool atRest = false;
  // The texts of the short-lived messages that showed meanwhile, in order, each once.
  std::vector<std::string> messages;
};

SettleResult settleScreen(const SettleOptions& options);

// The short-lived messages on screen, back to front.
std::vector<std::shared_ptr<View>> transientViews(const TransientTest& isTransient);

}  // namespace os
