#pragma once
// The result record of every OpenAPI call, web dialog and QZone command answer: the transport
// result, the detailed SDK error code with its message, the parsed JSON and the raw answer.
// A QZone answer carries one as a keyed archive.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Value.h"
#include "os/store/KeyedArchive.h"

class APIResponse : public os::Archivable {
 public:
  static constexpr const char* kClassName = "APIResponse";

  std::int32_t detailRetCode() const { return detailRetCode_; }
  void setDetailRetCode(std::int32_t v) { detailRetCode_ = v; }
  // 0: the answer arrived and parsed as a non-empty dictionary; 1: it failed.
  std::int32_t retCode() const { return retCode_; }
  void setRetCode(std::int32_t v) { retCode_ = v; }
  std::int32_t seq() const { return seq_; }
  void setSeq(std::int32_t v) { seq_ = v; }
  const std::optional<std::string>& errorMsg() const { return errorMsg_; }
  void setErrorMsg(std::optional<std::string> v) { errorMsg_ = std::move(v); }
  const std::optional<os::Dictionary>& jsonResponse() const { return jsonResponse_; }
  void setJsonResponse(std::optional<os::Dictionary> v) { jsonResponse_ = std::move(v); }
  const std::optional<std::string>& message() const { return message_; }
  void setMessage(std::optional<std::string> v) { message_ = std::move(v); }
  // The caller's value; never archived.
  const os::Value& userData() const { return userData_; }
  void setUserData(os::Value v) { userData_ = std::move(v); }

  std::vector<std::string> archiveClassNames() const override { return {kClassName, os::kArchiveRootClass}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  // Fields of the wrong type read as absent.
  static std::shared_ptr<APIResponse> initWithCoder(os::KeyedUnarchiver& coder);
  // Lets a decode make this class.
  static os::ArchiveClassRegistry& registerArchiveClass(os::ArchiveClassRegistry& registry);

 private:
  std::int32_t detailRetCode_ = 0;
  std::int32_t retCode_ = 0;
  std::int32_t seq_ = 0;
  std::optional<std::string> errorMsg_;
  std::optional<os::Dictionary> jsonResponse_;
  std::optional<std::string> message_;
  os::Value userData_;
};
