#pragma once
// The records exchanged with the QQ and QZone applications on the same device: the request they
// hand over, the response that answers it, and the message objects a request carries. They travel
// as keyed archives, so the class names and coding keys below are the exchange format.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Value.h"
#include "os/store/KeyedArchive.h"

// A string or data field is at most this long (characters or bytes); an image's data 10 times it.
inline constexpr std::size_t kVelmoraApiFieldMax = 1048576;
inline constexpr std::size_t kVelmoraApiImageMax = 10485760;

class VelmoraBaseMessageObj : public os::Archivable {
 public:
  static constexpr const char* kClassName = "VelmoraBaseMessageObj";
  explicit VelmoraBaseMessageObj(std::int32_t version = 0) : nVersion_(version) {}
  static std::shared_ptr<VelmoraBaseMessageObj> initWithVersion(std::int32_t version) {
    return std::make_shared<VelmoraBaseMessageObj>(version);
  }

  std::int32_t nVersion() const { return nVersion_; }
  void setNVersion(std::int32_t v) { nVersion_ = v; }
  const std::optional<std::string>& sName() const { return sName_; }
  void setSName(std::optional<std::string> v) { sName_ = std::move(v); }
  const std::optional<os::Dictionary>& dictExpandInfo() const { return dictExpandInfo_; }
  void setDictExpandInfo(std::optional<os::Dictionary> v) { dictExpandInfo_ = std::move(v); }

  // The base rule, then the class's own.
  virtual bool isVaild() const;

  std::vector<std::string> archiveClassNames() const override { return {kClassName, os::kArchiveRootClass}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<VelmoraBaseMessageObj> initWithCoder(os::KeyedUnarchiver& coder);

 protected:
  void decodeBase(os::KeyedUnarchiver& coder);
  std::vector<std::string> chain(const char* own) const { return {own, kClassName, os::kArchiveRootClass}; }

 private:
  std::int32_t nVersion_ = 0;
  std::optional<std::string> sName_;
  std::optional<os::Dictionary> dictExpandInfo_;
};

class VelmoraTextMessageObjV1 : public VelmoraBaseMessageObj {
 public:
  static constexpr const char* kClassName = "VelmoraTextMessageObjV1";
  explicit VelmoraTextMessageObjV1(std::optional<std::string> text = std::nullopt)
      : VelmoraBaseMessageObj(0), sText_(std::move(text)) {}
  static std::shared_ptr<VelmoraTextMessageObjV1> initWithText(std::optional<std::string> text) {
    return std::make_shared<VelmoraTextMessageObjV1>(std::move(text));
  }
  const std::optional<std::string>& sText() const { return sText_; }
  void setSText(std::optional<std::string> v) { sText_ = std::move(v); }

  bool isVaild() const override;
  std::vector<std::string> archiveClassNames() const override { return chain(kClassName); }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<VelmoraTextMessageObjV1> initWithCoder(os::KeyedUnarchiver& coder);

 private:
  std::optional<std::string> sText_;
};

class VelmoraImageMessageObjV1 : public VelmoraBaseMessageObj {
 public:
  static constexpr const char* kClassName = "VelmoraImageMessageObjV1";
  explicit VelmoraImageMessageObjV1(std::int32_t type = 0) : VelmoraBaseMessageObj(1), nType_(type) {}
  static std::shared_ptr<VelmoraImageMessageObjV1> initWithImageData(std::optional<os::Data> data);
  static std::shared_ptr<VelmoraImageMessageObjV1> initWithImageUrl(std::optional<std::string> url);
  static std::shared_ptr<VelmoraImageMessageObjV1> initWithType(std::int32_t type) {
    return std::make_shared<VelmoraImageMessageObjV1>(type);
  }

  const std::optional<os::Data>& dataImage() const { return dataImage_; }
  void setDataImage(std::optional<os::Data> v) { dataImage_ = std::move(v); }
  const std::optional<std::string>& sUrl() const { return sUrl_; }
  void setSUrl(std::optional<std::string> v) { sUrl_ = std::move(v); }
  const std::optional<os::Data>& dataThumbImage() const { return dataThumbImage_; }
  void setDataThumbImage(std::optional<os::Data> v) { dataThumbImage_ = std::move(v); }
  const std::optional<std::string>& sDescription() const { return sDescription_; }
  void setSDescription(std::optional<std::string> v) { sDescription_ = std::move(v); }
  float imageWidth() const { return width_; }
  float imageHeight() const { return height_; }
  void setSzImage(float width, float height) { width_ = width, height_ = height; }
  std::int32_t nType() const { return nType_; }

