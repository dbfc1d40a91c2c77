#pragma once
// Parameters to query strings: a nested dictionary becomes "a[b]=..." pairs, an array "a[]=...",
// and every field and value is percent-escaped byte by byte in the chosen encoding. The form
// bodies of the client and the parts of its multipart forms come from the same pairs.
#include <optional>
#include <string>
#include <vector>

#include "os/core/TextEncoding.h"
#include "os/core/Value.h"

// What differs between the editions of the client in making query strings.
struct TLQueryStringRules {
  // Bytes written as they are; every other byte becomes "%XX".
  std::string keptCharacters;
  // Dictionary keys in ascending case-insensitive order (else in the dictionary's own order).
  bool sortsDictionaryKeys = true;
  // A set's members become pairs of their own (else the set is one value).
  bool expandsSets = true;

  // Letters, digits and - . _ ~ [ ] kept; dictionary keys sorted; sets expanded.
  static const TLQueryStringRules& standard();
};

class TLQueryStringPair {
 public:
  // An absent field is the null value.
  TLQueryStringPair(os::Value field, os::Value value) : field_(std::move(field)), value_(std::move(value)) {}

  const os::Value& field() const { return field_; }
  const os::Value& value() const { return value_; }

  // "field=value" escaped; the field alone when the value is null. Absent when a text cannot be
  // written in the encoding.
  std::optional<std::string> URLEncodedStringValue(os::StringEncoding encoding,
                                                   const TLQueryStringRules& rules = TLQueryStringRules::standard()) const;

 private:
  os::Value field_;
  os::Value value_;
};

// The text a value stands for in a query or a form part: a string as it is, a number in decimal,
// anything else as its description.
std::string TLQueryStringDescription(const os::Value& value);

std::vector<TLQueryStringPair> TLQueryStringPairsFromKeyAndValue(const os::Value& key, const os::Value& value,
                                                                 const TLQueryStringRules& rules = TLQueryStringRules::standard());
// The pairs' texts joined with "&". Absent when a text cannot be written in the encoding.
std::optional<std::string> TLQueryStringFromParametersWithEncoding(
    const os::Value& parameters, os::StringEncoding encoding, const TLQueryStringRules& rules = TLQueryStringRules::standard());
std::optional<std::string> TLPercentEscapedQueryStringPairMemberFromStringWithEncoding(
    const std::string& string, os::StringEncoding encoding, const TLQueryStringRules& rules = TLQueryStringRules::standard());
