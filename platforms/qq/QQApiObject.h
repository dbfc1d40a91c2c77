#pragma once
// The content the QQ client hands to QQ or receives from it: a small family rooted in
// QQApiObject, wrapped in a QQApiMessage that adds the message type, with the keyed-archive
// forms the QQ pasteboards carry.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Value.h"
#include "os/store/KeyedArchive.h"

// A send that answered "goes out later" (EQQAPIMESSAGEPREVIEWLOADING) ends when the preview
// picture has been fetched: `done` hears the result code of the send made then, the only word its
// caller gets of a share QQ never opened. A caller that gives the share up before then withdraws
// it, and it is not sent.
struct QQApiLaterSend {
  std::function<void(std::int32_t)> done;
  bool withdrawn = false;
};

// Size limits, enforced where content is sent.
inline constexpr std::size_t kQQApiTitleMax = 128;            // characters
inline constexpr std::size_t kQQApiDescriptionMax = 512;      // characters
inline constexpr std::size_t kQQApiPreviewImageMax = 1048576;  // bytes
inline constexpr std::size_t kQQApiURLMax = 1024;             // characters
inline constexpr std::size_t kQQApiTextMax = 1536;            // characters
inline constexpr std::size_t kQQApiDataMax = 5242880;         // bytes

class QQApiObject {
 public:
  virtual ~QQApiObject() = default;
  // The class name as the archives and the checks know it.
  virtual const char* className() const { return "QQApiObject"; }

  std::optional<std::string> title;
  std::optional<std::string> description;
  std::uint64_t cflag = 0;
};

class QQApiTextObject : public QQApiObject {
 public:
  const char* className() const override { return "QQApiTextObject"; }
  static std::shared_ptr<QQApiTextObject> objectWithText(std::optional<std::string> text);
  std::optional<std::string> text;
};

class QQApiExtendObject : public QQApiObject {
 public:
  const char* className() const override { return "QQApiExtendObject"; }
  static std::shared_ptr<QQApiExtendObject> objectWithData(std::optional<os::Data> data, std::optional<os::Data> previewImageData,
                                                           std::optional<std::string> title, std::optional<std::string> description);
  std::optional<os::Data> data;
  std::optional<os::Data> previewImageData;
};

class QQApiImageObject : public QQApiExtendObject {
 public:
  const char* className() const override { return "QQApiImageObject"; }
  static std::shared_ptr<QQApiImageObject> objectWithData(std::optional<os::Data> data, std::optional<os::Data> previewImageData,
                                                          std::optional<std::string> title, std::optional<std::string> description);
};

class QQApiResultObject : public QQApiObject {
 public:
  const char* className() const override { return "QQApiResultObject"; }
  std::optional<std::string> errorDescription;
  std::optional<std::string> error;
  std::optional<std::string> extendInfo;
};

// targetContentType: 0 plain link, 1 audio, 2 video, 3 news.
class QQApiURLObject : public QQApiObject {
 public:
  const char* className() const override { return "QQApiURLObject"; }
  static std::shared_ptr<QQApiURLObject> objectWithURL(std::optional<std::string> url);
  static std::shared_ptr<QQApiURLObject> objectWithURL(std::optional<std::string> url, std::optional<std::string> title,
                                                       std::optional<std::string> description,
                                                       std::optional<os::Data> previewImageData, std::int32_t targetContentType);
  static std::shared_ptr<QQApiURLObject> objectWithURLAndPreviewImageURL(std::optional<std::string> url,
                                                                        std::optional<std::string> title,
                                                                        std::optional<std::string> description,
                                                                        std::optional<std::string> previewImageURL,
                                                                        std::int32_t targetContentType);
  // Audio and video links carry a flash address; others answer nothing.
  virtual const std::optional<std::string>* flashURLField() const { return nullptr; }

  std::optional<std::string> url;  // absolute URL text
  std::optional<os::Data> previewImageData;
  std::int32_t targetContentType = 0;
  std::optional<std::string> previewImageURL;

 protected:
  template <class T>
  static std::shared_ptr<T> make(std::optional<std::string> url, std::optional<std::string> title,
                                 std::optional<std::string> description, std::int32_t type) {
    auto o = std::make_shared<T>();
    o->url = std::move(url);
    o->title = std::move(title);
    o->description = std::move(description);
    o->targetContentType = type;
    return o;
  }
};

class QQApiAudioObject : public QQApiURLObject {
 public:
  const char* className() const override { return "QQApiAudioObject"; }
  static std::shared_ptr<QQApiAudioObject> objectWithURL(std::optional<std::string> url, std::optional<std::string> title,
                                                         std::optional<std::string> description,
                                                         std::optional<os::Data> previewImageData);
  const std::optional<std::string>* flashURLField() const override { return &flashURL; }
  std::optional<std::string> flashURL;
};

