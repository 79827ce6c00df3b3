// The sim's generation-4 dongle itself: named revisions, which words each
// revision answers, wire time per report, and loopback.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "capture.h"
#include "codara/codara.h"
#include "dongle.h"
#include "sim/model_gen4.h"
#include "zivra/gen4_rev.h"
#include "zivra/transport.h"
#include "zivra/zivra.h"

namespace zs = zivra_sim;

namespace {

TEST(SimGen4, NamedRevisionsOpenAsThatRevision) {
  for (int minor = 0; minor <= 10; ++minor) {
    zs::reset();
    ASSERT_TRUE(zs::plug_named("fw4." + std::to_string(minor))) << minor;
    ASSERT_EQ(zv_open_device(0x20A0, nullptr), 2) << minor;
    EXPECT_EQ(std::string(zv_version_str()), "4." + std::to_string(minor) + ".0");
    zv_close_device();
  }
  zs::reset();
}

// The status byte of the last reply the host read.
uint8_t last_status() {
  auto reads = zs::trace_of(zs::TraceEntry::HidRead);
  for (auto it = reads.rbegin(); it != reads.rend(); ++it)
    if (it->result == 65 && it->data[0] == 5) return it->data[12];
  return 0xAA;
}

TEST(SimGen4, EachRevisionAnswersOnlyItsCommands) {
  const std::pair<const char *, int> words[] = {
      {"getversion", 0}, {"cfg1_read", 0}, {"debug_pipe", 0}, {"irtranset", 2}, {"irtransraw", 2},
      {"cfg1_write", 3}, {"record_lp", 4}, {"record_m", 4},  {"versionx", 5},  {"irhist", 5},
      {"record_t", 6},   {"usb_if", 6},    {"irtranskil", 8}, {"rbget", 8},     {"rbset", 8},
      {"rbsetlen", 8},   {"rbwakesig", 8}, {"nosuchword", 11},
  };
  LevelGuard g;
  set_loglevel(0);
  for (auto &[word, since] : words) {
    for (int minor : {since - 1, since}) {
      if (minor < 0 || minor > 10) continue;
      zs::reset();
      auto model = std::make_shared<zs::Gen4Model>();
      model->set_version(4, static_cast<uint16_t>(minor), 0);
      zs::plug(zs::gen4_app_identity(), model);
      libhid_priv priv{0x20A0, 0x0006, 0};
      dev_t *d = dev_open(2, &priv);
      ASSERT_NE(d, nullptr);
      uint8_t data[64] = {};
      dev_send_cmd(d, word, data, 64);
      EXPECT_EQ(last_status(), minor >= since ? 0x00 : 0xFE) << word << " on 4." << minor;
      dev_close(d);
    }
  }
  zs::reset();
}

TEST(SimGen4, EveryReportCostsItsWireTime) {
  gen4t::Dongle d(5);
  zs::set_report_us(1000);
  uint64_t t0 = zs::now_us();
  ASSERT_NE(zv_fw_branch(), nullptr);  // one exchange: a report each way
  uint64_t spent = zs::now_us() - t0;
  EXPECT_GE(spent, 2000u);
  EXPECT_LT(spent, 2100u);
}

TEST(SimGen4, LoopbackHashesTheUploadedArrayWithoutStreamingIt) {
  gen4t::Dongle d(9);
  d.set_loopback(true);
  uint16_t sig[] = {9000, 4500, 560, 560, 560, 1690, 560};
  ASSERT_EQ(zv_transmit_raw(sig, 7, 38000, 1), 0);
  ASSERT_EQ(d.transmitted().size(), 1u);
  std::vector<uint16_t> sent = d.transmitted()[0];
  EXPECT_EQ(static_cast<uint32_t>(zv_last_hash()), ir_hash(sent.data(), sent.size(), 2400));
  ir_packet p{};
  EXPECT_EQ(zv_ir_packet_poll(&p), 0);  // its own transmission is not streamed
  EXPECT_EQ(p.len, 0);
}

}  // namespace
