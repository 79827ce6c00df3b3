// HID backend: every packet is one output report, every reply one input report;
// the report ID names the packet kind and size. Also finds and opens the dongle and
// drains stale input so each open device starts and ends with an empty queue.
#include <hidapi/hidapi.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <sys/time.h>

#include "liblog/log.h"
#include "zivra/transport.h"

LOG_MODULE("lib/libtransport/hid");

namespace zivra {
namespace {

constexpr int kReportBuf = 128;
constexpr int kRecvTimeoutMs = 10000;
constexpr int kFlushTimeoutMs = 100;
constexpr int kReadTimeoutMs = 200;
constexpr int kIrReportLen = 65;
constexpr int kStringChars = 255;
constexpr int kTimedOut = -110;
// Reports the kernel queues per device: the most a drain or a reply wait skips.
constexpr int kDrainMax = 64;
constexpr uint64_t kDrainUs = 2000000;
constexpr uint8_t kIrReportId = 7;

// hidapi may hand back null for strings it could not read.
const wchar_t *ws(const wchar_t *s) { return s != nullptr ? s : L""; }

hid_device *handle_of(dev_t *dev) { return static_cast<hid_device *>(dev->handle); }

// Opens the first entry that matches and opens; null when none does.
hid_device *hid_find(const libhid_priv *p) {
  hid_device_info *list = hid_enumerate(0, 0);
  if (list == nullptr) {
    LOGI("error, device list couldn't enumerate");
    return nullptr;
  }
  hid_device *found = nullptr;
  for (hid_device_info *e = list; e != nullptr; e = e->next) {
    if (e->vendor_id != p->VID || e->product_id != p->PID) continue;
    if (p->iface != -1 && e->interface_number != p->iface) continue;
    found = hid_open_path(e->path);
    if (found != nullptr) {
      LOGD("Device Used\n  type: %04hx %04hx\n  path: %s\n  serial_number: %ls", e->vendor_id, e->product_id,
           e->path, ws(e->serial_number));
      LOGD("  Manufacturer: %ls", ws(e->manufacturer_string));
      LOGD("  Product:      %ls", ws(e->product_string));
      LOGD("  Release:      %hx", e->release_number);
      LOGD("  Interface:    %d", e->interface_number);
      LOGD("  Usage Page:   %d", e->usage_page);
      LOGD("  Usage:        %d", e->usage);
      break;
    }
    LOGD("could not open device:");
    LOGD("  Manufacturer: %ls", ws(e->manufacturer_string));
    LOGD("  Product:      %ls", ws(e->product_string));
    LOGD("  Release:      %hx", e->release_number);
    LOGD("  Interface:    %d", e->interface_number);
  }
  hid_free_enumeration(list);
  return found;
}

// Reads one 65-byte report of the ID in buf[0] (the IR stream asks for 7).
int _hid_read(dev_t *dev, uint8_t *buf, uint32_t /*len*/) {
  if (dev->handle == nullptr || buf == nullptr) {
    LOGE("invalid device handle");
    return -1;
  }
  uint8_t report[kReportBuf];
  memset(report, 0, sizeof report);
  report[0] = buf[0];
  int r = hid_read_timeout(handle_of(dev), report, kIrReportLen, kReadTimeoutMs);
  if (r == 0) {
    LOGV("---timeout---");
    LOGV("hidapi: %ls", ws(hid_error(handle_of(dev))));
    return kTimedOut;
  }
  if (r != kIrReportLen) {
    LOGE("Wrong response length = %d", r);
    LOGD("hidapi: %ls", ws(hid_error(handle_of(dev))));
    return -1;
  }
  if (report[0] != buf[0]) {
    LOGE("%s: wrong report id %d != %d", __func__, buf[0], report[0]);
    LOGD("hidapi: %ls", ws(hid_error(handle_of(dev))));
    return 0;
  }
  memcpy(buf, report, kIrReportLen);
  return 0;
}

}  // namespace
}  // namespace zivra

