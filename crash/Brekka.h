#pragma once
// The crash reporter's public entry. The application starts it once, at launch, and ignores the
// shared reporter it gets back.
//
// For now the reporter installs no crash handlers: starting it keeps the key on the shared
// reporter and writes the call to the process's ServiceCallLog under "Brekka".
#include <memory>
#include <mutex>
#include <string>

class Brekka {
 public:
  // Starts the reporter with the API key and no delegate; returns the shared reporter.
  static std::shared_ptr<Brekka> startWithAPIKey(const std::string& apiKey);

  // The key of the latest start ("" before the first).
  std::string apiKey() const;

 private:
  struct PrivateTag {};

 public:
  explicit Brekka(PrivateTag) {}

 private:
  static std::shared_ptr<Brekka> sharedReporter();

  mutable std::mutex mutex_;
  std::string apiKey_;
};
