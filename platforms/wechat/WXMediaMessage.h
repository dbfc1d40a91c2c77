#pragma once
// What a share to the messenger carries: the media message (title, description, thumbnail and
// the like) and one media object (image, music, video, web page, file, app-extend, emoticon).
// Plain holders: every limit on their contents is applied when a message record is made of them.
// A string or data field that was never set is absent (nullopt), which is not the same as empty.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Data.h"

namespace os {
class Image;
}

using WXOptionalString = std::optional<std::string>;
using WXOptionalData = std::optional<os::Data>;

// Base of the media object classes; a message record knows each of them by its type number.
class WXMediaObject {
 public:
  virtual ~WXMediaObject() = default;
};

class WXImageObject : public WXMediaObject {
 public:
  static std::shared_ptr<WXImageObject> object() { return std::make_shared<WXImageObject>(); }
  const WXOptionalData& imageData() const { return imageData_; }
  void setImageData(WXOptionalData v) { imageData_ = std::move(v); }
  const WXOptionalString& imageUrl() const { return imageUrl_; }
  void setImageUrl(WXOptionalString v) { imageUrl_ = std::move(v); }

 private:
  WXOptionalData imageData_;
  WXOptionalString imageUrl_;
};

class WXMusicObject : public WXMediaObject {
 public:
  static std::shared_ptr<WXMusicObject> object() { return std::make_shared<WXMusicObject>(); }
  const WXOptionalString& musicUrl() const { return musicUrl_; }
  void setMusicUrl(WXOptionalString v) { musicUrl_ = std::move(v); }
  const WXOptionalString& musicLowBandUrl() const { return musicLowBandUrl_; }
  void setMusicLowBandUrl(WXOptionalString v) { musicLowBandUrl_ = std::move(v); }
  const WXOptionalString& musicDataUrl() const { return musicDataUrl_; }
  void setMusicDataUrl(WXOptionalString v) { musicDataUrl_ = std::move(v); }
  const WXOptionalString& musicLowBandDataUrl() const { return musicLowBandDataUrl_; }
  void setMusicLowBandDataUrl(WXOptionalString v) { musicLowBandDataUrl_ = std::move(v); }

 private:
  WXOptionalString musicUrl_, musicLowBandUrl_, musicDataUrl_, musicLowBandDataUrl_;
};

class WXVideoObject : public WXMediaObject {
 public:
  static std::shared_ptr<WXVideoObject> object() { return std::make_shared<WXVideoObject>(); }
  const WXOptionalString& videoUrl() const { return videoUrl_; }
  void setVideoUrl(WXOptionalString v) { videoUrl_ = std::move(v); }
  const WXOptionalString& videoLowBandUrl() const { return videoLowBandUrl_; }
  void setVideoLowBandUrl(WXOptionalString v) { videoLowBandUrl_ = std::move(v); }

 private:
  WXOptionalString videoUrl_, videoLowBandUrl_;
};

class WXWebpageObject : public WXMediaObject {
 public:
  static std::shared_ptr<WXWebpageObject> object() { return std::make_shared<WXWebpageObject>(); }
  const WXOptionalString& webpageUrl() const { return webpageUrl_; }
  void setWebpageUrl(WXOptionalString v) { webpageUrl_ = std::move(v); }

 private:
  WXOptionalString webpageUrl_;
};

class WXFileObject : public WXMediaObject {
 public:
  static std::shared_ptr<WXFileObject> object() { return std::make_shared<WXFileObject>(); }
  const WXOptionalString& fileExtension() const { return fileExtension_; }
  void setFileExtension(WXOptionalString v) { fileExtension_ = std::move(v); }
  const WXOptionalData& fileData() const { return fileData_; }
  void setFileData(WXOptionalData v) { fileData_ = std::move(v); }

 private:
  WXOptionalString fileExtension_;
  WXOptionalData fileData_;
};

class WXAppExtendObject : public WXMediaObject {
 public:
  static std::shared_ptr<WXAppExtendObject> object() { return std::make_shared<WXAppExtendObject>(); }
  const WXOptionalString& extInfo() const { return extInfo_; }
  void setExtInfo(WXOptionalString v) { extInfo_ = std::move(v); }
  const WXOptionalData& fileData() const { return fileData_; }
  void setFileData(WXOptionalData v) { fileData_ = std::move(v); }
  const WXOptionalString& url() const { return url_; }
  void setUrl(WXOptionalString v) { url_ = std::move(v); }

 private:
  WXOptionalString extInfo_;
  WXOptionalData fileData_;
  WXOptionalString url_;
};

class WXEmoticonObject : public WXMediaObject {
 public:
  static std::shared_ptr<WXEmoticonObject> object() { return std::make_shared<WXEmoticonObject>(); }
  const WXOptionalData& emoticonData() const { return emoticonData_; }
  void setEmoticonData(WXOptionalData v) { emoticonData_ = std::move(v); }

 private:
  WXOptionalData emoticonData_;
};

class WXMediaMessage {
 public:
  static std::shared_ptr<WXMediaMessage> message() { return std::make_shared<WXMediaMessage>(); }

  // thumbData becomes the JPEG form of the image at quality 0.6; no image (or one that cannot be
  // encoded) leaves it as it was.
  void setThumbImage(const std::shared_ptr<os::Image>& image);

  const WXOptionalString& title() const { return title_; }
  void setTitle(WXOptionalString v) { title_ = std::move(v); }
  const WXOptionalString& description() const { return description_; }
  void setDescription(WXOptionalString v) { description_ = std::move(v); }
  const WXOptionalData& thumbData() const { return thumbData_; }
  void setThumbData(WXOptionalData v) { thumbData_ = std::move(v); }
  const WXOptionalString& mediaTagName() const { return mediaTagName_; }
  void setMediaTagName(WXOptionalString v) { mediaTagName_ = std::move(v); }
  const std::shared_ptr<WXMediaObject>& mediaObject() const { return mediaObject_; }
  void setMediaObject(std::shared_ptr<WXMediaObject> v) { mediaObject_ = std::move(v); }
  const WXOptionalString& messageExt() const { return messageExt_; }
  void setMessageExt(WXOptionalString v) { messageExt_ = std::move(v); }
  const WXOptionalString& messageAction() const { return messageAction_; }
  void setMessageAction(WXOptionalString v) { messageAction_ = std::move(v); }

 private:
  WXOptionalString title_, description_;
  WXOptionalData thumbData_;
  WXOptionalString mediaTagName_;
  std::shared_ptr<WXMediaObject> mediaObject_;
  WXOptionalString messageExt_, messageAction_;
};
