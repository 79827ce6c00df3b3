// Firmware 4.9: numeric recording with 16-bit consumer usages, and the stream
// of raw IR captures in input report 7.
#include <cstdint>
#include <cstring>

#include "liblog/log.h"
#include "libzivra/firmware/gen4_rev.h"
#include "zivra/gen4_rev.h"
#include "codara/codara.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_4.9");

namespace {

constexpr int kReadTimedOut = -110;
constexpr uint16_t kCaptureMax = 256;  // entries of ir_packet.buf
constexpr uint8_t kIrReportId = 7;

int zv_ver4_set_record_api(int mode, int modifier, int key, int wait) {
  uint8_t rid = zivra::gen4::record_report_id(key), mod = static_cast<uint8_t>(modifier),
          k = static_cast<uint8_t>(key);
  // Other reports carry a 16-bit usage: its high byte rides in the key byte.
  if (rid != 1) k = static_cast<uint8_t>(modifier >> 8);
  LOGD("r_id: %d", rid);
  LOGD("mod: 0x%02X", mod);
  LOGD("key: 0x%02X", k);
  const char *cmd = zivra::gen4::record_command(mode);
  if (cmd != nullptr && zivra::gen4::send_record(cmd, rid, mod, k) < 0) {
    LOGE("command error");
    return -1;
  }
  return wait ? zv_set_interrupt(wait) : 0;
}

}  // namespace

extern "C" {

int zv_ver4_ir_packet_poll(zv_iface_t *dev, struct ir_packet *p) {
  if (p == nullptr) {
    LOGE("invalid pointer to buffer");
    return -1;
  }
  dev_t *d = dev != nullptr ? dev->dev : nullptr;
  if (d == nullptr || d->read == nullptr) {
    LOGE("Device Closed, Watiing...");
    return -1;
  }
  uint8_t buf[128] = {kIrReportId};
  int rc = d->read(d, buf, 65);
  if (rc == kReadTimedOut) return 0;
  if (rc < 0) {
    LOGE("Device Closed, Watiing...");
    return -1;
  }
  // A report of another ID is skipped by the read, which leaves the cleared
  // buffer as it was: that is no report, not a capture of one zero duration.
  bool body = false;
  for (int i = 1; i < 65 && !body; ++i) body = buf[i] != 0;
  if (!body) return 0;
  const uint8_t *src;
  int slots;
  zivra::gen4::h head;
  memcpy(&head, buf, sizeof head);
  if (head.sof == 0) {
    // The first report of a capture.
    p->elapsed = head.elapsed_time;
    p->len = 0;
    src = buf + sizeof head;
    slots = 30;
  } else {
    // A capture already reported complete at full size takes no more edges
    // until the next capture starts.
    if (p->len >= kCaptureMax) return 0;
    src = buf + 2;
    slots = 31;
  }
  for (int i = 0; i < slots; ++i) {
    uint16_t v = static_cast<uint16_t>(src[2 * i] | src[2 * i + 1] << 8);
    if (v == 0 && p->len != 0) return 1;
    p->buf[p->len++] = v;
    if (p->len == kCaptureMax) return 1;
  }
  return 0;
}

zv_iface_t *zv_fw_ver4p9_init(void) {
  zv_iface_t *t = zv_fw_ver4p8_init();
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_set_record_api = zv_ver4_set_record_api;
  t->zv_ir_packet_poll = zv_ver4_ir_packet_poll;
  return t;
}

}  // extern "C"
