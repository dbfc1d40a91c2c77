#pragma once
// Reads UTF-8 JSON text into os::Value trees. The top level must be an object or an array.
// A decoder remembers the strings it has built, so the repeated values of large answers (and of
// later answers on the same decoder) share one storage.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "foundation/formats/JSONCodecProfile.h"
#include "foundation/formats/JSONReaderSupport.h"
#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/core/Value.h"

// Parse options (bit set; 16 and above are refused).
inline constexpr unsigned JTParseStrict = 0;
inline constexpr unsigned JTParseComments = 1;          // "/* */" and "//" comments are white space
inline constexpr unsigned JTParseUnicodeNewlines = 2;   // U+0085, U+2028, U+2029 break lines
inline constexpr unsigned JTParseLooseUnicode = 4;      // bad UTF-8 and bad \u escapes become U+FFFD
inline constexpr unsigned JTParseTrailingText = 8;      // text after the top-level value is ignored

class JSONDecoder {
 public:
  // Options of 16 or more throw os::Exception (invalid argument, "Invalid parse options.").
  explicit JSONDecoder(unsigned parseOptions = JTParseStrict,
                       const JSONCodecProfile& profile = JSONCodecProfile::current());
  static std::shared_ptr<JSONDecoder> decoder() { return decoderWithParseOptions(JTParseStrict); }
  static std::shared_ptr<JSONDecoder> decoderWithParseOptions(unsigned parseOptions);

  unsigned parseOptions() const { return options_; }
  const JSONCodecProfile& profile() const { return profile_; }

  // The value of the text, or nothing with the first error of the parse in *error (domain of the
  // profile, code -1, the message, the byte index and the line number). A null pointer throws.
  std::optional<os::Value> objectWithUTF8String(const char* bytes, std::size_t length, os::Error* error = nullptr);
  std::optional<os::Value> objectWithData(const os::Data& data, os::Error* error = nullptr);
  // The same parse for callers that go on to change the result: os::Value containers are
  // always writable by their holder, so both forms give the same tree. JTArray and JTDictionary
  // keep the mutable/immutable distinction where a caller needs it.
  std::optional<os::Value> mutableObjectWithUTF8String(const char* bytes, std::size_t length, os::Error* error = nullptr);
  std::optional<os::Value> mutableObjectWithData(const os::Data& data, os::Error* error = nullptr);

  // Older names of the immutable forms.
  std::optional<os::Value> parseUTF8String(const char* bytes, std::size_t length, os::Error* error = nullptr) {
    return objectWithUTF8String(bytes, length, error);
  }
  std::optional<os::Value> parseJSONData(const os::Data& data, os::Error* error = nullptr) { return objectWithData(data, error); }

  // Forgets every remembered string.
  void clearCache();

  ~JSONDecoder();
  JSONDecoder(const JSONDecoder&) = delete;
  JSONDecoder& operator=(const JSONDecoder&) = delete;

  // Value cache slots, public for the parser in the implementation file. A slot in use (its tag
  // is not 0) holds a string value and a pointer to its text, which the slot's hold on the value
  // keeps alive; a slot never filled is bare storage, so a decoder made for one small answer
  // does not build and destroy a thousand slots it never uses.
  struct CacheSlot {
    os::Value object;
    const std::string* text = nullptr;
  };
  static constexpr std::size_t kCacheSize = 1024;

 private:
  friend class JSONParse;
  std::optional<os::Value> parse(const std::uint8_t* bytes, std::size_t length, os::Error* error);
  CacheSlot* slots() { return std::launder(reinterpret_cast<CacheSlot*>(slots_->bytes)); }
  // Ends the slots in use; every slot is bare storage afterwards.
  void releaseSlots();
  void destroySlotsInUse();

  unsigned options_;
  JSONCodecProfile profile_;
  struct SlotStorage {
    alignas(CacheSlot) unsigned char bytes[sizeof(CacheSlot) * kCacheSize];
  };
  std::unique_ptr<SlotStorage> slots_;
  std::array<std::uint8_t, kCacheSize> ages_{};
  // Per slot, its text's hash with the lowest bit set, or 0 when the slot is free: a probe reads
  // these, not the slots.
  std::array<std::uint32_t, kCacheSize> tags_{};
  std::uint32_t prng_ = 1;
  // The slots in use, in the order they were first filled: what there is to end.
  std::vector<std::uint16_t> inUse_;
  // The storage of the containers open during a parse, and what the last ones at each depth were
  // like (their sizes and keys), kept between parses.
  JSONReaderLevels levels_;
  os::Value emptyString_;
};
