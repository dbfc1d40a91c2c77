#include "push/utilities/DUVLogger.h"

#include <algorithm>
#include <cctype>

#include "os/core/Log.h"

// ---- levels ----

const DUVLevel& DUVLevel::test() {
  static const DUVLevel level(250, "TEST");
  return level;
}
const DUVLevel& DUVLevel::force() {
  static const DUVLevel level(100, "FORCE");
  return level;
}
const DUVLevel& DUVLevel::off() {
  static const DUVLevel level(90, "OFF");
  return level;
}
const DUVLevel& DUVLevel::error() {
  static const DUVLevel level(110, "ERROR");
  return level;
}
const DUVLevel& DUVLevel::warn() {
  static const DUVLevel level(30, "WARN");
  return level;
}
const DUVLevel& DUVLevel::info() {
  static const DUVLevel level(40, "INFO");
  return level;
}
const DUVLevel& DUVLevel::debug() {
  static const DUVLevel level(20, "DEBUG");
  return level;
}
const DUVLevel& DUVLevel::all() {
  static const DUVLevel level(0, "ALL");
  return level;
}

const DUVLevel* DUVLevel::levelWithName(const std::optional<std::string>& name) {
  if (!name) return &info();
  std::string upper = *name;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  if (upper == "TEST") return &test();
  if (upper == "FORCE") return &force();
  if (upper == "ALL") return &all();
  if (upper == "INTERNAL") return internal();
  if (upper == "DEBUG") return &debug();
  if (upper == "INFO") return &info();
  if (upper == "WARN") return &warn();
  if (upper == "ERROR") return &error();
  if (upper == "OFF") return &off();
  return &info();
}

const DUVLevel& DUVLevel::levelWithInt(int value) {
  switch (value) {
    case 0: return all();
    case 20: return debug();
    case 30: return warn();
    case 90: return off();
    case 100: return force();
    case 110: return error();
    case 250: return test();
    default: return info();
  }
}

// ---- console ----

namespace {
void write(const char* prefix, const std::optional<std::string>& message) {
  if (message) os::log(std::string(prefix) + *message);
}
}  // namespace

void DUVLogLog::info(const std::optional<std::string>& message) { write("ZUrarLog: ", message); }
void DUVLogLog::debug(const std::optional<std::string>& message) { write("ZUrarLog DEBUG: ", message); }
void DUVLogLog::warn(const std::optional<std::string>& message) { write("ZUrarLog WARN: ", message); }
void DUVLogLog::error(const std::optional<std::string>& message) { write("ZUrarLog ERROR: ", message); }

// ---- loggers ----

std::shared_ptr<DUVLogger> DUVLogger::loggerForClass(const DUVClassChain& chain) {
  return DUVLoggerController::shareLoggerController()->loggerForClass(chain);
}
std::shared_ptr<DUVLogger> DUVLogger::loggerForName(const std::string& name) {
  return DUVLoggerController::shareLoggerController()->loggerForName(name);
}
std::shared_ptr<DUVLogger> DUVLogger::rootLogger() { return DUVLoggerController::shareLoggerController()->rootLogger(); }
std::vector<std::shared_ptr<DUVLogger>> DUVLogger::currentLoggers() {
  return DUVLoggerController::shareLoggerController()->currentLoggers();
}

const DUVLevel* DUVLogger::level() const {
  std::lock_guard lock(mutex_);
  return level_;
}
void DUVLogger::setLevel(const DUVLevel* level) {
  std::lock_guard lock(mutex_);
  level_ = level;
}
std::shared_ptr<DUVLogger> DUVLogger::parent() const {
  std::lock_guard lock(mutex_);
  return parent_;
}
void DUVLogger::setParent(std::shared_ptr<DUVLogger> parent) {
  std::lock_guard lock(mutex_);
  parent_ = std::move(parent);
}

const DUVLevel* DUVLogger::effectiveLevel() const {
  for (auto logger = shared_from_this(); logger; logger = logger->parent())
    if (auto found = logger->level()) return found;
  DUVLogLog::error("Root Logger Not Found!");
  return nullptr;
}

bool DUVLogger::isEnabledFor(const DUVLevel& level) const {
  if (auto registry = repository(); registry && registry->isDisabled(level.levelValue())) return false;
  auto effective = effectiveLevel();
  return effective && level.isGreaterOrEqual(*effective);
}

void DUVLogger::logMessage(const std::optional<std::string>& message, const std::optional<std::string>&,
                           const DUVLevel* level) const {
  if (!level) return;  // the INTERNAL level is never written
  auto own = this->level();
  if (own && level->levelValue() < own->levelValue()) return;
  if (auto registry = repository(); registry && registry->isDisabled(level->levelValue())) return;
  if (*level == DUVLevel::test()) return;
  if (*level == DUVLevel::force() || *level == DUVLevel::info()) return DUVLogLog::info(message);
  if (*level == DUVLevel::error()) return DUVLogLog::error(message);
  if (*level == DUVLevel::warn()) return DUVLogLog::warn(message);
  if (*level == DUVLevel::debug()) return DUVLogLog::debug(message);
}

void DUVRootLogger::setLevel(const DUVLevel* level) {
  if (!level) {
    DUVLogLog::error("You have tried to set a null level to root");
    return;
  }
  DUVLogger::setLevel(level);
}

const DUVLevel* DUVRootLogger::effectiveLevel() const { return level(); }

// ---- registry ----