  bool isVaild() const override;
  std::vector<std::string> archiveClassNames() const override { return chain(kClassName); }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<VelmoraImageMessageObjV1> initWithCoder(os::KeyedUnarchiver& coder);

 private:
  std::optional<os::Data> dataImage_;
  std::optional<std::string> sUrl_;
  std::optional<os::Data> dataThumbImage_;
  std::optional<std::string> sDescription_;
  float width_ = 0, height_ = 0;
  std::int32_t nType_ = 0;
};

class VelmoraAudioMessageObjV1 : public VelmoraBaseMessageObj {
 public:
  static constexpr const char* kClassName = "VelmoraAudioMessageObjV1";
  explicit VelmoraAudioMessageObjV1(std::optional<std::string> url = std::nullopt)
      : VelmoraBaseMessageObj(2), sUrl_(std::move(url)) {}
  static std::shared_ptr<VelmoraAudioMessageObjV1> initWithAudioUrl(std::optional<std::string> url) {
    return std::make_shared<VelmoraAudioMessageObjV1>(std::move(url));
  }
  const std::optional<std::string>& sUrl() const { return sUrl_; }
  void setSUrl(std::optional<std::string> v) { sUrl_ = std::move(v); }
  const std::optional<std::string>& sImagePreviewUrl() const { return sImagePreviewUrl_; }
  void setSImagePreviewUrl(std::optional<std::string> v) { sImagePreviewUrl_ = std::move(v); }
  const std::optional<os::Data>& dataImagePreview() const { return dataImagePreview_; }
  void setDataImagePreview(std::optional<os::Data> v) { dataImagePreview_ = std::move(v); }
  const std::optional<std::string>& sDescription() const { return sDescription_; }
  void setSDescription(std::optional<std::string> v) { sDescription_ = std::move(v); }

  bool isVaild() const override;
  std::vector<std::string> archiveClassNames() const override { return chain(kClassName); }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<VelmoraAudioMessageObjV1> initWithCoder(os::KeyedUnarchiver& coder);

 private:
  std::optional<std::string> sUrl_, sImagePreviewUrl_;
  std::optional<os::Data> dataImagePreview_;
  std::optional<std::string> sDescription_;
};

class VelmoraVideoMessageV1 : public VelmoraBaseMessageObj {
 public:
  static constexpr const char* kClassName = "VelmoraVideoMessageV1";
  explicit VelmoraVideoMessageV1(std::optional<std::string> url = std::nullopt, std::int32_t type = 0)
      : VelmoraBaseMessageObj(3), sUrl_(std::move(url)), nType_(type) {}
  static std::shared_ptr<VelmoraVideoMessageV1> initWithVideoUrl(std::optional<std::string> url, std::int32_t type) {
    return std::make_shared<VelmoraVideoMessageV1>(std::move(url), type);
  }
  static std::shared_ptr<VelmoraVideoMessageV1> initWithType(std::int32_t type) {
    return std::make_shared<VelmoraVideoMessageV1>(std::nullopt, type);
  }
  const std::optional<std::string>& sUrl() const { return sUrl_; }
  void setSUrl(std::optional<std::string> v) { sUrl_ = std::move(v); }
  std::int32_t nType() const { return nType_; }
  const std::optional<std::string>& sImagePreviewUrl() const { return sImagePreviewUrl_; }
  void setSImagePreviewUrl(std::optional<std::string> v) { sImagePreviewUrl_ = std::move(v); }
  const std::optional<os::Data>& dataImagePreview() const { return dataImagePreview_; }
  void setDataImagePreview(std::optional<os::Data> v) { dataImagePreview_ = std::move(v); }
  const std::optional<std::string>& sDescription() const { return sDescription_; }
  void setSDescription(std::optional<std::string> v) { sDescription_ = std::move(v); }

  bool isVaild() const override;
  std::vector<std::string> archiveClassNames() const override { return chain(kClassName); }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<VelmoraVideoMessageV1> initWithCoder(os::KeyedUnarchiver& coder);

 private:
  std::optional<std::string> sUrl_;
  std::int32_t nType_ = 0;
  std::optional<std::string> sImagePreviewUrl_;
  std::optional<os::Data> dataImagePreview_;
  std::optional<std::string> sDescription_;
};

// An image or a video address, never both: the last one set wins.
class VelmoraImageAndVideoMessageObjV1 : public VelmoraBaseMessageObj {
 public:
  static constexpr const char* kClassName = "VelmoraImageAndVideoMessageObjV1";
  VelmoraImageAndVideoMessageObjV1() : VelmoraBaseMessageObj(4) {}
  static std::shared_ptr<VelmoraImageAndVideoMessageObjV1> initWithMessage(std::optional<os::Data> imageData,
                                                                           std::optional<std::string> videoUrl);

