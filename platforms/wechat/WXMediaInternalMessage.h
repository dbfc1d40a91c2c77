#pragma once
// The messenger's side of the record format: the flat form of a media message (every media object
// field under its record key) and the fields of a login request.
#include <cstdint>
#include <memory>

#include "platforms/wechat/WXMediaMessage.h"

class WXMediaInternalMessage {
 public:
  static std::shared_ptr<WXMediaInternalMessage> message() { return std::make_shared<WXMediaInternalMessage>(); }

  const WXOptionalString& title() const { return title_; }
  void setTitle(WXOptionalString v) { title_ = std::move(v); }
  const WXOptionalString& description() const { return description_; }
  void setDescription(WXOptionalString v) { description_ = std::move(v); }
  const WXOptionalData& thumbData() const { return thumbData_; }
  void setThumbData(WXOptionalData v) { thumbData_ = std::move(v); }
  const WXOptionalString& mediaTagName() const { return mediaTagName_; }
  void setMediaTagName(WXOptionalString v) { mediaTagName_ = std::move(v); }
  std::uint32_t objectType() const { return objectType_; }
  void setObjectType(std::uint32_t v) { objectType_ = v; }
  const WXOptionalString& extInfo() const { return extInfo_; }
  void setExtInfo(WXOptionalString v) { extInfo_ = std::move(v); }
  const WXOptionalString& fileExt() const { return fileExt_; }
  void setFileExt(WXOptionalString v) { fileExt_ = std::move(v); }
  const WXOptionalData& fileData() const { return fileData_; }
  void setFileData(WXOptionalData v) { fileData_ = std::move(v); }
  const WXOptionalString& mediaUrl() const { return mediaUrl_; }
  void setMediaUrl(WXOptionalString v) { mediaUrl_ = std::move(v); }
  const WXOptionalString& mediaLowBandUrl() const { return mediaLowBandUrl_; }
  void setMediaLowBandUrl(WXOptionalString v) { mediaLowBandUrl_ = std::move(v); }
  const WXOptionalString& mediaDataUrl() const { return mediaDataUrl_; }
  void setMediaDataUrl(WXOptionalString v) { mediaDataUrl_ = std::move(v); }
  const WXOptionalString& mediaLowBandDataUrl() const { return mediaLowBandDataUrl_; }
  void setMediaLowBandDataUrl(WXOptionalString v) { mediaLowBandDataUrl_ = std::move(v); }
  const WXOptionalString& messageExt() const { return messageExt_; }
  void setMessageExt(WXOptionalString v) { messageExt_ = std::move(v); }
  const WXOptionalString& messageAction() const { return messageAction_; }
  void setMessageAction(WXOptionalString v) { messageAction_ = std::move(v); }

 private:
  WXOptionalString title_, description_;
  WXOptionalData thumbData_;
  WXOptionalString mediaTagName_;
  std::uint32_t objectType_ = 0;
  WXOptionalString extInfo_, fileExt_;
  WXOptionalData fileData_;
  WXOptionalString mediaUrl_, mediaLowBandUrl_, mediaDataUrl_, mediaLowBandDataUrl_, messageExt_, messageAction_;
};

class WXAuthInternal {
 public:
  const WXOptionalString& scope() const { return scope_; }
  void setScope(WXOptionalString v) { scope_ = std::move(v); }
  const WXOptionalString& state() const { return state_; }
  void setState(WXOptionalString v) { state_ = std::move(v); }

 private:
  WXOptionalString scope_, state_;
};
