#pragma once
// An HTTP request operation whose body is an image, decoded on a processing queue before the
// closures run and, by default, turned upright into a bitmap of its own so that showing it costs
// nothing more (an animated image keeps its frames). A body that does not decode fails the
// operation: success always carries an image.
#include <functional>
#include <memory>
#include <optional>

#include "foundation/http/TLHTTPRequestOperation.h"
#include "os/graphics/Image.h"

class TLImageRequestOperation : public TLHTTPRequestOperation {
 public:
  using ImagePointer = std::shared_ptr<os::Image>;
  using ImageSuccess = std::function<void(const Pointer& operation, const ImagePointer& image)>;
  using ImageProcessingBlock = std::function<ImagePointer(const ImagePointer& image)>;
  using RequestImageSuccess = std::function<void(const std::optional<os::URLRequest>& request,
                                                 const std::optional<os::HTTPURLResponse>& response, const ImagePointer& image)>;
  using RequestFailure = std::function<void(const os::URLRequest& request, const std::optional<os::HTTPURLResponse>& response,
                                            const os::Error& error)>;

  explicit TLImageRequestOperation(os::URLRequest request,
                                   const TLNetworkingEdition& edition = TLNetworkingEdition::standard());
  static std::shared_ptr<TLImageRequestOperation> create(os::URLRequest request);
  static std::shared_ptr<TLImageRequestOperation> imageRequestOperationWithRequest(
      const os::URLRequest& request, std::function<void(const ImagePointer& image)> success);
  // The processing closure, when given, runs on the processing queue and its result goes to the
  // success closure on the success queue.
  static std::shared_ptr<TLImageRequestOperation> imageRequestOperationWithRequest(const os::URLRequest& request,
                                                                                   ImageProcessingBlock processing,
                                                                                   RequestImageSuccess success,
                                                                                   RequestFailure failure);

  static TLHTTPOperationClass& operationClass();
  const TLHTTPOperationClass& objectClass() const override { return operationClass(); }
  static bool canProcessRequest(const os::URLRequest& request) { return operationClass().canProcessRequest(request); }

  ImagePointer responseImage();
  std::optional<os::Error> imageError() const;
  double imageScale() const;
  // A changed scale drops the image made so far, so the next responseImage decodes again.
  void setImageScale(double scale);
  bool automaticallyInflatesResponseImage() const;
  void setAutomaticallyInflatesResponseImage(bool inflate);

  std::optional<os::Error> error() override;
  void setCompletionBlockWithImageSuccess(ImageSuccess success, FailureBlock failure);
  // The generic form: the success closure gets a null object; the image is responseImage().
  void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) override;

  static std::shared_ptr<os::DispatchQueue> processingQueue();

 private:
  ImagePointer makeImage(const os::Data& data, os::Error& error) const;

  bool automaticallyInflatesResponseImage_ = true;
  ImagePointer responseImage_;
  std::optional<os::Error> imageError_;
  double imageScale_;
};
