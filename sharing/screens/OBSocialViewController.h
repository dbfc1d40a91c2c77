#pragma once
// What every sharing screen has: the controller service that built it. The screen holds it, so
// a screen that is up keeps its service alive.
#include <memory>

#include "os/views/ViewController.h"

class OBSocialControllerService;

class OBSocialViewController : public os::ViewController {
 public:
  explicit OBSocialViewController(std::shared_ptr<OBSocialControllerService> service)
      : socialControllerService(std::move(service)) {}
  std::shared_ptr<OBSocialControllerService> socialControllerService;
};
