#pragma once
// Anything a caller of the image loaders can cancel: a cache query, a caller's share of a
// download, a whole load.
class BNWebImageOperation {
 public:
  virtual ~BNWebImageOperation() = default;
  virtual void cancel() = 0;
};
