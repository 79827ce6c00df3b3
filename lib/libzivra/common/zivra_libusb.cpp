// Finding the dongle over bulk USB: the bootloader identities first, then the
// application ones. Their versions are vendor control reads.
#include <cstring>

#include "libzivra/common/zivra_common.h"
#include "liblog/log.h"

LOG_MODULE("lib/libzivra/common/zivra_libusb");

namespace {

// 1 while the bootloader identities are tried, 2 from the application ones on;
// the component getters pick their request by it.
int fw_state = 0;

constexpr uint8_t kVersionRequestType = 0xC2;
constexpr uint8_t kRequestBootloader = 4;
constexpr uint8_t kRequestApp = 1;
constexpr unsigned kVersionTimeoutMs = 5000;

dev_t *open_identity(uint16_t pid, uint8_t interface, const char *mfr) {
  libusb_priv p{};
  p.VID = ZV_VID;
  p.PID = pid;
  p.interface = interface;
  p.port = 0;
  strncpy(p.mfr, mfr, sizeof p.mfr - 1);
  p.debug = 1;
  return dev_open(DEV_TYPE_LIBUSB, &p);
}

int read_version(uint8_t request, uint8_t (&b)[8]) {
  return zv_send_msg(kVersionRequestType, request, 0, 0, b, sizeof b, kVersionTimeoutMs);
}

}  // namespace

namespace zivra {

int libusb_major_version(dev_t *dev) {
  (void)dev;  // the transfer goes through the driver's open device
  uint8_t b[8] = {};
  uint8_t request;
  if (fw_state == 1) {
    LOGD("getting bootloader major version");
    request = kRequestBootloader;
  } else if (fw_state == 2) {
    LOGD("getting app major version");
    request = kRequestApp;
  } else {
    return -1;
  }
  int r = read_version(request, b);
  if (r >= 0) return b[0];
  LOGD("%s", libusb_error_text(r));
  return -ZV_LIBUSBERR;
}

int libusb_minor_version(dev_t *dev) {
  (void)dev;
  uint8_t b[8] = {};
  uint8_t request;
  if (fw_state == 1) {
    LOGD("getting bootloader minor version");
    request = kRequestBootloader;
  } else if (fw_state == 2) {
    LOGD("getting app minor version");
    request = kRequestApp;
  } else {
    return -1;
  }
  int r = read_version(request, b);
  if (r >= 0) return b[1];
  LOGD("%s", libusb_error_text(r));
  return -ZV_LIBUSBERR;
}

float libusb_zv_version(dev_t *dev) {
  (void)dev;
  int state = zv_fw_state();
  if (state != 1 && state != 2) {
    LOGD("%s", libusb_error_text(0));
    return -ZV_LIBUSBERR;
  }
  uint8_t b[8] = {};
  int r = read_version(state == 1 ? kRequestBootloader : kRequestApp, b);
  if (r > 0) {
    float minor = b[1] < 10 ? b[1] / 10.0f : b[1] / 100.0f;
    return static_cast<float>(b[0]) + minor;
  }
  LOGD("%s", libusb_error_text(r));
  return -ZV_LIBUSBERR;
}

int libusb_patch_version(dev_t *dev) {
  (void)dev;
  return 0;
}

}  // namespace zivra

namespace {

// Steps 1-3: 1 with a table, -18 when the version has none, -1 when absent.
int _zv_open_libusb_btldr(zv_iface_t **iface, dev_t **dev) {
  LOGD("trying to open bootloader device");
  fw_state = 1;
  uint16_t pid = ZV_PID_USB_BOOTLOADER_V2;
  dev_t *d = open_identity(pid, 0, ZV_MFR_BOOTLOADER);
  if (d == nullptr) {
    LOGV("Bootloader v2 not found: PID: 0x%04X", ZV_PID_USB_BOOTLOADER_V2);
    pid = ZV_PID_USB_BOOTLOADER_V1;
    d = open_identity(pid, 0, ZV_MFR_BOOTLOADER);
    if (d == nullptr) {
      LOGV("Bootloader v1 not found: PID: 0x%04X", ZV_PID_USB_BOOTLOADER_V1);
      return -1;
    }
  }
  // The versions are read through the driver's device, so it holds the handle now.
  *dev = d;
  LOGI("VID: 0x%04X : PID: 0x%04X", ZV_VID, pid);
  int major = zivra::libusb_major_version(d);
  int minor = zivra::libusb_minor_version(d);
  LOGI("bootloader version: %d.%d", major, minor);
  major = zivra::libusb_major_version(d);
  minor = zivra::libusb_minor_version(d);
  // Bulk-USB operations reach the device through the driver: the table keeps no dev.
  *iface = zivra::select_iface(1, major, minor, true);
  if (*iface == nullptr) return -ZV_UNKNOWN_DEV;
  LOGV("bootloader found");
  return 1;
}

int _zv_open_libusb_app(zv_iface_t **iface, dev_t **dev) {
  LOGD("trying to open main device");
  fw_state = 2;
  uint16_t pid = ZV_PID_USB_APP;
  dev_t *d = open_identity(pid, 1, ZV_MFR_APP);
  if (d == nullptr) {
    LOGV("PID: 0x%04X, V1 not found", ZV_PID_USB_APP);
    pid = ZV_PID_USB_APP_ORBIS;
    d = open_identity(pid, 1, ZV_MFR_APP);
    if (d == nullptr) {
      LOGV("Orbis PID: 0x%04X, V1 not found", ZV_PID_USB_APP_ORBIS);
      LOGV("no device found");
      return -1;
    }
  }
  *dev = d;
  LOGI("VID: 0x%04X : PID: 0x%04X", ZV_VID, pid);
  int major = zivra::libusb_major_version(d);
  int minor = zivra::libusb_minor_version(d);
  LOGI("version: %d.%d", major, minor);
  major = zivra::libusb_major_version(d);
  minor = zivra::libusb_minor_version(d);
  *iface = zivra::select_iface(2, major, minor, true);
  if (*iface == nullptr) return -ZV_UNKNOWN_DEV;
  LOGV("application found");
  return 2;
}

}  // namespace

extern "C" int zv_open_libusb(zv_iface_t **iface, dev_t **dev, unsigned int VID,
                              const char *manufacturer) {
  (void)VID;
  (void)manufacturer;
  int r = _zv_open_libusb_btldr(iface, dev);
  if (r != -1) return r;
  return _zv_open_libusb_app(iface, dev);
}
