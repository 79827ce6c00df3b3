// A firmware image from anywhere through the upload of each generation-3
// bootloader revision, optionally with the same bytes as the header of the
// application already on the dongle (what the edition check and the test mark
// read back). A success must leave a valid application in the flash.
#include <cstdlib>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "sim/model_bl3.h"
#include "sim/model_gen4.h"
#include "zivra/logging.h"
#include "zivra/zivra.h"

namespace zs = zivra_sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::init();
  fuzz::Input in(data, size);
  uint8_t sel = in.byte();
  int minor = sel & 3;
  std::vector<uint8_t> image(in.rest(), in.rest() + in.left());
  if (image.size() > 16384) image.resize(16384);

  zs::reset();
  zs::FlashLayout layout;
  layout.flash_kb = 48;
  layout.page_size = (sel & 0x10) ? 32 : 64;
  auto bl = std::make_shared<zs::Bl3Model>(minor, layout);
  if (sel & 0x04) bl->install_app(image);  // the dongle's own header is the fuzzer's too
  if (sel & 0x08) bl->fail_checkapp(true);
  zs::plug(zs::gen4_bootloader_identity(), bl);
  if (zv_open_device(ZV_VID, nullptr) != 1) abort();
  zv_iface_t *t = determine_iface(1, 3, minor);
  if (t == nullptr) abort();
  int rc = t->zv_upload_fw(image.empty() ? nullptr : image.data(), image.size(), nullptr, nullptr);
  free(t);
  if (rc == 0 && !bl->app_valid()) abort();
  zv_close_device();
  return 0;
}
