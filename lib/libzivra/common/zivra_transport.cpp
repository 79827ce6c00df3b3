// Finding the dongle over HID: the bootloader identity first, then the
// application, each asked for its version before a table is built for it.
#include <cstdio>
#include <cstring>

#include "libzivra/common/zivra_common.h"
#include "liblog/log.h"

LOG_MODULE("lib/libzivra/common/zivra_transport");

namespace {

// One "getversion" exchange; the reply payload is copied into *v.
int transport_new_get_version(dev_t *dev, version_t *v) {
  uint8_t buf[32] = {};
  int r = dev_send_cmd(dev, "getversion", buf, sizeof buf);
  if (r < 0) return r;
  memcpy(v, buf, sizeof *v);
  v->type[sizeof v->type - 1] = '\0';
  return 0;
}

dev_t *_zv_open_libhid_btldr() {
  libhid_priv p{};
  p.VID = ZV_VID;
  p.PID = ZV_PID_HID_BOOTLOADER;
  p.iface = -1;
  return dev_open(DEV_TYPE_HID, &p);
}

dev_t *_zv_open_libhid_app(int interface) {
  libhid_priv p{};
  p.VID = ZV_VID;
  p.PID = ZV_PID_HID_APP;
  p.iface = interface;
  return dev_open(DEV_TYPE_HID, &p);
}

void log_version(const version_t &v) {
  LOGV("Version: %d.%d.%d 0x%X [%s]", v.major_version, v.minor_version, v.patch_version,
       (unsigned)v.scm_hash, v.type);
}

}  // namespace

namespace zivra {

float transport_get_version(dev_t *dev) {
  if (dev == nullptr) return -1;
  version_t v;
  if (transport_new_get_version(dev, &v) < 0) return 1;
  float minor = v.minor_version < 10 ? v.minor_version / 10.0f : v.minor_version / 100.0f;
  return static_cast<float>(v.major_version) + minor;
}

int transport_major_version(dev_t *dev) {
  if (dev == nullptr) return -1;
  version_t v;
  if (transport_new_get_version(dev, &v) < 0) return 1;
  LOGV("Version: %d.%d.%d", v.major_version, v.minor_version, v.patch_version);
  return v.major_version;
}

int transport_minor_version(dev_t *dev) {
  if (dev == nullptr) return -1;
  version_t v;
  if (transport_new_get_version(dev, &v) < 0) return 1;
  LOGV("Version: %d.%d.%d", v.major_version, v.minor_version, v.patch_version);
  return v.minor_version;
}

int transport_patch_version(dev_t *dev) {
  if (dev == nullptr) return -1;
  version_t v;
  if (transport_new_get_version(dev, &v) < 0) return 1;
  LOGV("Version: %d.%d.%d", v.major_version, v.minor_version, v.patch_version);
  return v.patch_version;
}

}  // namespace zivra

extern "C" int zv_open_hid(zv_iface_t **iface, dev_t **dev, unsigned int VID,
                           const char *manufacturer, int interface) {
  // The identities are fixed; the caller's VID and manufacturer are not used.
  (void)VID;
  (void)manufacturer;
  version_t v;

  LOGD("trying to open bootloader device");
  dev_t *d = _zv_open_libhid_btldr();
  if (d == nullptr) {
    LOGV("no hid device found");
  } else if (transport_new_get_version(d, &v) < 0) {
    puts("Error getting version");
    dev_close(d);
  } else {
    log_version(v);
    zv_iface_t *t = determine_iface(1, v.major_version, v.minor_version);
    if (t != nullptr) {
      t->dev = d;
      *iface = t;
      *dev = d;
      LOGD(" [Device Found]");
      LOGV("bootloader: %d", 1);
      LOGV("bootloader found");
      return 1;
    }
    LOGV("device not found");
    dev_close(d);
  }

  LOGD("trying to open main device");
  LOGD("trying to open 0x20A0, 0x0006");
  d = _zv_open_libhid_app(interface);
  if (d == nullptr) {
    LOGV("no hid device found");
    LOGV("no device found");
    return -1;
  }
  // From here on the handle is the caller's: it closes it when no table results.
  *dev = d;
  if (transport_new_get_version(d, &v) < 0) {
    puts("Error getting version");
    LOGV("no device found");
    return -ZV_UNKNOWN_DEV;
  }
  log_version(v);
  zv_iface_t *t = determine_iface(2, v.major_version, v.minor_version);
  if (t == nullptr) {
    LOGV("device not found");
    LOGV("no device found");
    return -ZV_UNKNOWN_DEV;
  }
  t->dev = d;
  *iface = t;
  LOGD(" [Device Found]");
  LOGV("FIRMWARE: %d", 2);
  LOGV("application found");
  return 2;
}
