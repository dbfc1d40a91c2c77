#include "os/store/Pasteboard.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <functional>
#include <mutex>
#include <string_view>

#include "os/crypto/Random.h"
#include "os/store/FileLock.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"

namespace os {

namespace {

constexpr long kCorruptPasteboard = 1;

// Names become file names: letters, digits, ".", "_" and "-" stay, everything else is %XX.
std::string fileNameFor(const std::string& name) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if (std::isalnum(c) || c == '.' || c == '_' || c == '-') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out + ".pasteboard";
}

}  // namespace

Pasteboard::Pasteboard(std::string name, std::string folder) : name_(std::move(name)), folder_(std::move(folder)) {}

std::string Pasteboard::folderFor(const std::shared_ptr<Sandbox>& sandbox) {
  std::string folder = appendingPathComponent((sandbox ? sandbox : Sandbox::current())->deviceDirectory(), "Pasteboards");
  FileManager::defaultManager().createDirectoryAtPath(folder, true);
  return folder;
}

std::string Pasteboard::filePath() const { return appendingPathComponent(folder_, fileNameFor(name_)); }
std::string Pasteboard::lockPath() const { return appendingPathComponent(folder_, ".lock"); }

std::shared_ptr<Pasteboard> Pasteboard::generalPasteboard(std::shared_ptr<Sandbox> sandbox) {
  return pasteboardWithName(kGeneralPasteboardName, true, std::move(sandbox));
}

std::shared_ptr<Pasteboard> Pasteboard::pasteboardWithName(const std::string& name, bool create,
                                                           std::shared_ptr<Sandbox> sandbox) {
  if (name.empty()) return nullptr;
  std::shared_ptr<Pasteboard> board(new Pasteboard(name, folderFor(sandbox)));
  FileLock lock(board->lockPath(), FileLock::Mode::Exclusive);
  if (FileManager::defaultManager().fileExistsAtPath(board->filePath())) return board;
  if (!create || !board->store(Contents{}, nullptr)) return nullptr;
  return board;
}

std::shared_ptr<Pasteboard> Pasteboard::pasteboardWithUniqueName(std::shared_ptr<Sandbox> sandbox) {
  return pasteboardWithName("pasteboard-" + uuidString(), true, std::move(sandbox));
}

void Pasteboard::removePasteboardWithName(const std::string& name, std::shared_ptr<Sandbox> sandbox) {
  if (name.empty()) return;
  Pasteboard board(name, folderFor(sandbox));
  FileLock lock(board.lockPath(), FileLock::Mode::Exclusive);
  FileManager::defaultManager().removeItemAtPath(board.filePath());
}

Pasteboard::Contents Pasteboard::load(Error* error) const {
  Contents c;
  FileManager& fm = FileManager::defaultManager();
  if (!fm.fileExistsAtPath(filePath())) return c;
  Error readError;
  auto bytes = fm.contentsAtPath(filePath(), &readError, kMaxFileBytes);
  // Reading a list costs many times reading its bytes, and a pasteboard is looked at far more
  // often than it changes: the newest lists read, each by its path and the hash of its bytes,
  // stand for the same bytes read again. What they keep is bounded as a pasteboard is.
  struct Remembered {
    std::string path;
    std::size_t size = 0, hash = 0;
    Contents contents;
    std::optional<Error> unreadable;
  };
  static std::mutex rememberedMutex;
  static std::deque<Remembered> remembered;
  constexpr std::size_t kRemembered = 8;
  const std::size_t hash = bytes ? std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size())) : 0;
  if (bytes) {
    std::lock_guard lock(rememberedMutex);
    for (const Remembered& r : remembered)
      if (r.path == filePath() && r.size == bytes->size() && r.hash == hash) {
        if (r.unreadable && error) *error = *r.unreadable;
        return r.contents;
      }
  }
  std::optional<Value> v;
  if (bytes) v = PropertyList::read(*bytes, nullptr, &readError);
  const Array* items = v ? (*v)["items"].array() : nullptr;
  std::optional<Error> unreadable;
  if (!items) {
    unreadable = Error::withDescription(kPasteboardErrorDomain, kCorruptPasteboard,
                                        "pasteboard " + name_ + " is unreadable" +
                                            (v ? std::string() : ": " + readError.localizedDescription()));
    if (error) *error = *unreadable;
  } else {
    c.persistent = (*v)["persistent"].boolValue();
    c.changeCount = static_cast<long>((*v)["changeCount"].intValue());
    for (const Value& item : *items) {
      const Dictionary* d = item.dictionary();
      if (!d) continue;
      Item out;
      for (const auto& [type, data] : *d)
        if (data.isData()) out.emplace(type, *data.data());
      if (!out.empty()) c.items.push_back(std::move(out));
    }
  }
  if (bytes) {
    std::lock_guard lock(rememberedMutex);
    std::erase_if(remembered, [&](const Remembered& r) { return r.path == filePath(); });
    remembered.push_back({filePath(), bytes->size(), hash, c, std::move(unreadable)});
    std::size_t kept = 0;
    for (const Remembered& r : remembered) kept += r.size;
    while (remembered.size() > 1 && (remembered.size() > kRemembered || kept > kMaxFileBytes)) {
      kept -= remembered.front().size;
      remembered.pop_front();
    }
  }
  return c;
}

