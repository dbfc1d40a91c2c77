#include "news/api/VXRequestConfig.h"

#include "news/api/VXReaderContext.h"

VXRequestConfig VXRequestConfig::withServerRoot(std::string_view root) {
  while (!root.empty() && root.back() == '/') root.remove_suffix(1);
  return VXRequestConfig(std::string(root) + "/api", std::string(root));
}

std::string VXRequestConfig::SERVER_HOST() { return VXReaderContext::current()->requestConfig().newsHost(); }

std::string VXRequestConfig::SERVER_HOST_QUARN() { return VXReaderContext::current()->requestConfig().quarnHost(); }

void VXRequestConfig::setServerHost(std::string url) {
  auto context = VXReaderContext::current();
  context->setRequestConfig(VXRequestConfig(std::move(url), context->requestConfig().quarnHost()));
}

void VXRequestConfig::setServerHostQuarn(std::string url) {
  auto context = VXReaderContext::current();
  context->setRequestConfig(VXRequestConfig(context->requestConfig().newsHost(), std::move(url)));
}

void VXRequestConfig::setServerRoot(std::string_view root) {
  VXReaderContext::current()->setRequestConfig(withServerRoot(root));
}

void VXRequestConfig::reset() { VXReaderContext::current()->setRequestConfig(VXRequestConfig()); }
