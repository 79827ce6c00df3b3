// A configuration file from anywhere: validation, conversion of a legacy image,
// both listings, and loading it into a simulated dongle of any generation-4
// revision. Nothing may read or write outside the buffers, and a load the
// library calls successful must leave the dongle holding a valid image.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "sim/model_gen4.h"
#include "zivra/gen4_rev.h"
#include "zivra/logging.h"
#include "zivra/translate.h"
#include "zivra/zivra.h"

namespace zs = zivra_sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = [] {
    fuzz::init();
    return "/tmp/zivra_config_fuzz." + std::to_string(getpid());
  }();
  fuzz::Input in(data, size);
  int minor = in.byte() % 11;
  std::vector<uint8_t> file(in.rest(), in.rest() + in.left());

  // Each routine gets its own exact-size copy, so any overrun is reported.
  auto copy = [&file] { return std::vector<uint8_t>(file); };
  std::vector<uint8_t> a = copy();
  valid_v1_config(a.empty() ? nullptr : a.data(), a.size());
  std::vector<uint8_t> b = copy();
  valid_v2_config(b.empty() ? nullptr : b.data(), b.size());
  if (!file.empty()) {
    std::vector<uint8_t> c = copy();
    ssize_t out = 0;
    unsigned char *converted = convert_config(c.data(), c.size(), &out);
    if (converted != nullptr) {
      if (out <= 0) abort();
      free(converted);
    }
    std::vector<uint8_t> d = copy();
    translate_mem_v1(d.data(), d.size());
    std::vector<uint8_t> e = copy();
    translate_mem_v2(e.data(), e.size());
  }

  FILE *f = fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  if (!file.empty()) fwrite(file.data(), 1, file.size(), f);
  fclose(f);
  zs::reset();
  auto dongle = std::make_shared<zs::Gen4Model>();
  dongle->set_version(4, static_cast<uint16_t>(minor), 0);
  zs::plug(zs::gen4_app_identity(), dongle);
  if (zv_open_device(ZV_VID, nullptr) != 2) abort();
  int rc = zv_load_config(path.c_str());
  if (rc == 0 && !dongle->crc_valid()) abort();
  zv_close_device();
  unlink(path.c_str());
  return 0;
}
