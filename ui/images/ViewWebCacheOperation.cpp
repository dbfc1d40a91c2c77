#include "ui/images/ViewWebCacheOperation.h"

#include <map>
#include <mutex>

#include "ui/images/BNWebImageManager.h"

namespace {

struct ViewLoadState {
  std::weak_ptr<os::View> view;
  std::map<std::string, std::vector<std::shared_ptr<BNWebImageOperation>>> operations;
  std::optional<os::URL> imageURL;
  std::map<unsigned, os::URL> imageURLStorage;
};

struct Registry {
  std::mutex mutex;
  std::map<const os::View*, ViewLoadState> states;
  std::shared_ptr<BNWebImageManager> manager;
};

Registry& registry() {
  static Registry* instance = new Registry;  // outlives static destruction: views may die late
  return *instance;
}

// The state of a live view (made on first use); registry mutex held. Entries of views that have
// gone, including one whose address a new view now has, are dropped first.
ViewLoadState& stateFor(Registry& r, const std::shared_ptr<os::View>& view) {
  for (auto it = r.states.begin(); it != r.states.end();) {
    if (it->second.view.expired())
      it = r.states.erase(it);
    else
      ++it;
  }
  auto& state = r.states[view.get()];
  state.view = view;
  return state;
}

std::vector<std::shared_ptr<BNWebImageOperation>> take(const std::shared_ptr<os::View>& view, const std::string& key) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto& state = stateFor(r, view);
  auto it = state.operations.find(key);
  if (it == state.operations.end()) return {};
  auto operations = std::move(it->second);
  state.operations.erase(it);
  return operations;
}

void cancelAll(const std::vector<std::shared_ptr<BNWebImageOperation>>& operations) {
  for (const auto& operation : operations)
    if (operation) operation->cancel();
}

}  // namespace

void sd_setImageLoadOperations(const std::shared_ptr<os::View>& view, std::vector<std::shared_ptr<BNWebImageOperation>> operations,
                               const std::string& key) {
  if (!view) return;
  cancelAll(take(view, key));
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  stateFor(r, view).operations[key] = std::move(operations);
}

void sd_setImageLoadOperation(const std::shared_ptr<os::View>& view, std::shared_ptr<BNWebImageOperation> operation,
                              const std::string& key) {
  sd_setImageLoadOperations(view, {std::move(operation)}, key);
}

void sd_cancelImageLoadOperationWithKey(const std::shared_ptr<os::View>& view, const std::string& key) {
  if (!view) return;
  cancelAll(take(view, key));
}

void sd_removeImageLoadOperationWithKey(const std::shared_ptr<os::View>& view, const std::string& key) {
  if (!view) return;
  take(view, key);
}

std::size_t BNImageLoadOperationCount(const std::shared_ptr<os::View>& view, const std::string& key) {
  if (!view) return 0;
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto& state = stateFor(r, view);
  auto it = state.operations.find(key);
  return it == state.operations.end() ? 0 : it->second.size();
}

void BNSetAttachedImageURL(const std::shared_ptr<os::View>& view, const std::optional<os::URL>& url) {
  if (!view) return;
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  stateFor(r, view).imageURL = url;
}

std::optional<os::URL> BNAttachedImageURL(const std::shared_ptr<os::View>& view) {
  if (!view) return std::nullopt;
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  return stateFor(r, view).imageURL;
}

void BNSetImageURLForState(const std::shared_ptr<os::View>& view, unsigned state, const std::optional<os::URL>& url) {
  if (!view) return;
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto& storage = stateFor(r, view).imageURLStorage;
  if (url)
    storage.insert_or_assign(state, *url);
  else
    storage.erase(state);
}

std::optional<os::URL> BNImageURLForState(const std::shared_ptr<os::View>& view, unsigned state) {
  if (!view) return std::nullopt;
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto& storage = stateFor(r, view).imageURLStorage;
  auto it = storage.find(state);
  if (it == storage.end()) return std::nullopt;
  return it->second;
}

std::shared_ptr<BNWebImageManager> BNViewLoadingManager() {
  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (r.manager) return r.manager;
  }
  return BNWebImageManager::sharedManager();
}

void BNSetViewLoadingManager(std::shared_ptr<BNWebImageManager> manager) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.manager = std::move(manager);
}

os::Error BNNilURLError() {
  return os::Error::withDescription(BNWebImageErrorDomain, BNWebImageErrorNilURL, "Trying to load a nil url");
}