bool Pasteboard::store(const Contents& c, Error* error) const {
  auto tooLarge = [&](const std::string& what) {
    if (error)
      *error = Error::withDescription(kPasteboardErrorDomain, kCorruptPasteboard,
                                      "pasteboard " + name_ + " would be too large (" + what + ")");
    return false;
  };
  // Read back as any list from elsewhere, with the bound on nodes that keeps a hostile one from
  // expanding without end: contents past it would be written, then read as unreadable. The nodes
  // are the file's dictionary with its four values, and each item with its entries.
  std::uint64_t nodes = 5;
  for (const Item& item : c.items) nodes += 1 + item.size();
  if (nodes > kPropertyListMaxNodes) return tooLarge(std::to_string(nodes) + " nodes");
  Array items;
  for (const Item& item : c.items) {
    Dictionary d;
    for (const auto& [type, data] : item) d.set(type, Value(data));
    items.push_back(Value(std::move(d)));
  }
  Dictionary file{{"name", Value(name_)},
                  {"persistent", Value(c.persistent)},
                  {"changeCount", Value::number('q', c.changeCount)},
                  {"items", Value(std::move(items))}};
  auto bytes = PropertyList::write(Value(std::move(file)), PropertyListFormat::Binary, error);
  if (!bytes) return false;
  if (bytes->size() > kMaxFileBytes) return tooLarge(std::to_string(bytes->size()) + " bytes");
  FileManager::defaultManager().removeAbandonedTemporaryFiles(filePath());
  return FileManager::defaultManager().writeData(*bytes, filePath(), WriteOptions{true, 0644}, error);
}

template <class F>
bool Pasteboard::modify(F change, Error* error) {
  FileLock lock(lockPath(), FileLock::Mode::Exclusive);
  Contents c = load(nullptr);  // an unreadable file is simply replaced
  change(c);
  ++c.changeCount;
  return store(c, error);
}

bool Pasteboard::isPersistent() const {
  FileLock lock(lockPath(), FileLock::Mode::Shared);
  return load(nullptr).persistent;
}

void Pasteboard::setPersistent(bool persistent) {
  modify([&](Contents& c) { c.persistent = persistent; }, nullptr);
}

long Pasteboard::changeCount() const {
  FileLock lock(lockPath(), FileLock::Mode::Shared);
  return load(nullptr).changeCount;
}

std::vector<Pasteboard::Item> Pasteboard::items(Error* error) const {
  FileLock lock(lockPath(), FileLock::Mode::Shared);
  return load(error).items;
}

bool Pasteboard::setItems(std::vector<Item> items, Error* error) {
  items.erase(std::remove_if(items.begin(), items.end(), [](const Item& i) { return i.empty(); }), items.end());
  return modify([&](Contents& c) { c.items = std::move(items); }, error);
}

std::vector<std::string> Pasteboard::pasteboardTypes() const {
  std::vector<std::string> out;
  auto all = items();
  if (!all.empty())
    for (const auto& entry : all.front()) out.push_back(entry.first);
  return out;
}

bool Pasteboard::containsPasteboardTypes(const std::vector<std::string>& types) const {
  auto present = pasteboardTypes();
  return std::any_of(types.begin(), types.end(),
                     [&](const std::string& t) { return std::find(present.begin(), present.end(), t) != present.end(); });
}

std::optional<Data> Pasteboard::dataForPasteboardType(const std::string& type, Error* error) const {
  auto all = items(error);
  if (all.empty()) return std::nullopt;
  auto it = all.front().find(type);
  if (it == all.front().end()) return std::nullopt;
  return it->second;
}

bool Pasteboard::setData(std::optional<Data> data, const std::string& type, Error* error) {
  return modify(
      [&](Contents& c) {
        if (data) {
          c.items = {Item{{type, std::move(*data)}}};
          return;
        }
        for (Item& item : c.items) item.erase(type);
        c.items.erase(std::remove_if(c.items.begin(), c.items.end(), [](const Item& i) { return i.empty(); }),
                      c.items.end());
      },
      error);
}

std::optional<std::string> Pasteboard::string() const {
  auto data = dataForPasteboardType(kPasteboardTypeText);
  if (!data) return std::nullopt;
  return stringFromData(*data);
}

bool Pasteboard::setString(const std::string& text) { return setData(dataFromString(text), kPasteboardTypeText); }

}  // namespace os
