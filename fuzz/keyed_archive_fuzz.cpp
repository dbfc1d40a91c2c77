// fuzz-link: os
// Keyed archives of plain values and of registered classes, as stored by the sharing and login
// clients: a damaged archive must be refused whole, and what decodes must archive again.
#include "fuzz/support/FuzzSupport.h"
#include "fuzz/support/SameValue.h"
#include "os/store/KeyedArchive.h"

namespace {

struct Token : os::Archivable {
  std::string value;
  std::int64_t expiry = 0;
  std::shared_ptr<Token> next;
  std::vector<std::string> archiveClassNames() const override { return {"FuzzToken", "FuzzObject"}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override {
    coder.encodeObject(os::Value(value), "value");
    coder.encodeInt64(expiry, "expiry");
    coder.encodeObject(next, "next");
  }
  static std::shared_ptr<os::Archivable> decode(os::KeyedUnarchiver& coder) {
    auto t = std::make_shared<Token>();
    t->value = coder.decodeString("value").value_or("");
    t->expiry = coder.decodeInt64("expiry");
    t->next = coder.decodeObject("next").objectAs<Token>();
    return t;
  }
};

os::ArchiveClassRegistry registry() { return os::ArchiveClassRegistry().add("FuzzToken", Token::decode); }

std::vector<fuzz::Seed> seeds() {
  std::vector<fuzz::Seed> out;
  os::Value plain(os::Dictionary{
      {"SharedUDID", os::Value("0123456789abcdef")},
      {"created", os::Value(os::Date::fromTimeIntervalSince1970(1700000000.5))},
      {"list", os::Value(os::Array{os::Value(1), os::Value(2.5), os::Value(true), os::Value(os::Data{1, 2})})},
      {"tags", os::Value::set({os::Value("x"), os::Value("y")})},
  });
  if (auto d = os::KeyedArchiver::archivedData(plain)) out.push_back({"plain", os::stringFromData(*d)});
  auto inner = std::make_shared<Token>();
  inner->value = "refresh";
  auto outer = std::make_shared<Token>();
  outer->value = "access";
  outer->expiry = 1800000000;
  outer->next = inner;
  auto item = os::ArchiveItem::dictionary({{"qq", outer},
                                           {"again", inner},
                                           {"site", os::ArchiveItem::url("http://example.com/p?q=1")},
                                           {"list", os::ArchiveItem::array({inner, os::Value("s")})}});
  if (auto d = os::KeyedArchiver::archivedData(item)) out.push_back({"objects", os::stringFromData(*d)});
  return out;
}
FUZZ_SEEDS(seeds);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  os::Data bytes(data, data + size);
  os::Error error;
  if (std::optional<os::Value> value = os::KeyedUnarchiver::unarchiveValue(bytes, os::kKeyedArchiveRootKey, &error)) {
    std::optional<os::Data> again = os::KeyedArchiver::archivedData(*value, os::kKeyedArchiveRootKey, &error);
    if (again) {
      std::optional<os::Value> back = os::KeyedUnarchiver::unarchiveValue(*again);
      fuzz::check(back.has_value(), "a re-archived value does not decode");
      fuzz::check(fuzz::sameValue(*back, *value), "a re-archived value decodes as another value");
    }
  }  // else refused, or an archive of nothing (its root is the null object)
  if (std::optional<os::ArchiveItem> item = os::KeyedUnarchiver::unarchiveObject(bytes, registry(), os::kKeyedArchiveRootKey, &error))
    (void)os::KeyedArchiver::archivedData(*item);
  return 0;
}
