#pragma once
// The push client's small hierarchical logger: a registry of named loggers (one per class, named
// after the class's chain of superclasses), fixed level objects, and a console writer that puts a
// fixed tag before each line. Only the user message of a log call reaches the console; the
// internal message (text plus a trace of file, method and line) is accepted and not written.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class DUVLevel {
 public:
  static const DUVLevel& test();
  static const DUVLevel& force();
  static const DUVLevel& off();
  static const DUVLevel& error();
  static const DUVLevel& warn();
  static const DUVLevel& info();
  static const DUVLevel& debug();
  static const DUVLevel& all();
  // The INTERNAL level is no level object at all.
  static const DUVLevel* internal() { return nullptr; }
  static const DUVLevel& normal() { return info(); }
  // Upper-cased name; "INTERNAL" gives null, an unknown name (or none) INFO.
  static const DUVLevel* levelWithName(const std::optional<std::string>& name);
  // Every value but the seven listed ones (40 among them) gives INFO.
  static const DUVLevel& levelWithInt(int value);

  int levelValue() const { return value_; }
  const std::string& name() const { return name_; }
  int defaultLevel() const { return 40; }
  const std::string& description() const { return name_; }
  bool isGreaterOrEqual(const DUVLevel& other) const { return value_ >= other.value_; }
  bool isEnabledFor(const DUVLevel& other) const { return isGreaterOrEqual(other); }
  bool operator==(const DUVLevel& other) const { return value_ == other.value_ && name_ == other.name_; }

  DUVLevel(int value, std::string name) : value_(value), name_(std::move(name)) {}

 private:
  int value_;
  std::string name_;
};

// The console writer. Each written line is the prefix followed by the message.
class DUVLogLog {
 public:
  static void test(const std::optional<std::string>&) {}
  static void info(const std::optional<std::string>& message);
  static void debug(const std::optional<std::string>& message);
  static void warn(const std::optional<std::string>& message);
  static void error(const std::optional<std::string>& message);
};

class DUVLoggerController;

// A class as the registry names it: its chain of class names from the root class down to itself.
using DUVClassChain = std::vector<std::string>;

class DUVLogger : public std::enable_shared_from_this<DUVLogger> {
 public:
  explicit DUVLogger(std::string name) : name_(std::move(name)) {}
  virtual ~DUVLogger() = default;

  // Shared-registry shortcuts.
  static std::shared_ptr<DUVLogger> loggerForClass(const DUVClassChain& chain);
  static std::shared_ptr<DUVLogger> loggerForName(const std::string& name);
  static std::shared_ptr<DUVLogger> rootLogger();
  static std::vector<std::shared_ptr<DUVLogger>> currentLoggers();

  // The first level found from this logger up through its parents; null (with an error line)
  // when the chain has none.
  virtual const DUVLevel* effectiveLevel() const;
  // Writes the message when the level reaches this logger's own level (no level: everything
  // passes) and the registry does not disable it.
  void logMessage(const std::optional<std::string>& message, const std::optional<std::string>& internalMessage,
                  const DUVLevel* level) const;
  void log(const DUVLevel& level, const std::string& message) const { logMessage(message, std::nullopt, &level); }
  bool isEnabledFor(const DUVLevel& level) const;
  bool isTestENabled() const { return isEnabledFor(DUVLevel::test()); }
  bool isDebugEnabled() const { return isEnabledFor(DUVLevel::debug()); }
  bool isInfoEnabled() const { return isEnabledFor(DUVLevel::info()); }
  bool isWarnEnabled() const { return isEnabledFor(DUVLevel::warn()); }
  bool isErrorEnabled() const { return isEnabledFor(DUVLevel::error()); }

  const DUVLevel* level() const;
  virtual void setLevel(const DUVLevel* level);
  const std::string& name() const { return name_; }
  std::shared_ptr<DUVLogger> parent() const;
  void setParent(std::shared_ptr<DUVLogger> parent);
  bool additivity() const { return additivity_; }
  void setAdditivity(bool additivity) { additivity_ = additivity; }
  std::shared_ptr<DUVLoggerController> repository() const { return repository_.lock(); }
  void setRepository(const std::shared_ptr<DUVLoggerController>& repository) { repository_ = repository; }

 protected:
  mutable std::recursive_mutex mutex_;
  const DUVLevel* level_ = nullptr;

 private:
  const std::string name_;
  bool additivity_ = true;
  std::shared_ptr<DUVLogger> parent_;
  std::weak_ptr<DUVLoggerController> repository_;
};

class DUVRootLogger : public DUVLogger {
 public:
  explicit DUVRootLogger(const DUVLevel& level) : DUVLogger("root") { level_ = &level; }
  // A null level keeps the old one.
  void setLevel(const DUVLevel* level) override;
  const DUVLevel* effectiveLevel() const override;
};

class DUVLoggerController : public std::enable_shared_from_this<DUVLoggerController> {
 public:
  // The process's registry: the first call starts it with the level, later calls ignore theirs.
  static std::shared_ptr<DUVLoggerController> startLoggerWithLevel(const DUVLevel& level);
  // The process's registry, started at NORMAL when nobody started it.
  static std::shared_ptr<DUVLoggerController> shareLoggerController();
  // A registry of its own (tests; the shared one is made the same way).
  static std::shared_ptr<DUVLoggerController> create(const DUVLevel& level);

  // Only a limit set through setLimitedLevel disables levels below it; a fresh registry disables
  // nothing.
  bool isDisabled(int levelValue) const;
  void setLimitedLevelName(const std::optional<std::string>& name);
  void setLimitedLevel(const DUVLevel* level);
  const DUVLevel* limitedLevel() const;
  // The level of loggers made from now on; existing loggers keep theirs.
  void setLevel(const DUVLevel& level);
  const DUVLevel& currentLevel() const;

  std::shared_ptr<DUVLogger> rootLogger() const { return root_; }
  std::shared_ptr<DUVLogger> loggerForClass(const DUVClassChain& chain);
  std::shared_ptr<DUVLogger> loggerForName(const std::string& name);
  std::vector<std::shared_ptr<DUVLogger>> currentLoggers() const;
  static std::string pseudoFqcnForClass(const DUVClassChain& chain);

  explicit DUVLoggerController(std::shared_ptr<DUVLogger> root);

 private:
  using Placeholder = std::vector<std::shared_ptr<DUVLogger>>;
  using Node = std::variant<std::shared_ptr<DUVLogger>, Placeholder>;
  std::shared_ptr<DUVLogger> makeLogger(const std::string& name, const DUVLevel* level);
  void updateParentsOfLogger(const std::shared_ptr<DUVLogger>& logger);
  void updateChildren(const Placeholder& children, const std::shared_ptr<DUVLogger>& parent);

  mutable std::recursive_mutex mutex_;
  std::shared_ptr<DUVLogger> root_;
  std::map<std::string, Node, std::less<>> repository_;
  std::vector<std::shared_ptr<DUVLogger>> loggers_;
  int limitedLevelInt_ = 0;
  const DUVLevel* limitedLevel_;
  const DUVLevel* currentLevel_;
};

// The logger of one of the push client's classes (all of them derive from the root object class).
std::shared_ptr<DUVLogger> DUVClassLogger(std::string_view className);
