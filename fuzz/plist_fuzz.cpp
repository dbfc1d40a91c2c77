// fuzz-link: os
// Property lists in both formats. Whatever reads must write again in its own format and read
// back as the same value, or the write must be refused with an error: a saved file must never
// become one the reader refuses.
#include <limits>

#include "fuzz/support/FuzzSupport.h"
#include "fuzz/support/SameValue.h"
#include "os/store/PropertyList.h"

namespace {

os::Value sample() {
  return os::Value(os::Dictionary{
      {"name", os::Value("\xE5\x86\x9B\xE4\xBA\x8B news \xF0\x9F\x98\x80")},
      {"ascii", os::Value("plain")},
      {"count", os::Value::number('q', -9000000000LL)},
      {"big", os::Value::unsignedNumber('Q', 18446744073709551615ULL)},
      {"ratio", os::Value(0.1)},
      {"on", os::Value(true)},
      {"when", os::Value(os::Date::fromTimeIntervalSinceReferenceDate(386000000.25))},
      {"blob", os::Value(os::Data{0, 1, 2, 255})},
      {"list", os::Value(os::Array{os::Value("a"), os::Value(os::Array{}), os::Value(os::Dictionary{})})},
      {"ref", os::uidValue(7)},
  });
}

// What the writers take at the reader's limits: dates at both ends of the range XML writes,
// integers at both ends, the largest reference and, with `deep`, a member at the deepest depth
// (XML's seed of that is committed without the indent, which grows with the square of the depth).
os::Value atTheLimits(bool deep) {
  os::Value deepest(os::Array{os::Value("leaf")});
  for (int depth = os::kPropertyListMaxDepth - 1; deep && depth > 1; --depth) deepest = os::Value(os::Array{deepest});
  const double far = 4611686018427387904.0;  // 2^62 seconds from 2001
  return os::Value(os::Array{
      deepest,
      os::Value(os::Date::fromTimeIntervalSinceReferenceDate(far)),
      os::Value(os::Date::fromTimeIntervalSinceReferenceDate(-far)),
      os::Value::number('q', std::numeric_limits<long long>::min()),
      os::Value::unsignedNumber('Q', std::numeric_limits<unsigned long long>::max()),
      os::uidValue(os::kPropertyListMaxUID),
  });
}

std::vector<fuzz::Seed> seeds() {
  std::vector<fuzz::Seed> out;
  for (bool uids : {false, true}) {
    for (auto format : {os::PropertyListFormat::XML, os::PropertyListFormat::Binary}) {
      const std::string name = std::string(format == os::PropertyListFormat::XML ? "xml" : "binary") + (uids ? "-uid" : "");
      if (auto d = os::PropertyList::write(sample(), format, nullptr, uids)) out.push_back({name, os::stringFromData(*d)});
      if (auto d = os::PropertyList::write(atTheLimits(format == os::PropertyListFormat::Binary), format, nullptr, uids))
        out.push_back({name + "-limits", os::stringFromData(*d)});
    }
  }
  return out;
}
FUZZ_SEEDS(seeds);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  os::Data bytes(data, data + size);
  os::PropertyListFormat format{};
  os::Error error;
  std::optional<os::Value> value = os::PropertyList::read(bytes, &format, &error);
  if (!value) {
    fuzz::check(error.code == os::kPropertyListReadCorruptError, "a refused list must say why");
    return 0;
  }
  std::optional<os::Data> written = os::PropertyList::write(*value, format, &error, true);
  if (!written) {
    fuzz::check(error.code == os::kPropertyListWriteInvalidError, "a refused write must say why");
    return 0;
  }
  os::PropertyListFormat again{};
  std::optional<os::Value> reread = os::PropertyList::read(*written, &again, &error);
  fuzz::check(reread.has_value(), "a written property list does not read back");
  fuzz::check(again == format, "a written property list changed its format");
  // XML keeps a date's whole seconds, though it reads a fraction written elsewhere.
  fuzz::check(fuzz::sameValue(*value, *reread, format == os::PropertyListFormat::XML),
              "a written property list reads back as another value");
  return 0;
}
