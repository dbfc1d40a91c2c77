#pragma once
// One ordered record, for the whole process, of the calls the application makes into the embedded
// service clients (push, sharing, analytics, crash reporting). Their entry classes write here what
// they were given, so that start-up and share tests can check which service was called, in which
// order and with which arguments. Safe to use from any thread.
//
// It records only while a Recording is open: the program opens none, so a reader that runs for
// days and hears a notification a second keeps none of them. Even while recording it keeps only
// the newest kKeptCalls calls.
#include <any>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/core/Value.h"

struct ServiceCall {
  // The entry class, e.g. "ROVodozov".
  std::string service;
  // The operation's first keyword, e.g. "setupWithOption".
  std::string operation;
  // The arguments that are plain values, by parameter name; an argument given as nothing is a
  // null value under its name.
  os::Dictionary arguments;
  // Arguments that are objects (controllers, images, delegates), in a record of the entry class's
  // own type; empty when there are none.
  std::any objects;

  // "service.operation".
  std::string name() const { return service + "." + operation; }
};

class ServiceCallLog {
 public:
  // Beyond this many calls the oldest are dropped.
  static constexpr std::size_t kKeptCalls = 10000;

  // Calls are recorded while at least one is open (on any thread); when the last one closes the
  // calls recorded are forgotten, so nothing stays held after the test that asked for them.
  class Recording {
   public:
    Recording();
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;
  };

  // Does nothing unless a Recording is open.
  static void record(std::string service, std::string operation, os::Dictionary arguments = {},
                     std::any objects = {});

  // Every call kept since the last reset, oldest first.
  static std::vector<ServiceCall> calls();
  // The calls into one entry class, oldest first.
  static std::vector<ServiceCall> calls(std::string_view service);
  // The calls of one operation of one entry class, oldest first.
  static std::vector<ServiceCall> calls(std::string_view service, std::string_view operation);
  // "service.operation" of every call, oldest first: the order at a glance.
  static std::vector<std::string> names();
  // The newest call of that operation, or nullopt.
  static std::optional<ServiceCall> last(std::string_view service, std::string_view operation);
  static std::size_t size();

  static void reset();

  // An optional string argument as a value: null for nothing.
  static os::Value optional(const std::optional<std::string>& value) {
    return value ? os::Value(*value) : os::Value();
  }
};
