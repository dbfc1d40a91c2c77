#pragma once
// The app-to-app road between this application and the QQ and QZone applications: a record
// travels as a keyed archive on the general pasteboard, and the application that put it there
// opens a URL of the receiver naming the pasteboard item.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qqconnect/apptoapp/VelmoraApiObject.h"
#include "os/core/Value.h"

inline constexpr const char* kVelmoraApiSchemeIdenfiter = "velmoraApiIdentifier";
inline constexpr const char* kQZoneScheme = "mqzone";
inline constexpr const char* kQZoneSupportSDK = "velmoraapi.qzone.reqContent";
inline constexpr const char* kQQScheme = "mqq";
inline constexpr const char* kQQSupportSDK = "velmoraapi.qq.reqContent";
inline constexpr const char* kVelmoraApiReqFromVelmoraApp = "kVelmraReqContent";
inline constexpr const char* kVelmoraReqContent = "kVelmoraReqContent";
inline constexpr const char* kVelmoraRespContent = "kVelmoraRespContent";
inline constexpr const char* kPastboardName = "kPastboardName";
inline constexpr const char* kPastboardType = "kPastboardType";
// Used for the pasteboard type when the bundle names no identifier.
inline constexpr const char* kVelmoraApiDefaultPasteboardKey = "kVelmoraApiPastBoard";

enum VelmoraApiPlatform : std::int32_t { kVelmoraApiPlatformQQ = 0, kVelmoraApiPlatformQZone = 1 };

// Results of sendRespMessageToVelmoraApp.
enum VelmoraApiSendResult : std::int32_t {
  kVelmoraApiSendNoResponse = -1,
  kVelmoraApiSendOK = 0,
  kVelmoraApiSendQZoneNotInstalled = 1,
  kVelmoraApiSendQZoneNotSupportApi = 2,
  kVelmoraApiSendMessageInvalid = 3,
  kVelmoraApiSendOpenFailed = 4,
  // Only QZone takes answers: a request from elsewhere is answered by nothing being sent.
  kVelmoraApiSendNotForQZone = 5,
};

// Every operation optional.
class VelmoraApiInterfaceDelegate {
 public:
  virtual ~VelmoraApiInterfaceDelegate() = default;
  // Whether the application takes the request; a refusal is answered with -1.
  virtual bool onVelmoraReq(const std::shared_ptr<VelmoraApiReq>& req) { return true; }
  // Declared for the peer's answers; never called here.
  virtual void onVelmoraResp(const std::shared_ptr<VelmoraApiResp>& resp) {}
};

// A received URL split up; keys and values of the query stay percent-escaped.
struct VelmoraUrlDecoder {
  std::string scheme;
  std::optional<std::string> host;
  // Without its leading "/"; none for a path shorter than two characters.
  std::optional<std::string> path;
  os::Dictionary queryItem;

  static std::optional<VelmoraUrlDecoder> decoderWithUrl(const std::optional<std::string>& url);
};

class VelmoraApiUtil {
 public:
  static std::optional<std::string> md5(const std::optional<std::string>& text);
  // The "CFBundleURLSchemes" of the first "CFBundleURLTypes" entry named `name`.
  static std::optional<std::vector<std::string>> scheme(const std::string& name);
  static std::optional<std::string> GetURLWithParam(const std::optional<std::string>& base, const os::Dictionary& params);
  // The general pasteboard type of this application's records.
  static std::string pasteboardType(const char* missingIdentifierLog);
};

class VelmoraMessagePack {
 public:
  // Nothing for anything but a request or a response.
  static std::optional<os::Data> dataWithVelmoraReqMessage(const std::shared_ptr<os::Archivable>& record);
  static std::optional<std::string> packVelmoraRespMessage(const os::Data& data, std::int32_t platform);
  static std::optional<std::string> packVelmoraReqMessage(const os::Data& data, const std::optional<std::string>& appId);
  // Every message element must pass its own class's check.
  static bool messageVaild(const std::shared_ptr<os::Archivable>& record);
};

class VelmoraMessageParse {
 public:
  // The record a URL names, or nothing; the pasteboard item is gone afterwards either way.
  static std::shared_ptr<os::Archivable> parseVelmoraMessage(const std::optional<std::string>& url);
  static std::shared_ptr<os::Archivable> getReqFromUrl(const VelmoraUrlDecoder& decoder);
  static std::shared_ptr<os::Archivable> getRespFromUrl(const VelmoraUrlDecoder& decoder);
  // The first of an unknown object's recorded names (class, then ancestors) that names a class
  // this program makes; nothing otherwise.
  static std::optional<std::string> substituteClassName(const std::vector<std::string>& classNames);
  // A record archive as another application wrote it: only the record classes are made (an
  // unknown subclass as its nearest known ancestor), and nothing past the size limit is read.
  static std::shared_ptr<os::Archivable> unarchive(const os::Data& data);
  // Archives longer than this are not read.
  static constexpr std::size_t kMaxArchiveSize = kVelmoraApiImageMax;
};

class VelmoraApiInterface {
 public:
  static bool canOpenURL(const std::optional<std::string>& url, const VelmoraApiInterfaceDelegate* delegate = nullptr);
  static bool handleOpenURL(const std::optional<std::string>& url, VelmoraApiInterfaceDelegate* delegate);
  static std::int32_t sendRespMessageToVelmoraApp(const std::shared_ptr<VelmoraApiResp>& resp);
  static std::int32_t sendRespMessaageToThirdApp(const std::shared_ptr<VelmoraApiResp>&, const std::string&) { return 2; }
  static std::optional<std::string> getVelmoraAppInstallUrl(std::int32_t) { return std::nullopt; }
  static bool installIphoneQZone();
  static bool iphoneQZoneSupportApi();
  static bool isVelmoraAppInstall(std::int32_t platform);
  static bool isVelmoraAppSupportVelmoraApi(std::int32_t platform);
  static bool openThirdApp(const std::string& appId);
  static void registApp(const std::string& appId);
};
