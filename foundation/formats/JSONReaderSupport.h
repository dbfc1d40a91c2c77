#pragma once
// What the JSON readers share for building trees: a level of element and member storage per
// depth, values made in their place, and the exact short form of doubles.
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "os/core/Value.h"

// The elements and members of the containers open during a read, a level per depth (at most one
// container is open at each). A closing container takes its level's storage whole; the next one at
// that depth starts with room for as many as the last had, since answers repeat their shapes.
struct JSONReaderLevel {
  std::vector<os::Value> elements;
  std::vector<os::Dictionary::Entry> members;
  std::size_t lastElements = 0, lastMembers = 0;
  // Keys of the last objects at this depth by position, each as it stood in the text (the decoder
  // tries them first).
  std::vector<std::string> keys;
  // How many of those, from the first, are known to differ from one another: an object whose keys
  // were all the known ones in order needs no search for duplicates when they are among these.
  std::size_t distinctKeys = 0;

  static constexpr std::size_t kKnownKeys = 32;

  void rememberKey(std::size_t index, const char* bytes, std::size_t length) {
    if (index >= keys.size()) keys.resize(index + 1);
    keys[index].assign(bytes, length);
    if (index < distinctKeys) distinctKeys = index;
  }
  // Whether the first n known keys differ from one another (each key checked once while they stay).
  bool keysDistinct(std::size_t n) {
    for (; distinctKeys < n; ++distinctKeys)
      for (std::size_t i = 0; i < distinctKeys; ++i)
        if (keys[i] == keys[distinctKeys]) return false;
    return true;
  }

  void startArray() {
    if (elements.capacity() < lastElements) elements.reserve(lastElements);
  }
  void startObject() {
    if (members.capacity() < lastMembers) members.reserve(lastMembers);
  }
  // Room held for a larger container than the one closing is given back.
  void closeArray() {
    lastElements = elements.size();
    if (elements.capacity() > 2 * elements.size() + 8) elements.shrink_to_fit();
  }
  void closeObject() {
    lastMembers = members.size();
    if (members.capacity() > 2 * members.size() + 8) members.shrink_to_fit();
  }
};

class JSONReaderLevels {
 public:
  // Stays in place while deeper levels are added.
  JSONReaderLevel& at(std::size_t depth) {
    while (levels_.size() <= depth) levels_.push_back(std::make_unique<JSONReaderLevel>());
    return *levels_[depth];
  }
  // After a failed read: what the open containers had read goes, with its room.
  void dropOpenContainers() {
    for (const auto& l : levels_) {
      std::vector<os::Value>().swap(l->elements);
      std::vector<os::Dictionary::Entry>().swap(l->members);
    }
  }

 private:
  std::vector<std::unique_ptr<JSONReaderLevel>> levels_;
};

// Makes a value in the place of `place` rather than moving it there: the move would at once read
// back, in wider words, what making it has just written.
template <class Make>
void makeValueInPlace(os::Value& place, Make make) {
  place.~Value();
  try {
    ::new (&place) os::Value(make());
  } catch (...) {
    ::new (&place) os::Value();
    throw;
  }
}

// Up to 15 digits and a power of ten up to 22 are exact doubles, and one division or product of
// two exact doubles is rounded correctly: the double of `digits` digits of value `mantissa` times
// ten to `scale` (an exponent written with `exponentDigits` digits), or false when out of reach.
inline bool exactShortDouble(unsigned long long mantissa, std::size_t digits, int scale, std::size_t exponentDigits,
                             bool negative, double& out) {
  static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                            1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (digits > 15 || exponentDigits > 2 || scale < -22 || scale > 22) return false;
  const double v = static_cast<double>(mantissa);
  out = scale < 0 ? v / kPowersOfTen[-scale] : v * kPowersOfTen[scale];
  if (negative) out = -out;
  return true;
}
