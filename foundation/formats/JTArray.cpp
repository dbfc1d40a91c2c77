#include "foundation/formats/JTArray.h"

#include "os/core/Error.h"

std::string JTCollectionReason(const char* className, const char* selector, const std::string& text) {
  return std::string("*** -[") + className + " " + selector + "]: " + text;
}

void JTThrowMutatedWhileEnumerating(const char* className) {
  throw os::Exception("NSGenericException", std::string("*** Collection <") + className + "> was mutated while being enumerated.");
}

namespace {
[[noreturn]] void beyondBounds(const char* selector, std::size_t index, std::size_t bound) {
  throw os::Exception(os::kRangeException,
                      JTCollectionReason("JTArray", selector,
                                         "index (" + std::to_string(index) + ") beyond bounds (" + std::to_string(bound) + ")"));
}
}  // namespace

JTArray::JTArray(Key, os::Array values, bool mutableResult)
    : objects_(std::move(values)), capacity_(objects_.size()), mutations_(mutableResult ? 1 : 0) {}

std::shared_ptr<JTArray> JTArray::arrayWithValues(os::Array values, bool mutableResult) {
  return std::make_shared<JTArray>(Key{}, std::move(values), mutableResult);
}

std::shared_ptr<JTArray> JTArray::fromValue(const os::Value& value, bool mutableResult) {
  const os::Array* a = value.array();
  return a ? arrayWithValues(*a, mutableResult) : nullptr;
}

const os::Value& JTArray::objectAtIndex(std::size_t index) const {
  if (index >= objects_.size()) beyondBounds("objectAtIndex:", index, objects_.size());
  return objects_[index];
}

void JTArray::getObjects(os::Value* objects, std::size_t location, std::size_t length) const {
  const std::size_t rangeEnd = location + length;
  if (!objects && rangeEnd > 0)
    throw os::Exception(os::kRangeException, JTCollectionReason("JTArray", "getObjects:range:",
                                                                "pointer to objects array is NULL but range length is " + std::to_string(rangeEnd)));
  if (location > objects_.size() || rangeEnd > objects_.size() || rangeEnd < location)
    beyondBounds("getObjects:range:", rangeEnd, objects_.size());
  for (std::size_t i = 0; i < length; ++i) objects[i] = objects_[location + i];
}

void JTArray::requireMutable(const char* selector) const {
  if (mutations_ == 0)
    throw os::Exception(os::kInternalInconsistencyException,
                        JTCollectionReason("JTArray", selector, "mutating method sent to immutable object"));
}

void JTArray::mutated() {
  mutations_ = mutations_ == UINT32_MAX ? 1 : mutations_ + 1;
}

void JTArray::insertObject(os::Value object, std::size_t index) {
  requireMutable("insertObject:atIndex:");
  mutated();
  if (index > objects_.size()) beyondBounds("insertObject:atIndex:", index, objects_.size() + 1);
  // Room grows sixteen slots at a time.
  if (objects_.size() + 1 >= capacity_) {
    capacity_ += 16;
    objects_.reserve(capacity_);
  }
  objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(index), std::move(object));
}

void JTArray::removeObjectAtIndex(std::size_t index) {
  requireMutable("removeObjectAtIndex:");
  mutated();
  if (index >= objects_.size()) beyondBounds("removeObjectAtIndex:", index, objects_.size());
  objects_.erase(objects_.begin() + static_cast<std::ptrdiff_t>(index));
}

void JTArray::replaceObjectAtIndex(std::size_t index, os::Value object) {
  requireMutable("replaceObjectAtIndex:withObject:");
  mutated();
  if (index >= objects_.size()) beyondBounds("replaceObjectAtIndex:withObject:", index, objects_.size());
  objects_[index] = std::move(object);
}

std::shared_ptr<const JTArray> JTArray::copy() const {
  if (mutations_ == 0) return shared_from_this();
  return arrayWithValues(objects_, false);
}

const os::Value& JTArray::Iterator::operator*() const {
  if (array_->mutations_ != mutations_) JTThrowMutatedWhileEnumerating("JTArray");
  return array_->objects_[index_];
}

JTArray::Iterator& JTArray::Iterator::operator++() {
  if (array_->mutations_ != mutations_) JTThrowMutatedWhileEnumerating("JTArray");
  ++index_;
  return *this;
}
