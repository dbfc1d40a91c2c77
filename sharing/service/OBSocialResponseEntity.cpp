#include "sharing/service/OBSocialResponseEntity.h"

std::string OBSocialResponseEntity::description() const {
  os::Dictionary d;
  if (responseCode != 0) d.set("responseCode", os::Value(responseCode));
  if (data) d.set("data", os::Value(*data));
  if (message) d.set("message", os::Value(*message));
  if (responseType != 0) d.set("responseType", os::Value(responseType));
  if (viewControllerType != 0) d.set("viewControllerType", os::Value(viewControllerType));
  if (error) d.set("error", os::Value(error->localizedDescription()));
  return os::Value(std::move(d)).description();
}

std::shared_ptr<OBSocialResponseEntity> OBSocialResponseEntity::failure(std::int32_t code, std::string message,
                                                                        std::int32_t responseType) {
  auto response = std::make_shared<OBSocialResponseEntity>();
  response->responseCode = code;
  response->message = std::move(message);
  response->responseType = responseType;
  return response;
}
