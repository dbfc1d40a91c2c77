#include "os/net/HTTPHeaderFields.h"

#include <algorithm>

namespace os {

// Field names are ASCII tokens: only A-Z fold, whatever the process's locale says.
bool HTTPHeaderFields::namesEqual(std::string_view a, std::string_view b) {
  const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return fold(x) == fold(y); });
}

HTTPHeaderFields::HTTPHeaderFields(std::initializer_list<Field> fields) {
  for (const auto& [name, value] : fields) set(name, value);
}

std::optional<std::string> HTTPHeaderFields::value(std::string_view name) const {
  for (const auto& f : fields_)
    if (namesEqual(f.first, name)) return f.second;
  return std::nullopt;
}

bool HTTPHeaderFields::contains(std::string_view name) const {
  return std::any_of(fields_.begin(), fields_.end(), [&](const Field& f) { return namesEqual(f.first, name); });
}

void HTTPHeaderFields::set(std::string_view name, std::string value) {
  for (auto& f : fields_)
    if (namesEqual(f.first, name)) {
      f.second = std::move(value);
      return;
    }
  if (fields_.empty()) fields_.reserve(kTypicalFieldCount);
  fields_.emplace_back(std::string(name), std::move(value));
}

void HTTPHeaderFields::add(std::string_view name, std::string_view value) {
  for (auto& f : fields_)
    if (namesEqual(f.first, name)) {
      f.second += ", ";
      f.second += value;
      return;
    }
  if (fields_.empty()) fields_.reserve(kTypicalFieldCount);
  fields_.emplace_back(std::string(name), std::string(value));
}

void HTTPHeaderFields::add(Field field) {
  for (auto& f : fields_)
    if (namesEqual(f.first, field.first)) {
      f.second += ", ";
      f.second += field.second;
      return;
    }
  if (fields_.empty()) fields_.reserve(kTypicalFieldCount);
  fields_.push_back(std::move(field));
}

std::optional<HTTPHeaderFields::Field> HTTPHeaderFields::parseLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  return Field(std::string(line.substr(0, colon)), std::string(value));
}

bool HTTPHeaderFields::remove(std::string_view name) {
  auto it = std::remove_if(fields_.begin(), fields_.end(), [&](const Field& f) { return namesEqual(f.first, name); });
  bool removed = it != fields_.end();
  fields_.erase(it, fields_.end());
  return removed;
}

bool HTTPHeaderFields::operator==(const HTTPHeaderFields& o) const {
  if (fields_.size() != o.fields_.size()) return false;
  for (const auto& f : fields_) {
    auto v = o.value(f.first);
    if (!v || *v != f.second) return false;
  }
  return true;
}

}  // namespace os
