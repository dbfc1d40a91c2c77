#pragma once
// Pasteboards shared by every application on the device: the general one and named ones, each a
// list of items mapping a type to bytes. Each pasteboard is a property-list file in the device
// folder, read on every access (bytes read before are not parsed again) and rewritten atomically
// under a lock, so that another application (another sandbox on the same device folder) sees every
// change.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Error.h"

namespace os {

class Sandbox;

inline constexpr const char* kPasteboardErrorDomain = "os.pasteboard";
inline constexpr const char* kGeneralPasteboardName = "os.pasteboard.general";
inline constexpr const char* kPasteboardTypeText = "text/plain;charset=utf-8";

class Pasteboard {
 public:
  using Item = std::map<std::string, Data>;
  // Any application on the device may write a pasteboard: a file past this size is read as
  // unreadable without being read, and a change that would make one is refused, as is one with
  // more entries than a property list from elsewhere is read with (kPropertyListMaxNodes).
  static constexpr std::uint64_t kMaxFileBytes = 64ull << 20;

  // A null sandbox means the current one.
  static std::shared_ptr<Pasteboard> generalPasteboard(std::shared_ptr<Sandbox> sandbox = nullptr);
  // Null for an empty name, or when the pasteboard does not exist and create is false.
  static std::shared_ptr<Pasteboard> pasteboardWithName(const std::string& name, bool create,
                                                        std::shared_ptr<Sandbox> sandbox = nullptr);
  static std::shared_ptr<Pasteboard> pasteboardWithUniqueName(std::shared_ptr<Sandbox> sandbox = nullptr);
  static void removePasteboardWithName(const std::string& name, std::shared_ptr<Sandbox> sandbox = nullptr);

  const std::string& name() const { return name_; }
  // Kept with the pasteboard; the simulated device never discards pasteboards by itself.
  bool isPersistent() const;
  void setPersistent(bool persistent);
  // Grows with every change.
  long changeCount() const;

  // A file that is not a pasteboard reads as no items, with the error.
  std::vector<Item> items(Error* error = nullptr) const;
  bool setItems(std::vector<Item> items, Error* error = nullptr);

  // The types of the first item.
  std::vector<std::string> pasteboardTypes() const;
  bool containsPasteboardTypes(const std::vector<std::string>& types) const;

  // The first item's data of the type: absent when there is none, empty when empty data was set.
  std::optional<Data> dataForPasteboardType(const std::string& type, Error* error = nullptr) const;
  // With data: the pasteboard then holds one item with that type. Without: the type is taken out
  // of every item (items left empty go).
  bool setData(std::optional<Data> data, const std::string& type, Error* error = nullptr);

  std::optional<std::string> string() const;
  bool setString(const std::string& text);

 private:
  struct Contents {
    bool persistent = false;
    long changeCount = 0;
    std::vector<Item> items;
  };
  Pasteboard(std::string name, std::string folder);
  static std::string folderFor(const std::shared_ptr<Sandbox>& sandbox);
  std::string filePath() const;
  std::string lockPath() const;
  Contents load(Error* error) const;  // caller holds the lock
  bool store(const Contents& contents, Error* error) const;
  template <class F> bool modify(F change, Error* error);

  std::string name_;
  std::string folder_;
};

}  // namespace os
