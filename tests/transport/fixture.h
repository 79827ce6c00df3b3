// Shared set-up of the transport tests: an empty bus, a scripted HID dongle.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/zivra_sim.h"
#include "tests/capture.h"
#include "zivra/transport.h"

using Bytes = std::vector<uint8_t>;

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { zivra_sim::reset(); }
  void TearDown() override {
    if (dev_ != nullptr) dev_close(dev_);
    zivra_sim::reset();
  }
  // Plugs a scripted HID dongle and opens it.
  std::shared_ptr<zivra_sim::ScriptModel> open_hid(zivra_sim::Identity id = {}) {
    auto m = std::make_shared<zivra_sim::ScriptModel>();
    zivra_sim::plug(id, m);
    libhid_priv p{id.vid, id.pid, -1};
    dev_ = dev_open(DEV_TYPE_HID, &p);
    EXPECT_NE(dev_, nullptr);
    zivra_sim::clear_trace();
    return m;
  }
  std::vector<zivra_sim::TraceEntry> writes() { return zivra_sim::trace_of(zivra_sim::TraceEntry::HidWrite); }
  dev_t *dev_ = nullptr;
  LevelGuard level_;
};
