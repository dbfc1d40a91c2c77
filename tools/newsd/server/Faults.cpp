#include "tools/newsd/server/Faults.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "os/core/Error.h"

namespace newsd {

namespace {

bool validDelay(double seconds) { return std::isfinite(seconds) && seconds >= 0 && seconds <= kMaxFaultDelay; }

void check(FaultTarget target, Fault fault) {
  if (!validDelay(fault.delay))
    throw os::Exception(os::kInvalidArgumentException, "fault delay out of range for " + describe(target));
  if (!failureAppliesTo(fault.failure, target))
    throw os::Exception(os::kInvalidArgumentException, "failure cannot be shown on " + describe(target));
}

}  // namespace

bool failureAppliesTo(FailureMode failure, FaultTarget target) {
  if (target.kind != FaultTarget::Kind::Pictures) return true;
  return failure != FailureMode::ErrorCode && failure != FailureMode::MissingResult;
}

void FaultTable::set(FaultTarget target, Fault fault) {
  check(target, fault);
  std::lock_guard lock(mutex_);
  if (fault == Fault{}) {
    faults_.erase(target);
  } else {
    faults_[target] = fault;
  }
}

void FaultTable::setFailure(FaultTarget target, FailureMode failure) {
  std::lock_guard lock(mutex_);
  Fault fault = faults_.count(target) ? faults_[target] : Fault{};
  fault.failure = failure;
  check(target, fault);
  faults_[target] = fault;
}

void FaultTable::setDelay(FaultTarget target, double seconds) {
  std::lock_guard lock(mutex_);
  Fault fault = faults_.count(target) ? faults_[target] : Fault{};
  fault.delay = seconds;
  check(target, fault);
  faults_[target] = fault;
}

void FaultTable::clear() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

Fault FaultTable::at(FaultTarget target) const {
  std::lock_guard lock(mutex_);
  auto it = faults_.find(target);
  return it == faults_.end() ? Fault{} : it->second;
}

std::map<FaultTarget, Fault> FaultTable::all() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

std::optional<FaultTarget> parseFaultTarget(std::string_view text) {
  if (text == "common") return FaultTarget::versionCheck();
  if (text == "img") return FaultTarget::pictures();
  if (text.empty() || text.size() > 9) return std::nullopt;
  long long opcode = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    opcode = opcode * 10 + (c - '0');
  }
  return FaultTarget::operation(opcode);
}

std::string_view failureName(FailureMode failure) {
  switch (failure) {
    case FailureMode::None: return "none";
    case FailureMode::ErrorCode: return "errorcode";
    case FailureMode::MissingResult: return "noresult";
    case FailureMode::HttpError: return "500";
    case FailureMode::Stall: return "stall";
  }
  return "none";
}

std::optional<FailureMode> parseFailureMode(std::string_view text) {
  for (FailureMode failure : {FailureMode::None, FailureMode::ErrorCode, FailureMode::MissingResult,
                              FailureMode::HttpError, FailureMode::Stall})
    if (failureName(failure) == text) return failure;
  return std::nullopt;
}

std::optional<double> parseFaultDelay(std::string_view text) {
  std::string s(text);
  if (s.empty() || !(std::isdigit(static_cast<unsigned char>(s[0])) || s[0] == '.')) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  double seconds = std::strtod(s.c_str(), &end);
  if (errno != 0 || end != s.c_str() + s.size() || !validDelay(seconds)) return std::nullopt;
  return seconds;
}

std::string describe(FaultTarget target) {
  switch (target.kind) {
    case FaultTarget::Kind::Operation: return "opcode " + std::to_string(target.opcode);
    case FaultTarget::Kind::VersionCheck: return "the version check";
    case FaultTarget::Kind::Pictures: return "the pictures";
  }
  return "?";
}

namespace {

std::optional<std::pair<FaultTarget, std::string_view>> splitArgument(std::string_view text) {
  std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  auto target = parseFaultTarget(text.substr(0, equals));
  if (!target) return std::nullopt;
  return std::pair(*target, text.substr(equals + 1));
}

}  // namespace

bool applyFaultArgument(std::string_view text, std::map<FaultTarget, Fault>& faults) {
  auto argument = splitArgument(text);
  auto failure = argument ? parseFailureMode(argument->second) : std::nullopt;
  if (!failure || !failureAppliesTo(*failure, argument->first)) return false;
  faults[argument->first].failure = *failure;
  return true;
}

bool applyDelayArgument(std::string_view text, std::map<FaultTarget, Fault>& faults) {
  auto argument = splitArgument(text);
  auto delay = argument ? parseFaultDelay(argument->second) : std::nullopt;
  if (!delay) return false;
  faults[argument->first].delay = *delay;
  return true;
}

}  // namespace newsd