DUVLoggerController::DUVLoggerController(std::shared_ptr<DUVLogger> root)
    : root_(std::move(root)), limitedLevel_(&DUVLevel::info()), currentLevel_(&DUVLevel::info()) {
  loggers_.push_back(root_);
}

std::shared_ptr<DUVLoggerController> DUVLoggerController::create(const DUVLevel& level) {
  auto controller = std::make_shared<DUVLoggerController>(std::make_shared<DUVRootLogger>(level));
  controller->root_->setRepository(controller);
  controller->currentLevel_ = &level;
  return controller;
}

namespace {
std::shared_ptr<DUVLoggerController> sharedController(const DUVLevel& level) {
  static const std::shared_ptr<DUVLoggerController> controller = DUVLoggerController::create(level);
  return controller;
}
}  // namespace

std::shared_ptr<DUVLoggerController> DUVLoggerController::startLoggerWithLevel(const DUVLevel& level) {
  return sharedController(level);
}
std::shared_ptr<DUVLoggerController> DUVLoggerController::shareLoggerController() {
  return sharedController(DUVLevel::normal());
}

bool DUVLoggerController::isDisabled(int levelValue) const {
  std::lock_guard lock(mutex_);
  return limitedLevelInt_ > levelValue;
}
void DUVLoggerController::setLimitedLevelName(const std::optional<std::string>& name) {
  setLimitedLevel(DUVLevel::levelWithName(name));
}
void DUVLoggerController::setLimitedLevel(const DUVLevel* level) {
  std::lock_guard lock(mutex_);
  limitedLevel_ = level;
  limitedLevelInt_ = level ? level->levelValue() : 0;
}
const DUVLevel* DUVLoggerController::limitedLevel() const {
  std::lock_guard lock(mutex_);
  return limitedLevel_;
}
void DUVLoggerController::setLevel(const DUVLevel& level) {
  std::lock_guard lock(mutex_);
  currentLevel_ = &level;
}
const DUVLevel& DUVLoggerController::currentLevel() const {
  std::lock_guard lock(mutex_);
  return *currentLevel_;
}

std::vector<std::shared_ptr<DUVLogger>> DUVLoggerController::currentLoggers() const {
  std::lock_guard lock(mutex_);
  return loggers_;
}

std::string DUVLoggerController::pseudoFqcnForClass(const DUVClassChain& chain) {
  std::string name;
  for (const auto& part : chain) name += (name.empty() ? "" : ".") + part;
  return name;
}

std::shared_ptr<DUVLogger> DUVLoggerController::loggerForClass(const DUVClassChain& chain) {
  if (chain.empty()) return nullptr;
  std::lock_guard lock(mutex_);
  const std::string& className = chain.back();
  if (auto it = repository_.find(className); it != repository_.end())
    if (auto logger = std::get_if<std::shared_ptr<DUVLogger>>(&it->second)) return *logger;
  // A root class's bare name may already be a prefix placeholder: its dotted name is the bare
  // name, so loggerForName turns the placeholder into the logger.
  auto logger = loggerForName(pseudoFqcnForClass(chain));
  if (logger) repository_[className] = logger;
  return logger;
}

std::shared_ptr<DUVLogger> DUVLoggerController::makeLogger(const std::string& name, const DUVLevel* level) {
  auto logger = std::make_shared<DUVLogger>(name);
  logger->setRepository(shared_from_this());
  logger->setLevel(level);
  return logger;
}

std::shared_ptr<DUVLogger> DUVLoggerController::loggerForName(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = repository_.find(name);
  if (it == repository_.end()) {
    auto logger = makeLogger(name, currentLevel_);
    repository_[name] = logger;
    updateParentsOfLogger(logger);
    loggers_.push_back(logger);
    return logger;
  }
  if (auto logger = std::get_if<std::shared_ptr<DUVLogger>>(&it->second)) return *logger;
  // A placeholder: loggers below this name wait for it. The new one has no level of its own.
  Placeholder waiting = std::get<Placeholder>(it->second);
  auto logger = makeLogger(name, nullptr);
  it->second = logger;
  updateChildren(waiting, logger);
  updateParentsOfLogger(logger);
  loggers_.push_back(logger);
  return logger;
}

void DUVLoggerController::updateParentsOfLogger(const std::shared_ptr<DUVLogger>& logger) {
  const std::string& name = logger->name();
  for (auto dot = name.rfind('.'); dot != std::string::npos && dot > 0; dot = name.rfind('.', dot - 1)) {
    std::string prefix = name.substr(0, dot);
    auto it = repository_.find(prefix);
    if (it == repository_.end()) {
      repository_[prefix] = Placeholder{logger};
      continue;
    }
    if (auto placeholder = std::get_if<Placeholder>(&it->second)) {
      placeholder->push_back(logger);
      continue;
    }
    logger->setParent(std::get<std::shared_ptr<DUVLogger>>(it->second));
    return;
  }
  logger->setParent(root_);
}

void DUVLoggerController::updateChildren(const Placeholder& children, const std::shared_ptr<DUVLogger>& parent) {
  for (const auto& child : children) {
    auto current = child->parent();
    if (current && current->name().rfind(parent->name(), 0) != 0) {
      parent->setParent(current);
      child->setParent(parent);
    }
  }
}

std::shared_ptr<DUVLogger> DUVClassLogger(std::string_view className) {
  return DUVLogger::loggerForClass({"NSObject", std::string(className)});
}
