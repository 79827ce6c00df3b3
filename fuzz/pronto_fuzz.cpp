// Pronto codes as a client hands them to zivra_send_pronto (words of any value
// and count) against a simulated 4.10 dongle: no overrun, and what reaches the
// dongle is always a whole, well-formed upload.
#include <cstdlib>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "sim/model_gen4.h"
#include "zivra/gen4_rev.h"
#include "zivra/logging.h"
#include "zivra/zivra.h"

namespace zs = zivra_sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::init();
  fuzz::Input in(data, size);
  uint8_t rep = in.byte() & 3;
  std::vector<uint16_t> words;
  while (in.left() >= 2 && words.size() < 1024) words.push_back(in.u16());

  zs::reset();
  // A sequence's pause is spun out on the virtual clock, up to 65 s a sequence:
  // a coarser tick keeps one input to milliseconds.
  zs::set_tick_us(1000);
  auto dongle = std::make_shared<zs::Gen4Model>();
  dongle->set_version(4, 10, 0);
  zs::plug(zs::gen4_app_identity(), dongle);
  if (zv_open_device(ZV_VID, nullptr) != 2) abort();
  zivra_send_pronto(words.empty() ? nullptr : words.data(), static_cast<uint32_t>(words.size()), rep);
  for (const auto &sig : dongle->transmitted())
    if (sig.empty() || sig.size() > 256) abort();
  zv_close_device();
  return 0;
}
