#pragma once
// HTTP header fields: looked up case-insensitively, kept in the order they were first set, the
// name's first spelling kept.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace os {

class HTTPHeaderFields {
 public:
  using Field = std::pair<std::string, std::string>;
  HTTPHeaderFields() = default;
  HTTPHeaderFields(std::initializer_list<Field> fields);

  // Field names compare ignoring ASCII case.
  static bool namesEqual(std::string_view a, std::string_view b);

  std::optional<std::string> value(std::string_view name) const;
  bool contains(std::string_view name) const;
  // Replaces the value of an existing field (any case) or appends the field.
  void set(std::string_view name, std::string value);
  // Appends to an existing value with ", " (the platform's rule for repeated fields) or adds.
  void add(std::string_view name, std::string_view value);
  // The same, taking the field's own strings.
  void add(Field field);
  // One header line of an answer as it comes off the wire: the name before the first colon and
  // the value after it, without the line break and the value's surrounding blanks. Absent for a
  // line without a colon.
  static std::optional<Field> parseLine(std::string_view line);
  bool remove(std::string_view name);
  void clear() { fields_.clear(); }

  std::size_t size() const { return fields_.size(); }
  bool empty() const { return fields_.empty(); }
  const std::vector<Field>& fields() const { return fields_; }
  auto begin() const { return fields_.begin(); }
  auto end() const { return fields_.end(); }

  // Same names (ignoring case) with the same values, in any order.
  bool operator==(const HTTPHeaderFields& o) const;

 private:
  // Room made at the first field: requests and answers mostly carry a handful, which would
  // otherwise grow the list one reallocation at a time.
  static constexpr std::size_t kTypicalFieldCount = 8;
  std::vector<Field> fields_;
};

}  // namespace os
