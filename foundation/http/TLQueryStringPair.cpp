#include "foundation/http/TLQueryStringPair.h"

#include <algorithm>

#include "os/core/String.h"

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool caseInsensitiveLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return lower(x) < lower(y); });
}

void collect(const os::Value& key, const os::Value& value, const TLQueryStringRules& rules,
             std::vector<TLQueryStringPair>& out) {
  if (const auto* dict = value.dictionary()) {
    std::vector<const os::Dictionary::Entry*> entries;
    for (const auto& entry : *dict) entries.push_back(&entry);
    if (rules.sortsDictionaryKeys)
      std::stable_sort(entries.begin(), entries.end(),
                       [](const auto* a, const auto* b) { return caseInsensitiveLess(a->first, b->first); });
    for (const auto* entry : entries) {
      os::Value nested = key.isNull() ? os::Value(entry->first)
                                      : os::Value(TLQueryStringDescription(key) + "[" + entry->first + "]");
      collect(nested, entry->second, rules, out);
    }
  } else if (const auto* array = value.array()) {
    os::Value nested(TLQueryStringDescription(key) + "[]");
    for (const auto& element : *array) collect(nested, element, rules, out);
  } else if (value.isSet() && rules.expandsSets) {
    for (const auto& member : *value.setMembers()) collect(key, member, rules, out);
  } else {
    out.emplace_back(key, value);
  }
}

}  // namespace

const TLQueryStringRules& TLQueryStringRules::standard() {
  static const TLQueryStringRules kStandard{std::string(os::kURLUnreservedCharacters) + "[]", true, true};
  return kStandard;
}

std::string TLQueryStringDescription(const os::Value& value) {
  if (const auto* s = value.string()) return *s;
  return value.description();
}

std::optional<std::string> TLPercentEscapedQueryStringPairMemberFromStringWithEncoding(const std::string& string,
                                                                                     os::StringEncoding encoding,
                                                                                     const TLQueryStringRules& rules) {
  return os::percentEscape(string, encoding, rules.keptCharacters);
}

std::optional<std::string> TLQueryStringPair::URLEncodedStringValue(os::StringEncoding encoding,
                                                                    const TLQueryStringRules& rules) const {
  auto field = TLPercentEscapedQueryStringPairMemberFromStringWithEncoding(TLQueryStringDescription(field_), encoding, rules);
  if (!field) return std::nullopt;
  if (value_.isNull()) return field;
  auto value = TLPercentEscapedQueryStringPairMemberFromStringWithEncoding(TLQueryStringDescription(value_), encoding, rules);
  if (!value) return std::nullopt;
  return *field + "=" + *value;
}

std::vector<TLQueryStringPair> TLQueryStringPairsFromKeyAndValue(const os::Value& key, const os::Value& value,
                                                                 const TLQueryStringRules& rules) {
  std::vector<TLQueryStringPair> pairs;
  collect(key, value, rules, pairs);
  return pairs;
}

std::optional<std::string> TLQueryStringFromParametersWithEncoding(const os::Value& parameters, os::StringEncoding encoding,
                                                                   const TLQueryStringRules& rules) {
  std::string out;
  bool first = true;
  for (const auto& pair : TLQueryStringPairsFromKeyAndValue(os::Value(), parameters, rules)) {
    auto text = pair.URLEncodedStringValue(encoding, rules);
    if (!text) return std::nullopt;
    if (!first) out += '&';
    out += *text;
    first = false;
  }
  return out;
}