  const std::shared_ptr<VelmoraImageMessageObjV1>& objImageMessage() const { return image_; }
  const std::shared_ptr<VelmoraVideoMessageV1>& objVideoMessage() const { return video_; }
  void setObjImageMessage(std::shared_ptr<VelmoraImageMessageObjV1> image);
  void setObjVideoMessage(std::shared_ptr<VelmoraVideoMessageV1> video);
  void setDataImage(std::optional<os::Data> data);
  void setVideoUrl(std::optional<std::string> url);

  bool isVaild() const override;
  std::vector<std::string> archiveClassNames() const override { return chain(kClassName); }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<VelmoraImageAndVideoMessageObjV1> initWithCoder(os::KeyedUnarchiver& coder);

 private:
  void ensureParts();
  std::shared_ptr<VelmoraImageMessageObjV1> image_;
  std::shared_ptr<VelmoraVideoMessageV1> video_;
};

// Made only by decoding what another application sent.
class VelmoraApiReq : public os::Archivable {
 public:
  static constexpr const char* kClassName = "VelmoraApiReq";
  // Requests are never made here: both answer nothing.
  static std::shared_ptr<VelmoraApiReq> reqFromSeq(std::int32_t, std::int32_t) { return nullptr; }
  static std::shared_ptr<VelmoraApiReq> initWithData(const os::Data&, std::int32_t) { return nullptr; }

  std::int32_t nMessageType() const { return nMessageType_; }
  std::int32_t nPlatform() const { return nPlatform_; }
  std::int32_t nSdkVersion() const { return nSdkVersion_; }
  std::int32_t nSeq() const { return nSeq_; }
  const std::vector<std::shared_ptr<VelmoraBaseMessageObj>>& arrMessage() const { return arrMessage_; }
  void setArrMessage(std::vector<std::shared_ptr<VelmoraBaseMessageObj>> v) { arrMessage_ = std::move(v); }
  const std::optional<std::string>& sAppID() const { return sAppID_; }
  void setSAppID(std::optional<std::string> v) { sAppID_ = std::move(v); }
  const std::optional<std::string>& sDescription() const { return sDescription_; }
  void setSDescription(std::optional<std::string> v) { sDescription_ = std::move(v); }

  std::vector<std::string> archiveClassNames() const override { return {kClassName, os::kArchiveRootClass}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<VelmoraApiReq> initWithCoder(os::KeyedUnarchiver& coder);

  struct DecodeTag {};
  explicit VelmoraApiReq(DecodeTag) {}

 private:
  std::int32_t nMessageType_ = 0, nPlatform_ = 0, nSdkVersion_ = 0, nSeq_ = 0;
  std::vector<std::shared_ptr<VelmoraBaseMessageObj>> arrMessage_;
  bool hasArray_ = false;
  std::optional<std::string> sAppID_, sDescription_;
};

class VelmoraApiResp : public os::Archivable {
 public:
  static constexpr const char* kClassName = "VelmoraApiResp";
  // Raises "VelmoraApiResp init error" for anything but a request.
  static std::shared_ptr<VelmoraApiResp> respFromReq(const std::shared_ptr<os::Archivable>& req);

  std::int32_t nRetCode() const { return nRetCode_; }
  void setNRetCode(std::int32_t v) { nRetCode_ = v; }
  const std::optional<std::string>& sRetMsg() const { return sRetMsg_; }
  void setSRetMsg(std::optional<std::string> v) { sRetMsg_ = std::move(v); }
  const std::shared_ptr<VelmoraApiReq>& objReq() const { return objReq_; }
  void setObjReq(std::shared_ptr<VelmoraApiReq> v) { objReq_ = std::move(v); }

  std::vector<std::string> archiveClassNames() const override { return {kClassName, os::kArchiveRootClass}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<VelmoraApiResp> initWithCoder(os::KeyedUnarchiver& coder);

 private:
  std::int32_t nRetCode_ = 0;
  std::optional<std::string> sRetMsg_;
  std::shared_ptr<VelmoraApiReq> objReq_;
};

// The classes an incoming archive may make: exactly these, nothing else by name.
os::ArchiveClassRegistry VelmoraApiArchiveClasses();
