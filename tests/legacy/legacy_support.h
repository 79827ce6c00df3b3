// A legacy dongle on the virtual bus, opened through the public API.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "capture.h"
#include "sim/model_legacy.h"
#include "zivra/legacy.h"
#include "zivra/transport.h"
#include "zivra/zivra.h"

namespace legacy {

namespace zs = zivra_sim;

// Control transfers of one request (type and bRequest) in the trace.
inline std::vector<zs::TraceEntry> requests(uint8_t type, uint8_t req) {
  std::vector<zs::TraceEntry> out;
  for (const zs::TraceEntry &e : zs::trace_of(zs::TraceEntry::Control))
    if (e.setup.bmRequestType == type && e.setup.bRequest == req) out.push_back(e);
  return out;
}

// Memory writes (0xC2/3) in the trace.
inline size_t writes() { return requests(0xC2, 3).size(); }

// Counts occurrences of `needle` in `text`.
inline size_t count(const std::string &text, const std::string &needle) {
  size_t n = 0;
  for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

class LegacyApp : public ::testing::Test {
 protected:
  void TearDown() override { zv_close_device(); }
  // Plugs a dongle running firmware major.minor and opens it; records are
  // {hash, modifier, key}.
  zs::LegacyAppModel &open(uint8_t major, uint8_t minor) {
    zs::reset();
    app_ = std::make_shared<zs::LegacyAppModel>(major, minor);
    zs::plug(zs::legacy_app_identity(), app_);
    EXPECT_EQ(zv_open_device(ZV_VID, ZV_MFR_APP), 2);
    zs::clear_trace();
    return *app_;
  }
  std::shared_ptr<zs::LegacyAppModel> app_;
  LevelGuard level_;
};

}  // namespace legacy
