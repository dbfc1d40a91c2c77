#pragma once
// Failures and delays the server can be told to show, so that a reader's handling of a slow or
// broken server can be tried against it: per operation code, and for the version check and the
// pictures.
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace newsd {

enum class FailureMode {
  None,
  ErrorCode,      // the envelope says "errorcode" -1 (its "data" still carries a "result")
  MissingResult,  // "errorcode" 0, but "data" holds no "result"
  HttpError,      // HTTP 500 with a plain-text body
  Stall,          // never answers: the connection stays open until the client or the server ends it
};

struct Fault {
  FailureMode failure = FailureMode::None;
  double delay = 0;  // seconds (os::Clock monotonic time) before the answer or the failure
  bool operator==(const Fault&) const = default;
};

// What a fault applies to: one operation of either API by its opcode, or a GET route.
struct FaultTarget {
  enum class Kind { Operation, VersionCheck, Pictures };
  Kind kind = Kind::Operation;
  long long opcode = 0;  // Operation only

  static FaultTarget operation(long long opcode) { return {Kind::Operation, opcode}; }
  static FaultTarget versionCheck() { return {Kind::VersionCheck, 0}; }
  static FaultTarget pictures() { return {Kind::Pictures, 0}; }
  auto operator<=>(const FaultTarget&) const = default;
};

inline constexpr double kMaxFaultDelay = 3600;

// Whether the failure can be shown on the target: the two envelope failures need a JSON answer,
// which pictures do not have.
bool failureAppliesTo(FailureMode failure, FaultTarget target);

// The faults in force; every member may be called from any thread.
class FaultTable {
 public:
  // Throws os::Exception for a delay outside 0..kMaxFaultDelay or a failure the target cannot show.
  void set(FaultTarget target, Fault fault);
  void setFailure(FaultTarget target, FailureMode failure);
  void setDelay(FaultTarget target, double seconds);
  void clear();
  // No failure and no delay for a target never set.
  Fault at(FaultTarget target) const;
  std::map<FaultTarget, Fault> all() const;

 private:
  mutable std::mutex mutex_;
  std::map<FaultTarget, Fault> faults_;
};

// Command-line forms: a target is an opcode ("1040"), "common" (the version check) or "img" (the
// pictures); a failure is "none", "errorcode", "noresult", "500" or "stall"; a delay is a number
// of seconds ("2.5"). Nothing for anything else.
std::optional<FaultTarget> parseFaultTarget(std::string_view text);
std::optional<FailureMode> parseFailureMode(std::string_view text);
std::optional<double> parseFaultDelay(std::string_view text);
std::string describe(FaultTarget target);
// The command-line name of a failure ("none", "errorcode", ...).
std::string_view failureName(FailureMode failure);

// The arguments of the program's "--fault TARGET=FAILURE" and "--delay TARGET=SECONDS", merged into
// `faults` (a target's failure and delay are set independently). False, with `faults` unchanged,
// for text of another form or a failure that the target cannot show.
bool applyFaultArgument(std::string_view text, std::map<FaultTarget, Fault>& faults);
bool applyDelayArgument(std::string_view text, std::map<FaultTarget, Fault>& faults);

}  // namespace newsd
