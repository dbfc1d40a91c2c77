#include "sharing/service/OBSocialJob.h"

#include "foundation/http/TLHTTPRequestOperation.h"
#include "os/runtime/DispatchQueue.h"
#include "sharing/net/OBSocialTLHTTPClient.h"
#include "sharing/service/OBSocialCryptor.h"
#include "sharing/service/OBSocialHttpClient.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBUtils.h"

namespace {

os::Error jobError(std::string description) {
  return os::Error::withDescription(kOBSocialResponseErrorDomain, -1, std::move(description));
}

}  // namespace

std::optional<std::string> OBSocialJob::encryPathString(const std::string& path) {
  auto mark = path.find('?');
  if (mark == std::string::npos) return path;
  auto cipher = OBSocialCryptor::AES128Encrypt(path.substr(mark + 1));
  if (!cipher) return std::nullopt;
  // Base64 carries "+" and "/", which a query would misread: escaped.
  return path.substr(0, mark + 1) + "ud_get=" + OBUtils::urlEncode(*cipher);
}

std::optional<os::URLRequest> OBSocialJob::makeResquest(const TLHTTPClient& client, os::Error* error) const {
  auto fail = [&](std::string why) -> std::optional<os::URLRequest> {
    if (error) *error = jobError(std::move(why));
    return std::nullopt;
  };
  if (!pathString || networkType == OBSocialNetworkTypeNone) return fail("the action sends no request");
  std::optional<os::URLRequest> request;
  if (networkType == OBSocialNetworkTypeGet) {
    auto path = encryPathString(*pathString);
    if (!path) return fail("the query could not be enciphered");
    request = client.requestWithMethod("GET", *path, std::nullopt, error);
  } else if (networkType == OBSocialNetworkTypePost || networkType == OBSocialNetworkTypeMultipart) {
    os::Dictionary fields = baseDic.value_or(os::Dictionary{});
    std::optional<os::Data> picture;
    if (const os::Value* pic = fields.find("pic"); pic && pic->data()) picture = *pic->data();
    fields.remove("pic");
    auto json = OBUtils::JSONFragment(os::Value(std::move(fields)));
    if (!json) return fail("the body could not be written as JSON");
    auto cipher = OBSocialCryptor::AES128Encrypt(*json);
    if (!cipher) return fail("the body could not be enciphered");
    os::Value parameters(os::Dictionary{{"ud_post", os::Value(*cipher)}});
    if (networkType == OBSocialNetworkTypeMultipart && picture) {
      request = client.multipartFormRequestWithMethod(
          "POST", *pathString, parameters,
          [&](TLMultipartFormData& form) { form.appendPartWithFileData(*picture, "pic", "pic.jpg", "image/jpeg"); }, error);
    } else {
      request = client.requestWithMethod("POST", *pathString, parameters, error);
    }
  }
  if (!request) return std::nullopt;
  request->setTimeoutInterval(kOBSocialRequestTimeout);
  return request;
}

std::shared_ptr<OBSocialResponseEntity> OBSocialJob::networkFailure(std::int32_t action, const os::Error& error) {
  auto response = std::make_shared<OBSocialResponseEntity>();
  response->responseCode = OBSocialResponseCodeNetworkError;
  response->responseType = action;
  response->message = kOBSocialNetworkErrorMessage;
  response->error = error;
  return response;
}

std::shared_ptr<OBSocialResponseEntity> OBSocialJob::responseForAnswer(const os::Data& body, std::int32_t action,
                                                                      std::optional<os::Dictionary>* answer) {
  auto plain = OBSocialCryptor::AES128Decrypt(os::stringFromData(body));
  if (!plain) return networkFailure(action, jobError("the service's answer could not be deciphered"));
  return responseForDecipheredAnswer(std::move(*plain), action, answer);
}

std::shared_ptr<OBSocialResponseEntity> OBSocialJob::responseForDecipheredAnswer(std::string text, std::int32_t action,
                                                                                std::optional<os::Dictionary>* answer) {
  // The cipher pads with NULs; a reader that stopped at the first one would also stop inside
  // a text that carries one, so only the padding is cut.
  auto value = OBUtils::JSONValue(OBSocialCryptor::stripPadding(std::move(text)));
  const os::Dictionary* object = value ? value->dictionary() : nullptr;
  if (!object) return networkFailure(action, jobError("the service's answer is not a JSON object"));
  const os::Value& st = (*object)["st"];
  if (!st.isNumber() && !(st.isString() && !st.string()->empty()))
    return networkFailure(action, jobError("the service's answer carries no status"));
  auto response = std::make_shared<OBSocialResponseEntity>();
  response->responseCode = static_cast<std::int32_t>(st.intValue());
  response->responseType = action;
  if (auto msg = (*object)["msg"].string()) response->message = *msg;
  if (auto data = (*object)["data"].dictionary()) response->data = *data;
  if (answer) *answer = *object;
  return response;
}

void OBSocialJob::start(Finished finished) {
  auto self = shared_from_this();
  auto finishLater = [self, finished](std::shared_ptr<OBSocialResponseEntity> response) {
    os::DispatchQueue::main()->async([self, finished, response] { finished(self, response, std::nullopt); });
  };
  auto client = OBSocialHttpClient::sharedClient();
  if (!client) return finishLater(networkFailure(actionType, jobError("no base URL for the sharing service")));
  os::Error error;
  auto request = makeResquest(*client, &error);
  if (!request) return finishLater(networkFailure(actionType, error));
  auto operation = OBSocialTLHTTPRequestOperation(*request);
  const std::int32_t action = actionType;
  operation->setCompletionBlockWithSuccess(
      [self, finished, action](const TLHTTPRequestOperation::Pointer& op, const os::Value&) {
        self->operation_.reset();
        std::optional<os::Dictionary> answer;
        auto response = responseForAnswer(op->responseData(), action, &answer);
        finished(self, response, answer);
      },
      [self, finished, action](const TLHTTPRequestOperation::Pointer&, const os::Error& failure) {
        self->operation_.reset();
        finished(self, networkFailure(action, failure), std::nullopt);
      });
  operation_ = operation;
  client->enqueueHTTPRequestOperation(operation);
}

void OBSocialJob::cancel() {
  if (auto operation = std::exchange(operation_, nullptr)) operation->cancel();
}