class QQApiVideoObject : public QQApiURLObject {
 public:
  const char* className() const override { return "QQApiVideoObject"; }
  static std::shared_ptr<QQApiVideoObject> objectWithURL(std::optional<std::string> url, std::optional<std::string> title,
                                                         std::optional<std::string> description,
                                                         std::optional<os::Data> previewImageData);
  const std::optional<std::string>* flashURLField() const override { return &flashURL; }
  std::optional<std::string> flashURL;
};

class QQApiNewsObject : public QQApiURLObject {
 public:
  const char* className() const override { return "QQApiNewsObject"; }
  static std::shared_ptr<QQApiNewsObject> objectWithURL(std::optional<std::string> url, std::optional<std::string> title,
                                                        std::optional<std::string> description,
                                                        std::optional<os::Data> previewImageData);
  static std::shared_ptr<QQApiNewsObject> objectWithURLAndPreviewImageURL(std::optional<std::string> url,
                                                                         std::optional<std::string> title,
                                                                         std::optional<std::string> description,
                                                                         std::optional<std::string> previewImageURL);
};

class QQApiPayObject : public QQApiObject {
 public:
  const char* className() const override { return "QQApiPayObject"; }
  static std::shared_ptr<QQApiPayObject> objectWithOrderNo(std::optional<std::string> orderNo,
                                                           std::optional<std::string> appInfo);
  std::optional<std::string> OrderNo;
  std::optional<std::string> AppInfo;
};

class QQApiCommonContentObject : public QQApiObject {
 public:
  const char* className() const override { return "QQApiCommonContentObject"; }
  static std::shared_ptr<QQApiCommonContentObject> objectWithLayoutType(std::uint32_t layoutType,
                                                                        std::vector<std::string> textArray,
                                                                        std::vector<os::Data> pictureArray,
                                                                        std::optional<os::Data> previewImageData);
  // Nothing when neither "textArray" nor "pictureArray" is there.
  static std::shared_ptr<QQApiCommonContentObject> objectWithDictionary(const os::Dictionary& d);
  os::Dictionary toDictionary() const;

  std::uint32_t layoutType = 0;
  std::optional<os::Data> previewImageData;
  std::vector<std::string> textArray;
  std::vector<os::Data> pictureDataArray;
};

class QQApiWPAObject : public QQApiObject {
 public:
  const char* className() const override { return "QQApiWPAObject"; }
  static std::shared_ptr<QQApiWPAObject> objectWithUin(std::optional<std::string> uin);
  std::optional<std::string> uin;
};

class QQApiTask;

class QQApiMessage : public os::Archivable {
 public:
  static constexpr const char* kClassName = "QQApiMessage";
  static std::shared_ptr<QQApiMessage> messageWithObject(std::shared_ptr<QQApiObject> object, std::uint32_t type = 5);

  std::shared_ptr<QQApiObject> object;
  std::uint32_t type = 0;

  // The preview task that sends this message again (not owned).
  void setAssociatedTask(const QQApiTask* task) { task_ = task; }
  bool isAssociatedWithTask() const { return task_ != nullptr; }
  // Who hears the end of a send made later by the preview task; not archived.
  std::shared_ptr<QQApiLaterSend> laterSend;

  std::vector<std::string> archiveClassNames() const override { return {kClassName, os::kArchiveRootClass}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<QQApiMessage> initWithCoder(os::KeyedUnarchiver& coder);

 private:
  const QQApiTask* task_ = nullptr;
};

// The archive form of a content object.
class QQApiObjectCoderImpl : public os::Archivable {
 public:
  static constexpr const char* kClassName = "QQApiObjectCoderImpl";
  explicit QQApiObjectCoderImpl(std::shared_ptr<QQApiObject> o = nullptr) : obj(std::move(o)) {}
  std::shared_ptr<QQApiObject> obj;

  std::vector<std::string> archiveClassNames() const override { return {kClassName, os::kArchiveRootClass}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<QQApiObjectCoderImpl> initWithCoder(os::KeyedUnarchiver& coder);
};

class QQApiAdItem : public os::Archivable {
 public:
  static constexpr const char* kClassName = "QQApiAdItem";
  std::optional<std::string> title;
  std::optional<std::string> description;
  std::optional<os::Data> imageData;
  std::optional<std::string> target;

  std::vector<std::string> archiveClassNames() const override { return {kClassName, os::kArchiveRootClass}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<QQApiAdItem> initWithCoder(os::KeyedUnarchiver& coder);
};

// The classes a QQ archive may make: nothing else is ever built from a pasteboard.
const os::ArchiveClassRegistry& QQApiArchiveClasses();
