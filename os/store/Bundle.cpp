#include "os/store/Bundle.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"

namespace os {

namespace {

void appendUTF8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class StringsParser {
 public:
  explicit StringsParser(std::string_view text) : s_(text) {}

  std::optional<Dictionary> parse(std::string& why) {
    Dictionary out;
    for (;;) {
      skipSpace();
      if (pos_ >= s_.size()) return out;
      auto key = token();
      if (!key) return why = "strings table: expected a key at offset " + std::to_string(pos_), std::nullopt;
      skipSpace();
      std::string value = *key;
      if (peek() == '=') {
        ++pos_;
        skipSpace();
        auto v = token();
        if (!v) return why = "strings table: expected a value at offset " + std::to_string(pos_), std::nullopt;
        value = std::move(*v);
        skipSpace();
      }
      if (peek() != ';') return why = "strings table: expected ';' at offset " + std::to_string(pos_), std::nullopt;
      ++pos_;
      out.set(std::move(*key), Value(std::move(value)));
    }
  }

 private:
  char peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }

  void skipSpace() {
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        ++pos_;
      } else if (s_.compare(pos_, 2, "/*") == 0) {
        auto end = s_.find("*/", pos_ + 2);
        pos_ = end == std::string_view::npos ? s_.size() : end + 2;
      } else if (s_.compare(pos_, 2, "//") == 0) {
        auto end = s_.find('\n', pos_);
        pos_ = end == std::string_view::npos ? s_.size() : end + 1;
      } else {
        return;
      }
    }
  }

  std::optional<std::string> token() {
    std::string out;
    if (peek() != '"') {
      while (pos_ < s_.size()) {
        char c = s_[pos_];
        if (!(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_.$:/-", c))) break;
        out += c;
        ++pos_;
      }
      if (out.empty()) return std::nullopt;
      return out;
    }
    ++pos_;
    while (pos_ < s_.size()) {
      char c = s_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= s_.size()) return std::nullopt;
      char e = s_[pos_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'U':
        case 'u': {
          std::uint32_t cp = 0;
          int digits = 0;
          while (digits < 4 && pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_]))) {
            char h = s_[pos_++];
            cp = cp * 16 + static_cast<std::uint32_t>(std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : (std::tolower(h) - 'a' + 10));
            ++digits;
          }
          appendUTF8(out, cp);
          break;
        }
        default: out += e; break;
      }
    }
    return std::nullopt;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<Dictionary> parseStringsTable(const Data& data, Error* error) {
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  bool looksPlist = PropertyList::isBinary(data) || text.find("<plist") != std::string_view::npos;
  if (looksPlist) {
    auto v = PropertyList::read(data, nullptr, error);
    if (!v) return std::nullopt;
    if (!v->isDictionary()) {
      if (error) *error = Error::withDescription(kPropertyListErrorDomain, kPropertyListReadCorruptError,
                                                 "strings table is not a dictionary");
      return std::nullopt;
    }
    Dictionary out;
    for (const auto& [k, val] : *v->dictionary())
      if (val.isString()) out.set(k, val);
    return out;
  }
  std::string why;
  auto out = StringsParser(text).parse(why);
  if (!out && error) *error = Error::withDescription(kPropertyListErrorDomain, kPropertyListReadCorruptError, why);
  return out;
}

Bundle::Bundle(std::string path) : path_(std::move(path)) {}

std::shared_ptr<Bundle> Bundle::mainBundle() { return Sandbox::current()->mainBundle(); }

Dictionary Bundle::infoDictionary() const {
  std::lock_guard lock(mutex_);
  if (!info_) {
    auto v = PropertyList::readFile(appendingPathComponent(path_, "Info.plist"));
    info_ = v && v->isDictionary() ? *v->dictionary() : Dictionary{};
  }
  return *info_;
}

Dictionary Bundle::localizedInfoDictionary() const {
  std::lock_guard lock(mutex_);
  return table("InfoPlist");
}

Value Bundle::objectForInfoDictionaryKey(const std::string& key) const {
  Dictionary localized = localizedInfoDictionary();
  if (const Value* v = localized.find(key)) return *v;
  return infoDictionary()[key];
}

std::optional<std::string> Bundle::bundleIdentifier() const {
  Value v = infoDictionary()[kBundleIdentifierKey];
  if (!v.isString() || v.string()->empty()) return std::nullopt;
  return *v.string();
}

std::optional<std::string> Bundle::pathForResource(const std::string& name, const std::string& type) const {
  if (name.empty()) return std::nullopt;
  std::string file = type.empty() ? name : name + "." + type;
  FileManager& fm = FileManager::defaultManager();
  bool isDir = false;
  std::string direct = appendingPathComponent(path_, file);
  if (fm.fileExistsAtPath(direct, &isDir) && !isDir) return direct;
  if (auto names = fm.contentsOfDirectoryAtPath(path_)) {
    for (const std::string& n : *names) {
      if (n.size() <= 6 || n.compare(n.size() - 6, 6, ".lproj") != 0) continue;
      std::string candidate = appendingPathComponent(appendingPathComponent(path_, n), file);
      if (fm.fileExistsAtPath(candidate, &isDir) && !isDir) return candidate;
    }
  }
  return std::nullopt;
}

std::optional<Data> Bundle::dataForResource(const std::string& name, const std::string& type, Error* error) const {
  auto path = pathForResource(name, type);
  if (!path) {
    if (error) *error = fileError(ENOENT, appendingPathComponent(path_, type.empty() ? name : name + "." + type));
    return std::nullopt;
  }
  return FileManager::defaultManager().contentsAtPath(*path, error);
}

std::optional<Value> Bundle::propertyListForResource(const std::string& name, const std::string& type,
                                                     Error* error) const {
  auto data = dataForResource(name, type, error);
  if (!data) return std::nullopt;
  return PropertyList::read(*data, nullptr, error);
}

const Dictionary& Bundle::table(const std::string& name) const {
  auto it = tables_.find(name);
  if (it != tables_.end()) return it->second;
  Dictionary entries;
  if (auto data = dataForResource(name, "strings")) {
    if (auto parsed = parseStringsTable(*data)) entries = std::move(*parsed);
  }
  return tables_.emplace(name, std::move(entries)).first->second;
}

std::string Bundle::localizedStringForKey(const std::string& key, const std::string& value,
                                          const std::string& table) const {
  std::lock_guard lock(mutex_);
  const Value& v = this->table(table.empty() ? "Localizable" : table)[key];
  if (const std::string* s = v.string()) return *s;
  return value.empty() ? key : value;
}

void Bundle::reload() {
  std::lock_guard lock(mutex_);
  info_.reset();
  tables_.clear();
}

}  // namespace os
