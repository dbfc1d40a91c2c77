#pragma once
// A fresh sandbox, virtual clock and sharing context for one test.
#include <gtest/gtest.h>

#include "os/runtime/Clock.h"
#include "os/testing/TestSandbox.h"
#include "sharing/service/OBSocialContext.h"

class SharingFixture : public ::testing::Test {
 protected:
  os::TestSandbox sandbox_;
  os::VirtualClockScope clock_{1.7e9};
  OBSocialContextScope context_;
};
