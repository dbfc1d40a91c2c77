#pragma once
// One call of the Renren REST API: its service type (for the caller to tell replies apart), its
// path under "/v2/", its HTTP method and its request parameters. Each call is a subclass that
// declares its parameters as properties named exactly like the server's; the base class keeps
// them in declared order so that toDictionary can walk them without knowing the subclass.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/core/Value.h"

enum class RennFieldKind { String, Integer, List, Data };

struct RennField {
  const char* name;
  RennFieldKind kind;
};

class RennParam {
 public:
  // The table's integers start unset (-1) unless the call says otherwise.
  RennParam(std::string type, std::string path, std::string method, std::vector<RennField> fields,
            long long integerDefault = -1);
  virtual ~RennParam() = default;

  const std::string& type() const { return type_; }
  const std::string& path() const { return path_; }
  const std::string& method() const { return method_; }
  virtual std::string className() const = 0;

  // The request parameters, keyed by property name, in declared order: strings as they are,
  // integers as decimal text unless -1, lists joined with "," unless empty, data (the photo
  // upload's "file") as data. Unset values are left out.
  os::Dictionary toDictionary() const;

  // Property name -> type name ("NSString", "NSInteger", "NSArray", "NSData") of the named
  // class's own properties; none for a class that is not an API call.
  static std::optional<os::Dictionary> getPropertiesAndTypesForClassName(std::string_view className);
  // A new parameter object of the named call, or null.
  static std::shared_ptr<RennParam> create(std::string_view className);
  // Every call's class name, in table order.
  static const std::vector<std::string>& classNames();

 protected:
  const std::optional<std::string>& stringField(std::size_t i) const { return slots_[i].text; }
  void setStringField(std::size_t i, std::optional<std::string> v) { slots_[i].text = std::move(v); }
  long long integerField(std::size_t i) const { return slots_[i].integer; }
  void setIntegerField(std::size_t i, long long v) { slots_[i].integer = v; }
  const std::vector<std::string>& listField(std::size_t i) const { return slots_[i].list; }
  void setListField(std::size_t i, std::vector<std::string> v) { slots_[i].list = std::move(v); }
  const std::optional<os::Data>& dataField(std::size_t i) const { return slots_[i].data; }
  void setDataField(std::size_t i, std::optional<os::Data> v) { slots_[i].data = std::move(v); }

 private:
  struct Slot {
    RennField field;
    std::optional<std::string> text;
    long long integer = -1;
    std::vector<std::string> list;
    std::optional<os::Data> data;
  };
  std::string type_, path_, method_;
  std::vector<Slot> slots_;
};
