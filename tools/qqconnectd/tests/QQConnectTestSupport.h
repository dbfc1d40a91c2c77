#pragma once
// What the QQ Connect service's tests read off its answers, written once.
#include <map>
#include <string>

#include "foundation/formats/JSONDecoder.h"
#include "os/core/String.h"
#include "os/core/Value.h"

namespace qqconnectd {

// A JSON answer's object; empty when the text is none.
inline os::Dictionary object(const std::string& text) {
  auto value = JSONDecoder::decoder()->objectWithUTF8String(text.data(), text.size());
  return value && value->dictionary() ? *value->dictionary() : os::Dictionary{};
}

// The fragment's members, as the client's login reads them after the "#".
inline std::map<std::string, std::string> fragmentOf(const std::string& location) {
  std::map<std::string, std::string> members;
  const auto hash = location.find('#');
  if (hash == std::string::npos) return members;
  for (const auto& pair : os::split(location.substr(hash + 1), "&")) {
    const auto eq = pair.find('=');
    members[pair.substr(0, eq)] = os::percentUnescape(pair.substr(eq + 1)).value_or("");
  }
  return members;
}

}  // namespace qqconnectd
