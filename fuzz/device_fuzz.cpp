// A hostile or broken dongle: every reply, its status byte, report ID and
// length, echoed word, unsolicited IR report and drop-off comes from the
// fuzzer's input, while a fixed script of public calls runs against it (open,
// versions and build information, record, save, load, normalise, capture,
// upgrade, close). Whatever the dongle does, the library must not crash, leak
// or hang.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codara/codara.h"
#include "fuzz_input.h"
#include "sim/zivra_sim.h"
#include "zivra/gen4_rev.h"
#include "zivra/logging.h"
#include "zivra/zivra.h"

namespace zs = zivra_sim;

namespace {

// Answers each report the host writes as the input says.
class HostileModel : public zs::Model {
 public:
  explicit HostileModel(fuzz::Input &in) : in_(in) {}

  void on_output_report(zs::Device &dev, const uint8_t *report, size_t len) override {
    if (in_.empty()) return;  // silence: every later exchange times out
    uint8_t c = in_.byte();
    bool command = len > 12 && (report[0] == 2 || report[0] == 6);
    size_t reply_len = report[0] == 6 ? 65 : command ? 33 : 2;
    switch (c & 7) {
      case 0:  // no answer
        return;
      case 1:
        dev.unplug();
        return;
      case 2: {  // unsolicited IR ahead of the answer
        std::vector<uint8_t> ir(65);
        ir[0] = 7;
        in_.take(ir.data() + 1, 64);
        dev.queue_input(std::move(ir));
        break;
      }
      case 3: {  // a report of any ID and length
        std::vector<uint8_t> r(1 + in_.byte() % 70);
        in_.take(r.data(), r.size());
        dev.queue_input(std::move(r));
        return;
      }
      default:
        break;
    }
    std::vector<uint8_t> r(reply_len, 0);
    if (!command) {
      r[0] = 3;
      r[1] = (c & 0x80) ? in_.byte() : 0;
    } else {
      r[0] = report[0] == 6 ? 5 : 1;
      memcpy(r.data() + 1, report + 1, 11);        // the word, echoed
      if (c & 0x40) in_.take(r.data() + 1, 11);    // or not
      r[12] = (c & 0x20) ? in_.byte() : 0;          // status
      in_.take(r.data() + 13, r.size() - 13);       // payload
    }
    dev.queue_input(std::move(r));
  }

 private:
  fuzz::Input &in_;
};

void progress(int, void *) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = [] {
    fuzz::init();
    return "/tmp/zivra_device_fuzz." + std::to_string(getpid());
  }();
  fuzz::Input in(data, size);
  uint8_t sel = in.byte();
  zs::reset();
  zs::Identity id;
  id.pid = (sel & 1) ? 0x0005 : 0x0006;
  zs::plug(id, std::make_shared<HostileModel>(in));

  if (zv_open_device(ZV_VID, nullptr) > 0) {
    zv_version_str();
    zv_get_sku();
    zv_fw_scm_hash();
    zv_fw_branch();
    zv_keys_recorded();
    zv_set_record("a", 1);
    zv_save_config(path.c_str());
    zv_load_config(path.c_str());
    zv_normalize_config();
    for (int i = 0; i < 3; ++i) {
      ir_packet pkt{};
      zv_ir_packet_poll(&pkt);
      if (pkt.len > IR_MAX_EDGES) abort();
    }
    std::vector<uint8_t> image(192, 0xFF);
    zv_upgrade_fw_ext_timeout(image.data(), image.size(), ZV_VID, ZV_MFR_APP, nullptr, progress, 0);
  }
  zv_close_device();
  unlink(path.c_str());
  return 0;
}
