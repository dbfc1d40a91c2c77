#pragma once
// The messenger as a peer application on the same simulated device, with the "weixin" and
// "wechat" schemes, reading and writing the pasteboards it shares with this application as raw
// property lists (without the client's own code).
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/URL.h"
#include "os/core/Value.h"
#include "os/runtime/RunLoop.h"
#include "os/store/Pasteboard.h"
#include "os/store/PropertyList.h"
#include "os/testing/Collect.h"
#include "os/testing/TestPeerApplication.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "platforms/wechat/WXApi.h"

namespace wechat_test {

inline os::Data binaryPlist(const os::Value& v) { return *os::PropertyList::write(v, os::PropertyListFormat::Binary); }

class WeChatPeer {
 public:
  explicit WeChatPeer(os::TestSandbox& device)
      : peer_(device.launchPeerApplication("com.example.wechat", {"weixin", "wechat"})) {}

  std::vector<std::string> openedWith() const {
    return os::testing::collect(peer_->openedURLs(), [](const auto& opened) { return opened.url.absoluteString(); });
  }
  std::shared_ptr<os::Pasteboard> board(const std::string& name) const {
    return name.empty() ? peer_->generalPasteboard() : peer_->pasteboardWithName(name);
  }
  // Above 6.9, the version read as its leading number: a 6.91 counts as new.
  static bool newSystem() { return os::Device::current().systemVersionNumber() > 6.9; }

  // The dictionary under "content" of a pasteboard, empty when there is none.
  os::Dictionary contentOf(const std::string& name) const {
    auto data = board(name)->dataForPasteboardType("content");
    if (!data || data->empty()) return {};
    auto list = os::PropertyList::read(*data);
    return list && list->dictionary() ? *list->dictionary() : os::Dictionary();
  }
  static os::Dictionary entry(const os::Dictionary& all, const std::string& appId) {
    const os::Dictionary* d = all[appId].dictionary();
    return d ? *d : os::Dictionary();
  }
  // The records board: general on newer systems, "wechat_data" on older ones.
  os::Dictionary records() const { return contentOf(newSystem() ? "" : "wechat_data"); }
  os::Dictionary record(const std::string& appId) const { return entry(records(), appId); }
  os::Dictionary registration(const std::string& appId) const { return entry(contentOf("wechat_register"), appId); }
  std::optional<os::Data> fileBoard() const { return board("wechat_file")->dataForPasteboardType("content"); }

  // Leaves a record for the app id (raw bytes when given) and opens the application's scheme. On
  // older systems the file pasteboard always goes with the record written: a record without file
  // data clears it.
  void answer(const std::string& appId, const os::Dictionary& record, std::optional<os::Data> file = std::nullopt) {
    os::Dictionary all = newSystem() ? os::Dictionary() : records();
    all.set(appId, os::Value(record));
    putRaw(binaryPlist(os::Value(all)));
    if (file || !newSystem()) board("wechat_file")->setData(file.value_or(os::Data()), "content");
    open(appId + "://platformId=wechat");
  }
  // Next to what the user copied, as a polite messenger does.
  void putRaw(const os::Data& bytes) {
    auto target = board(newSystem() ? "" : "wechat_data");
    auto items = target->items();
    if (items.empty()) items.emplace_back();
    items.front()["content"] = bytes;
    target->setItems(items);
  }
  void open(const std::string& url) {
    peer_->openURL(url);
    os::RunLoop::main()->runUntilIdle();
  }

 private:
  std::shared_ptr<os::TestPeerApplication> peer_;
};

// This application: answers reach WXApi::handleOpenURL with a recording delegate.
struct Recorder : WXApiDelegate {
  std::vector<std::shared_ptr<BaseReq>> requests;
  std::vector<std::shared_ptr<BaseResp>> responses;
  std::vector<bool> handled;
  void onReq(const std::shared_ptr<BaseReq>& r) override { requests.push_back(r); }
  void onResp(const std::shared_ptr<BaseResp>& r) override { responses.push_back(r); }
};

class Reader : public os::ApplicationDelegate {
 public:
  explicit Reader(std::shared_ptr<Recorder> wx) : wx_(std::move(wx)) {}
  bool openURL(os::Application&, const os::URL& url, const std::string&, const os::Value&) override {
    bool ok = WXApi::handleOpenURL(url, wx_.get());
    wx_->handled.push_back(ok);
    return ok;
  }

 private:
  std::shared_ptr<Recorder> wx_;
};

}  // namespace wechat_test
