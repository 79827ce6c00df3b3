// Cost of one command exchange against the simulated dongle with no simulated
// latency, and how much of it the library itself spends.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include "sim/zivra_sim.h"
#include "zivra/logging.h"
#include "zivra/transport.h"

namespace {

// A device whose write and read are free: the library's own share of an exchange.
int null_send(dev_t *, uint8_t, uint8_t *, uint32_t len) { return static_cast<int>(len) + 1; }
int null_recv(dev_t *, uint8_t type, uint8_t *buf, uint32_t len) {
  static const char word[] = "getversion";
  memset(buf, 0, len);
  memcpy(buf, word, sizeof word);
  return type;
}

void BM_CommandExchangeSim(benchmark::State &state) {
  zivra_sim::reset();
  auto m = std::make_shared<zivra_sim::ScriptModel>();
  m->set_reply("getversion", 0, {4, 10, 0});
  zivra_sim::plug({}, m);
  libhid_priv p{0x20A0, 0x0006, -1};
  dev_t *dev = dev_open(DEV_TYPE_HID, &p);
  if (dev == nullptr) {
    state.SkipWithError("no simulated dongle");
    return;
  }
  uint32_t len = static_cast<uint32_t>(state.range(0));
  uint8_t buf[64] = {};
  for (auto _ : state) {
    if (dev_send_cmd(dev, "getversion", buf, len) != 0) state.SkipWithError("exchange failed");
    benchmark::DoNotOptimize(buf);
    // The trace grows by two entries per exchange; keep it from dominating.
    if (zivra_sim::trace().size() > 4096) zivra_sim::clear_trace();
  }
  dev_close(dev);
  zivra_sim::reset();
}
BENCHMARK(BM_CommandExchangeSim)->Arg(32)->Arg(64);

void BM_CommandExchangeLibraryOnly(benchmark::State &state) {
  dev_t dev{};
  dev.send_pkv = null_send;
  dev.recv_pkv = null_recv;
  dev.handle = &dev;
  // The exchange installed by dev_open for HID devices.
  zivra_sim::reset();
  zivra_sim::plug({}, std::make_shared<zivra_sim::ScriptModel>());
  libhid_priv p{0x20A0, 0x0006, -1};
  dev_t *real = dev_open(DEV_TYPE_HID, &p);
  if (real == nullptr) {
    state.SkipWithError("no simulated dongle");
    return;
  }
  dev.send_cmd = real->send_cmd;
  uint32_t len = static_cast<uint32_t>(state.range(0));
  uint8_t buf[64] = {};
  for (auto _ : state) {
    if (dev_send_cmd(&dev, "getversion", buf, len) != 0) state.SkipWithError("exchange failed");
    benchmark::DoNotOptimize(buf);
  }
  dev_close(real);
  zivra_sim::reset();
}
BENCHMARK(BM_CommandExchangeLibraryOnly)->Arg(32)->Arg(64);

}  // namespace