extern "C" {

int hid_dev_open(dev_t *dev, void *p) {
  if (dev == nullptr || p == nullptr) {
    LOGE("invalid device handle");
    return -1;
  }
  const libhid_priv *want = static_cast<const libhid_priv *>(p);
  hid_init();
  hid_device *h = zivra::hid_find(want);
  if (h == nullptr) {
    LOGV("Device %X:%X not found", want->VID, want->PID);
    hid_exit();
    return -1;
  }

  wchar_t s[zivra::kStringChars];
  if (hid_get_manufacturer_string(h, s, zivra::kStringChars) == 0) LOGV("Manufacturer String: %ls", s);
  if (hid_get_product_string(h, s, zivra::kStringChars) == 0) LOGV("Product String: %ls", s);
  if (hid_get_serial_number_string(h, s, zivra::kStringChars) == 0) LOGV("Serial Number String: %ls", s);
  LOGV("");

  libhid_priv *copy = static_cast<libhid_priv *>(malloc(sizeof *copy));
  if (copy == nullptr) {
    LOGE("can't allocate memory");
    hid_close(h);
    hid_exit();
    return -1;
  }
  *copy = *want;
  dev->handle = h;
  dev->send_pkv = hid_send_packet;
  dev->recv_pkv = hid_recv_packet;
  dev->read = zivra::_hid_read;
  dev->write = nullptr;
  dev->flush = hid_flush;
  dev->close = hid_dev_close;
  dev->priv = copy;
  hid_flush(dev);
  return 0;
}

int hid_dev_close(dev_t *dev) {
  if (dev == nullptr || dev->handle == nullptr) {
    LOGD("device already closed");
    return 0;
  }
  hid_flush(dev);
  hid_close(zivra::handle_of(dev));
  hid_exit();
  free(dev->priv);
  dev->priv = nullptr;
  dev->handle = nullptr;
  return 0;
}

int hid_send_packet(dev_t *dev, uint8_t type, uint8_t *buf, uint32_t len) {
  if (dev == nullptr || dev->handle == nullptr) {
    LOGE("invalid device handle");
    return -1;
  }
  uint8_t report[zivra::kReportBuf];
  memset(report, 0, sizeof report);
  int id;
  int rlen;
  if (type == PKT_TYPE_CMD) {
    if (len == 32) {
      id = 2;
      rlen = 33;
    } else if (len == 64) {
      id = 6;
      rlen = 65;
    } else {
      LOGE("invalid cmd length");
      return -1;
    }
  } else if (type == PKT_TYPE_DATA) {
    // A data report carries at most 64 bytes after its ID.
    if (len > 64) {
      LOGE("data length %d is greater than max data length: %d", static_cast<int>(len), 64);
      return -1;
    }
    id = 4;
    rlen = 65;
  } else {
    LOGV("Packet type: %d not supported", type);
    return -1;
  }
  if (buf == nullptr && len > 0) {
    LOGE("invalid packet buffer");
    return -1;
  }
  LOGV("Report ID:  %d", id);
  LOGV("Report len: %d", rlen);
  report[0] = static_cast<uint8_t>(id);
  if (len > 0) memcpy(report + 1, buf, len);
  int r = hid_write(zivra::handle_of(dev), report, static_cast<size_t>(rlen));
  LOGV("hid_write = %d", r);
  if (r < 0) LOGE("hidapi: %ls", zivra::ws(hid_error(zivra::handle_of(dev))));
  return r;
}

int hid_recv_packet(dev_t *dev, uint8_t type, uint8_t *buf, uint32_t len) {
  if (dev == nullptr || dev->handle == nullptr) {
    LOGE("invalid device handle");
    return -1;
  }
  hid_device *h = zivra::handle_of(dev);
  uint8_t report[zivra::kReportBuf];
  memset(report, 0, sizeof report);
  int id;
  int rlen;
  if (type == PKT_TYPE_CMD) {
    if (len == 32) {
      id = 1;
      rlen = 33;
    } else if (len == 64) {
      id = 5;
      rlen = 65;
    } else {
      LOGE("invalid cmd length: %d", static_cast<int>(len));
      return -1;
    }
  } else if (type == PKT_TYPE_DATA) {
    // The acknowledgement report holds one byte; more would read past it.
    if (len == 0 || len >= sizeof report) {
      LOGE("length mismatch, report_len :%d request: %d", 1, static_cast<int>(len));
      return -1;
    }
    id = 3;
    rlen = 2;
  } else {
    LOGE("%s: invalid packet type", __func__);
    LOGE("hidapi: %ls", zivra::ws(hid_error(h)));
    return -1;
  }
  LOGV("Report ID:  %d", id);
  LOGV("Report len: %d", rlen);
  report[0] = static_cast<uint8_t>(id);
  int r = hid_read_timeout(h, report, static_cast<size_t>(rlen), zivra::kRecvTimeoutMs);
  // From firmware 4.9 every IR signal arrives unsolicited on report 7 and may be
  // queued ahead of the reply (the button being recorded, for one): skip it.
  for (int skipped = 0; r > 0 && report[0] == zivra::kIrReportId && skipped < zivra::kDrainMax; ++skipped) {
    LOGD("skipping IR report %d queued ahead of report %d", report[0], id);
    memset(report, 0, sizeof report);
    report[0] = static_cast<uint8_t>(id);
    r = hid_read_timeout(h, report, static_cast<size_t>(rlen), zivra::kRecvTimeoutMs);
  }
  if (r < 0) {
    LOGE("---timeout---");
    LOGE("hidapi: %ls", zivra::ws(hid_error(h)));
    return r;
  }
  LOGV("retval = %d", r);
  if ((r & 0xFF) != rlen) {
    LOGE("Wrong response length = %d", r);
    LOGE("hidapi: %ls", zivra::ws(hid_error(h)));
    return -1;
  }
  if (report[0] != id) {
    LOGE("Wrong report exp: %d != %d", id, report[0]);
    LOGE("hidapi: %ls", zivra::ws(hid_error(h)));
    return -1;
  }
  memcpy(buf, report + 1, len);
  return type;
}

int hid_flush(dev_t *dev) {
  if (dev == nullptr || dev->handle == nullptr) return 0;
  static constexpr uint8_t kIds[] = {1, 3, 5, 7};
  uint8_t report[zivra::kReportBuf];
  // A dongle streaming IR without a pause (a held button, a noisy room) never
  // lets a read time out: stop after a kernel queue's worth per ID, or after
  // about two seconds in all, and go on as after a time-out.
  struct timeval start;
  gettimeofday(&start, nullptr);
  for (uint8_t id : kIds) {
    int n = 0;
    int r;
    do {
      if (n == zivra::kDrainMax || time_has_elapsed_us(&start, zivra::kDrainUs)) {
        LOGD("input still arriving after %d reports of ID %d, drain stopped", n, id);
        break;
      }
      report[0] = id;
      r = hid_read_timeout(zivra::handle_of(dev), report, 64, zivra::kFlushTimeoutMs);
      ++n;
    } while (r > 0);
  }
  return 0;
}
}
