// fuzz-link: os
// Keyed archives from other applications under tight limits, so mutations reach every cap: an
// archive is decoded whole or refused with an error, and nothing outside the allow-list is made.
#include "fuzz/support/FuzzSupport.h"
#include "os/store/KeyedArchive.h"

namespace {

int gMade = 0;

struct Note : os::Archivable {
  std::string text;
  std::shared_ptr<Note> next;
  std::vector<std::string> archiveClassNames() const override { return {"FuzzNote", "FuzzObject"}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override {
    coder.encodeObject(os::Value(text), "text");
    coder.encodeObject(next, "next");
  }
  static std::shared_ptr<os::Archivable> decode(os::KeyedUnarchiver& coder) {
    ++gMade;
    auto n = std::make_shared<Note>();
    n->text = coder.decodeString("text").value_or("");
    n->next = coder.decodeObject("next").objectAs<Note>();
    return n;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  os::KeyedArchiveLimits limits;
  limits.maxBytes = 4096;
  limits.maxObjects = 64;
  limits.maxDepth = 8;
  os::Data bytes(data, data + size);
  os::Error error;
  gMade = 0;
  auto item = os::KeyedUnarchiver::unarchiveObject(bytes, os::ArchiveClassRegistry().add("FuzzNote", Note::decode),
                                                   os::kKeyedArchiveRootKey, &error, limits);
  if (!item) {
    fuzz::check(error.domain.empty() || error.domain == os::kKeyedArchiveErrorDomain, "an error from elsewhere");
    fuzz::check(size <= limits.maxBytes || error.code == os::kKeyedArchiveLimitError, "an oversized archive got through");
  }
  // Each object is made at most once, so a table of 64 entries makes at most 64.
  fuzz::check(gMade <= 64, "more objects made than the archive may list");
  return 0;
}
