// The device library's front end: the one open dongle of the process, the table
// chosen for its generation, and the exported calls that forward into it.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/time.h>
#include <unistd.h>

#include "libzivra/common/zivra_common.h"
#include "libzivra/version_history.h"
#include "liblog/log.h"
#include "zivra/bootloader.h"
#include "zivra/file_opts.h"
#include "zivra/gen4_rev.h"
#include "zivra/legacy.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/zivra_driver");

namespace {

using builder_t = zv_iface_t *(*)();

// Builders per selection row. A null entry is a generation whose module is not in
// the library yet: such a dongle opens as not supported. Wiring one in is a
// matter of naming its builder here.
constexpr builder_t kBlVer1 = zv_bl_ver1_init;
constexpr builder_t kBlVer2 = zv_bl_ver2_init;
constexpr builder_t kBlVer3 = zv_bl_ver3_init;
constexpr builder_t kBlVer3p1 = zv_bl_ver3p1_init;
constexpr builder_t kBlVer3p2 = zv_bl_ver3p2_init;
constexpr builder_t kBlVer3p3 = zv_bl_ver3p3_init;
constexpr builder_t kFwVer1 = zv_fw_ver1_init;
constexpr builder_t kFwVer2 = zv_fw_ver2_init;
constexpr builder_t kFwVer2p1 = zv_fw_ver2p1_init;
constexpr builder_t kFwVer3p0 = zv_fw_ver3p0_init;
constexpr builder_t kFwVer3p9 = zv_fw_ver3p9_init;
// Generation 4 by minor version 0..10: zv_fw_ver4p0_init .. zv_fw_ver4p10_init.
constexpr builder_t kFwVer4[11] = {
    zv_fw_ver4p0_init,  // 4.0
    zv_fw_ver4p1_init,  // 4.1
    zv_fw_ver4p2_init,  // 4.2
    zv_fw_ver4p3_init,  // 4.3
    zv_fw_ver4p4_init,  // 4.4
    zv_fw_ver4p5_init,  // 4.5
    zv_fw_ver4p6_init,  // 4.6
    zv_fw_ver4p7_init,  // 4.7
    zv_fw_ver4p8_init,  // 4.8
    zv_fw_ver4p9_init,  // 4.9
    zv_fw_ver4p10_init, // 4.10
};


// One row of the selection: the first row whose state, major and minor range
// match picks the builder and the line logged. A minor range of kAnyMinor
// matches every minor; a major of kAnyMajor every major. `fmt` receives the
// major and the minor; null logs nothing. `by_minor` indexes builders by minor
// from `minor_lo` instead of naming one. Rows marked `hid_only` are generations
// reached over HID only: a bulk-USB device reporting one is not supported.
constexpr int kAnyMajor = INT_MIN;
constexpr int kAnyMinor[2] = {INT_MIN, INT_MAX};

struct Selection {
  int state;
  int major;
  int minor_lo, minor_hi;
  int level;  // 4 D, 1 E
  const char *fmt;
  builder_t builder;
  const builder_t *by_minor;
  bool hid_only;
};

#define ANY kAnyMinor[0], kAnyMinor[1]
constexpr Selection kSelection[] = {
    {1, 1, ANY, 4, "initializing btldr ver1", kBlVer1, nullptr, false},
    {1, 2, 0, 0, 4, "initializing btldr ver2.0", kBlVer2, nullptr, false},
    {1, 2, 1, 1, 4, "initializing btldr ver2.1", kBlVer2, nullptr, false},
    {1, 2, ANY, 4, "unknown minor, initializing v2.0", kBlVer2, nullptr, false},
    {1, 3, 0, 0, 4, "initializing btldr ver3.0", kBlVer3, nullptr, true},
    {1, 3, 1, 1, 4, "initializing btldr ver3.1", kBlVer3p1, nullptr, true},
    {1, 3, 2, 2, 4, "found stage 2 bootloader", kBlVer3p2, nullptr, true},
    {1, 3, 3, 3, 4, "initializing btldr ver3.3", kBlVer3p3, nullptr, true},
    {1, 3, ANY, 4, "unknown version", nullptr, nullptr, true},
    {1, -1, ANY, 1, "can not read version, unplug/plug device", nullptr, nullptr, false},
    {1, kAnyMajor, ANY, 1, "version: %d not supported", nullptr, nullptr, false},

    {2, 0, ANY, 4, "major version 0, initializing fw ver1", kFwVer1, nullptr, false},
    {2, 1, ANY, 4, "initializing fw ver1", kFwVer1, nullptr, false},
    {2, 2, 0, 0, 4, "initializing fw ver2.0", kFwVer2, nullptr, false},
    {2, 2, 1, 6, 4, "initializing fw ver%d.%d", kFwVer2p1, nullptr, false},
    {2, 2, ANY, 4, "unknown minor version, using 2.0", kFwVer2, nullptr, false},
    {2, 3, 0, 0, 4, "initializing fw ver3.0", kFwVer3p0, nullptr, false},
    {2, 3, 1, 1, 4, "initializing fw ver3.1", kFwVer3p0, nullptr, false},
    {2, 3, 2, 2, 4, nullptr, kFwVer3p0, nullptr, false},
    {2, 3, 6, 7, 4, "initializing fw ver%d.%d", kFwVer3p0, nullptr, false},
    {2, 3, 9, 9, 4, "initializing fw ver3.9", kFwVer3p9, nullptr, false},
    {2, 3, 11, 12, 4, "initializing fw ver%d.%d", kFwVer3p9, nullptr, false},
    {2, 3, ANY, 4, nullptr, kFwVer3p9, nullptr, false},
    {2, 4, 0, 10, 4, "initializing fw ver%d.%d", nullptr, kFwVer4, true},
    {2, 4, ANY, 1, "unsupported fw v:%d.%d", nullptr, nullptr, true},
    {2, 255, ANY, 4, "beta firmware, initializing fw ver2", kFwVer2, nullptr, false},
    {2, -1, ANY, 1, "can not read version, unplug/plug device", nullptr, nullptr, false},
    {2, kAnyMajor, ANY, 4, "firmware version: v%d.%d not supported", nullptr, nullptr, false},
};
#undef ANY

const Selection &select_row(int state, int major, int minor) {
  for (const Selection &r : kSelection)
    if (r.state == state && (r.major == kAnyMajor || r.major == major) && minor >= r.minor_lo &&
        minor <= r.minor_hi)
      return r;
  return kSelection[sizeof kSelection / sizeof kSelection[0] - 1];  // not reached: the last row matches all
}

void log_row(int level, const char *fmt, int major, int minor) {
  char text[96];
  snprintf(text, sizeof text, fmt, major, minor);
  if (level == 1)
    LOGE("%s", text);
  else
    LOGD("%s", text);
}

}  // namespace

namespace zivra {

zv_iface_t *select_iface(int state, int major, int minor, bool bulk) {
  LOGD("fw_state: %s", state == 2 ? "firmware" : "bootloader");
  LOGD("version: %d.%d", major, minor);
  state = state == 1 ? 1 : 2;
  const Selection &r = select_row(state, major, minor);
  if (bulk && r.hid_only) {
    // Its commands would go through the bulk backend, which has no command channel.
    if (state == 1)
      log_row(1, "version: %d not supported", major, minor);
    else
      log_row(4, "firmware version: v%d.%d not supported", major, minor);
    return nullptr;
  }
  if (r.fmt != nullptr) log_row(r.level, r.fmt, major, minor);
  builder_t b = r.by_minor != nullptr ? r.by_minor[minor - r.minor_lo] : r.builder;
  return b != nullptr ? b() : nullptr;
}

}  // namespace zivra

namespace {

// ---- process-wide state: one open dongle ----
zv_iface_t *iface = nullptr;
dev_t *dev = nullptr;
int fw_state = 0;
float (*_zv_version)(dev_t *) = nullptr;
int (*_zv_major_version)(dev_t *) = nullptr;
int (*_zv_minor_version)(dev_t *) = nullptr;
int (*_zv_patch_version)(dev_t *) = nullptr;

void install_hid_getters() {
  _zv_version = zivra::transport_get_version;
  _zv_major_version = zivra::transport_major_version;
  _zv_minor_version = zivra::transport_minor_version;
  _zv_patch_version = zivra::transport_patch_version;
}

void install_libusb_getters() {
  _zv_version = zivra::libusb_zv_version;
  _zv_major_version = zivra::libusb_major_version;
  _zv_minor_version = zivra::libusb_minor_version;
  _zv_patch_version = zivra::libusb_patch_version;
}

// "usb_if" payload: selector word 1 (the auxiliary interface), then the enable byte.
int send_usb_if(dev_t *d, uint8_t en) {
  uint8_t buf[32] = {};
  buf[0] = 1;
  buf[4] = en;
  return dev_send_cmd(d, "usb_if", buf, sizeof buf);
}

// A dongle was found but its version has no table: drop the handle.
void forget_unsupported() {
  LOGD("device not supported");
  if (dev != nullptr) dev_close(dev);
  dev = nullptr;
  free(iface);
  iface = nullptr;
}

int open_device(unsigned int VID, const char *mfg, int interface, bool alt) {
  // A dongle left open would leak its handle and table: close it first.
  if (iface != nullptr || dev != nullptr) zv_close_device();

  fw_state = zv_open_hid(&iface, &dev, VID, mfg, interface);
  if (fw_state == 1 || fw_state == 2) {
    LOGD("device found, state: %d", fw_state);
    if (alt && fw_state == 2) send_usb_if(dev, 1);
    install_hid_getters();
    return fw_state;
  }
  if (fw_state == -ZV_UNKNOWN_DEV) {
    forget_unsupported();
    return -1;
  }
  fw_state = zv_open_libusb(&iface, &dev, VID, mfg);
  if (fw_state == 1 || fw_state == 2) {
    LOGD("device found, state: %d", fw_state);
    install_libusb_getters();
    return fw_state;
  }
  if (fw_state == -ZV_UNKNOWN_DEV) forget_unsupported();
  return -1;
}

}  // namespace

extern "C" {

// ---- selection ----

zv_iface_t *determine_iface(int state, int major, int minor) {
  return zivra::select_iface(state, major, minor, false);
}

// ---- opening, closing, versions ----

int zv_open_device(unsigned int VID, const char *mfg) { return open_device(VID, mfg, 0, false); }

int zv_open_device_alt(unsigned int VID, const char *mfg) { return open_device(VID, mfg, 2, true); }

void zv_close_device(void) {
  LOGD("closing device");
  if (iface == nullptr) {
    LOGD("pointer to handle is invalid");
    return;
  }
  // Switching the auxiliary interface off fails on firmware without it; stay quiet.
  int level = get_loglevel();
  set_loglevel(0);
  if (iface->dev != nullptr) send_usb_if(iface->dev, 0);
  set_loglevel(level);

  if (dev != nullptr) dev_close(dev);
  LOGD("freeing iface");
  free(iface);
  iface = nullptr;
  dev = nullptr;
  _zv_version = nullptr;
  _zv_major_version = nullptr;
  _zv_minor_version = nullptr;
  _zv_patch_version = nullptr;
}

int zv_fw_state(void) { return fw_state; }

float zv_version(void) {
  if (_zv_version == nullptr) {
    LOGE("something bad happened");
    return -1;
  }
  return _zv_version(dev);
}

int zv_major_version(void) {
  if (_zv_major_version == nullptr) {
    LOGE("something bad happened");
    return -1;
  }
  return _zv_major_version(dev);
}

int zv_minor_version(void) {
  if (_zv_minor_version == nullptr) {
    LOGE("something bad happened");
    return -1;
  }
  return _zv_minor_version(dev);
}

int zv_patch_version(void) {
  if (_zv_patch_version == nullptr) {
    LOGE("something bad happened");
    return -1;
  }
  return _zv_patch_version(dev);
}

char *zv_version_str(void) {
  static char version[50];
  if (iface == nullptr) {
    LOGE("pointer to handle is invalid");
    return nullptr;
  }
  if (_zv_major_version == nullptr) {
    LOGE("no major version function");
    return nullptr;
  }
  if (_zv_minor_version == nullptr) {
    LOGE("no minor version function");
    return nullptr;
  }
  if (_zv_patch_version == nullptr) {
    LOGE("no patch version function");
    return nullptr;
  }
  int major = _zv_major_version(dev);
  if (major < 0) return nullptr;
  int minor = _zv_minor_version(dev);
  if (minor < 0) return nullptr;
  int patch = _zv_patch_version(dev);
  if (patch < 0) return nullptr;
  snprintf(version, sizeof version, "%d.%d.%d", major, minor, patch);
  LOGD("version: %s", version);
  return version;
}

const char *zv_lib_version(void) { return "3.27.10-39-gb76f58e4"; }

}  // extern "C"

// ---- forwarders ----

// The common pattern: -19 without a dongle, -12 without the operation, otherwise
// the operation's own result.
#define ZV_FORWARD_AS(ret, name, slot, params, args, msg)    \
  extern "C" ret name params {                              \
    if (iface == nullptr) {                                 \
      LOGD("pointer to handle is invalid");                 \
      return static_cast<ret>(-ZV_ERROR_T_COUNT);           \
    }                                                       \
    if (iface->slot == nullptr) {                           \
      LOGD(msg);                                            \
      return static_cast<ret>(-ZV_EWRONGDEV);               \
    }                                                       \
    return iface->slot args;                                \
  }
#define ZV_FORWARD(ret, name, params, args) \
  ZV_FORWARD_AS(ret, name, name, params, args, "invalid operation for this device or version")
#define ZV_FORWARD_FW(ret, name, params, args) \
  ZV_FORWARD_AS(ret, name, name, params, args, "invalid operation for this device or fw version")

ZV_FORWARD(int, zv_leave_bootloader, (void), ())
ZV_FORWARD(int, zv_reboot, (void), ())
ZV_FORWARD(int, zv_set_delete, (int wait), (wait))
ZV_FORWARD(int, zv_set_record, (const char *key, int wait), (key, wait))
ZV_FORWARD(int, zv_set_record_api, (int mode, int modifier, int key, int wait),
           (mode, modifier, key, wait))
ZV_FORWARD(int, zv_set_record_api_new, (int report_id, int modifier, int key, int wait),
           (report_id, modifier, key, wait))
ZV_FORWARD(int, zv_set_normal, (void), ())
ZV_FORWARD(int, zv_set_interrupt, (int timeout), (timeout))
ZV_FORWARD(int, zv_delete_buttons, (const char *user_input), (user_input))
ZV_FORWARD(int, zv_set_noise_cancel, (int val), (val))
ZV_FORWARD(int, zv_get_noise_cancel, (void), ())
ZV_FORWARD(int, zv_set_sensitivity, (int val), (val))
ZV_FORWARD(int, zv_get_sensitivity, (void), ())
ZV_FORWARD(int, zv_set_interkey_delay, (int val), (val))
ZV_FORWARD(int, zv_get_interkey_delay, (void), ())
ZV_FORWARD(int, zv_enable_rom_table, (uint32_t table, uint8_t en), (table, en))
ZV_FORWARD(int, zv_get_rom_table, (uint32_t table), (table))
ZV_FORWARD(int, zv_clear_state, (void), ())
ZV_FORWARD(int, zv_display_config, (void), ())
ZV_FORWARD(int, zv_format_config, (void), ())
ZV_FORWARD(int, zv_save_config, (const char *user_file), (user_file))
ZV_FORWARD(int, zv_load_config, (const char *user_file), (user_file))
ZV_FORWARD(int, zv_keys_recorded, (void), ())
ZV_FORWARD(int, zv_keys_remaining, (void), ())
ZV_FORWARD(uint32_t, zv_fw_scm_hash, (void), ())
ZV_FORWARD(int, zv_set_debug_pipe, (uint32_t pipe, uint8_t en), (pipe, en))
ZV_FORWARD(int, zv_get_debug_pipe, (uint32_t pipe), (pipe))
ZV_FORWARD(int, zv_normalize_config, (void), ())
ZV_FORWARD(int, zv_unit_test, (void), ())
ZV_FORWARD(int, zv_set_record_lp, (const char *key, int wait), (key, wait))
ZV_FORWARD(int, zv_set_record_macro, (const char *key, int wait), (key, wait))
ZV_FORWARD(int, zv_usb_iface_en, (usb_iface_type type, uint8_t en), (type, en))
ZV_FORWARD(int, zv_last_hash, (void), ())
ZV_FORWARD(int, zv_rb_settings_set, (uint32_t wake_en, uint8_t high_add, uint8_t low_add),
           (wake_en, high_add, low_add))
ZV_FORWARD(int, zv_rb_settings_get, (uint32_t * wake_en, uint8_t *high_add, uint8_t *low_add),
           (wake_en, high_add, low_add))
ZV_FORWARD(int, zv_rb_wake_sig, (uint16_t * buf, uint8_t len), (buf, len))
ZV_FORWARD_AS(int, zv_record_toggle, zv_set_record_toggle, (int wait), (wait),
              "invalid operation for this device or version")

ZV_FORWARD_FW(int, zv_set_sleep_detect, (int val), (val))
ZV_FORWARD_FW(int, zv_get_sleep_detect, (void), ())
ZV_FORWARD_FW(int, zv_set_builtin_profile_support, (int val), (val))
ZV_FORWARD_FW(int, zv_get_builtin_profile_support, (void), ())
ZV_FORWARD_FW(int, zv_set_sequence_modifiers, (int val), (val))
ZV_FORWARD_FW(int, zv_get_sequence_modifiers, (void), ())

namespace {

// The string forwarders report both failures as null.
char *forward_str(char *(*zv_iface::*slot)()) {
  if (iface == nullptr) {
    LOGD("pointer to handle is invalid");
    return nullptr;
  }
  if (iface->*slot == nullptr) {
    LOGD("invalid operation for this device or version");
    return nullptr;
  }
  return (iface->*slot)();
}

}  // namespace

extern "C" {

int zv_product_type(void) {
  if (iface == nullptr) {
    LOGD("pointer to handle is invalid");
    return -ZV_ERROR_T_COUNT;
  }
  if (iface->zv_product_type == nullptr) {
    LOGD("invalid operation for this device or version");
    return 2;  // the standard variant
  }
  return iface->zv_product_type();
}

int zv_get_state(void) {
  // A bootloader has no record or delete mode.
  if (zv_fw_state() == 1) return ZV_STATE_PLAYBACK;
  if (iface == nullptr) {
    LOGD("pointer to handle is invalid");
    return -ZV_ERROR_T_COUNT;
  }
  if (iface->zv_get_state == nullptr) {
    LOGD("invalid operation for this device or version");
    return -ZV_EWRONGDEV;
  }
  return iface->zv_get_state();
}

char *zv_fw_branch(void) { return forward_str(&zv_iface::zv_fw_branch); }
char *zv_fw_config(void) { return forward_str(&zv_iface::zv_fw_config); }
char *zv_fw_dirty(void) { return forward_str(&zv_iface::zv_fw_dirty); }

char *zv_get_sku(void) {
  if (iface == nullptr) {
    LOGD("pointer to handle is invalid");
    return nullptr;
  }
  if (iface->zv_get_sku == nullptr) {
    LOGE("invalid operation for this device or version");
    return nullptr;
  }
  return iface->zv_get_sku();
}

int zv_log(char *buf) {
  if (iface == nullptr) {
    LOGE("pointer to handle is invalid");
    return -1;
  }
  if (iface->zv_log == nullptr) {
    LOGE("invalid operation for this device or version");
    return -ZV_EWRONGDEV;
  }
  return iface->zv_log(buf);
}

int zv_eeprom_peek(int address) {
  if (iface == nullptr) {
    LOGE("pointer to handle is invalid");
    return -ZV_ERROR_T_COUNT;
  }
  if (iface->zv_eeprom_peek == nullptr) {
    LOGE("invalid operation for this device or version");
    return -ZV_EWRONGDEV;
  }
  return iface->zv_eeprom_peek(static_cast<uint32_t>(address));
}

int zv_eeprom_poke(uint16_t address, uint16_t data) {
  if (iface == nullptr) {
    LOGE("pointer to handle is invalid");
    return -ZV_ERROR_T_COUNT;
  }
  if (iface->zv_eeprom_poke == nullptr) {
    LOGE("invalid operation for this device or version");
    return -ZV_EWRONGDEV;
  }
  return iface->zv_eeprom_poke(address, data);
}

int zv_delete_index(int index) {
  if (iface == nullptr) {
    LOGE("pointer to handle is invalid");
    return -1;
  }
  if (iface->zv_delete_index == nullptr) {
    LOGD("invalid operation for this device or version");
    return -ZV_EWRONGDEV;
  }
  return iface->zv_delete_index(index);
}

// Two names for one call; each logs under its own name.
#define ZV_IR_PACKET_POLL(name)                               \
  int name(struct ir_packet *ir) {                            \
    if (iface == nullptr) {                                   \
      LOGD("pointer to handle is invalid");                   \
      return -ZV_ERROR_T_COUNT;                               \
    }                                                         \
    if (iface->zv_ir_packet_poll == nullptr) {                \
      LOGD("invalid operation for this device or version");   \
      return -ZV_EWRONGDEV;                                   \
    }                                                         \
    if (ir == nullptr) {                                      \
      LOGE("invalid pointer to buffer");                      \
      return -1;                                              \
    }                                                         \
    return iface->zv_ir_packet_poll(iface, ir);               \
  }
ZV_IR_PACKET_POLL(zv_ir_packet_poll)
ZV_IR_PACKET_POLL(zv_irfuck)

void zv_dev_flush(void) {
  if (iface == nullptr || dev == nullptr) return;
  LOGI("flushing");
  dev_flush(dev);
}

// ---- command gateways ----

int _zv_send_msg(const char *cmd, uint8_t *data, uint32_t len) {
  return dev_send_cmd(dev, cmd, data, len);
}

int _zv_send_data(uint8_t *data, uint32_t len) { return dev_send_data(dev, data, len); }

int zv_send_msg(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                unsigned char *data, uint16_t wLength, unsigned int timeout) {
  libusb_msg msg;
  memset(&msg, 0, sizeof msg);
  msg.bmRequestType = bmRequestType;
  msg.bRequest = bRequest;
  msg.wValue = wValue;
  msg.wIndex = wIndex;
  msg.wLength = wLength;
  msg.timeout = timeout;
  if (dev == nullptr) return -ZV_ERROR_T_COUNT;
  if (wLength > sizeof msg.buf) {
    LOGE("length specified too large for packed message");
    return -1;
  }
  if (wLength > 0) memcpy(msg.buf, data, wLength);
  // Any word but "libusb_interrupt" selects a control transfer.
  int r = dev_send_cmd(dev, "NULL", reinterpret_cast<uint8_t *>(&msg), sizeof msg);
  if (wLength > 0) memcpy(data, msg.buf, wLength);
  return r;
}

int zv_set_interrupt_ep(unsigned char endpoint, unsigned char *data, int length, int *transferred,
                        unsigned int timeout) {
  libusb_interrupt rec;
  rec.endpoint = endpoint;
  rec.buf = data;
  rec.length = length;
  rec.transferred = transferred;
  rec.timeout = timeout;
  if (dev == nullptr) {
    LOGD("pointer to handle is invalid");
    return -ZV_ERROR_T_COUNT;
  }
  int r = dev_send_cmd(dev, "libusb_interrupt", reinterpret_cast<uint8_t *>(&rec), sizeof rec);
  if (r < 0) LOGD("%s", libusb_error_text(r));
  // A failed wait is the caller's to handle, not a result of 0.
  return r;
}

}  // extern "C"

namespace {

// Bits 1 and 2 of the settings word at address 3 read as 2 mark the Orbis variant.
void zv_set_product_orbis() {
  int v = zv_eeprom_peek(3);
  if (v < 0) {
    LOGE("Error reading byte");
    return;
  }
  v &= ~0x6;
  v |= 0x4;
  if (zv_eeprom_poke(3, static_cast<uint16_t>(v)) < 0) LOGE("failed to update settings");
}

}  // namespace

extern "C" {

int zv_initialize_product(int product) {
  if (iface == nullptr) {
    LOGD("pointer to handle is invalid");
    return -ZV_ERROR_T_COUNT;
  }
  if (product == 2) {
    // the standard variant needs nothing
  } else if (product == 3) {
    zv_set_product_orbis();
  } else {
    LOGE("Unknown Product ID");
  }
  return 0;
}

void zv_libusb_logging(int enable) { (void)enable; }

}  // extern "C"

// ==== IR transmission: raw signals, Pronto codes, stopping a transmission ====
// Host-side preparation shared by every firmware revision; the upload itself is
// the table's zv_transmit_raw operation.

namespace {

constexpr uint16_t kRawMax = 256;        // entries of a raw signal
constexpr int kSequenceMax = 99;         // durations sendRaw can frame
constexpr uint32_t kProntoHz = 4145146;  // 1 / 0.241246 us, the Pronto clock

// Transmits `len` durations (mark first and last) followed by a pause of `ik` ms.
int sendRaw(uint16_t *data, int len, int ik) {
  if (len < 0 || len > kSequenceMax) return -1;
  uint16_t buf[kSequenceMax + 1] = {};
  memcpy(buf + 1, data, static_cast<size_t>(len) * sizeof *data);
  int rc = zv_transmit_raw(buf, static_cast<uint16_t>(len + 1), static_cast<uint16_t>(ik * 1000), 1);
  if (rc < 0) return rc;
  for (int i = 0; i < len; ++i) {
    if (i % 2 == 0)
      LOGD("+%d", data[i]);
    else
      LOGD("-%d", data[i]);
  }
  LOGD("-%d", static_cast<uint16_t>(ik * 1000));
  return 0;
}

int toFrequencyKHz(uint16_t code) {
  if (code == 0) return 0;
  return static_cast<int>((kProntoHz / code + 500) / 1000);
}

// Sends one sequence whose last entry is its pause in ms, then spins until the
// pause has passed so the next sequence starts on time.
int send_sequence(uint16_t *seq, int count) {
  int rc = sendRaw(seq, count - 1, seq[count - 1]);
  struct timeval start;
  gettimeofday(&start, nullptr);
  while (!time_has_elapsed_us(&start, static_cast<uint64_t>(seq[count - 1]) * 1000)) {
  }
  return rc;
}

}  // namespace

extern "C" {

int zv_transmit_raw(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat) {
  if (len > kRawMax) {
    LOGE("buf size is too large");
    return -1;
  }
  if (iface == nullptr) {
    LOGD("pointer to handle is invalid");
    return -19;
  }
  if (iface->zv_transmit_raw == nullptr) {
    LOGD("invalid operation for this device or version");
    return -12;
  }
  // An empty signal has no mark to send.
  if (len == 0 || buf == nullptr) {
    LOGE("Invalid ir signal");
    return -1;
  }
  uint16_t copy[kRawMax] = {};
  uint16_t count = len;
  if (count % 2 == 0) {
    if (buf[0] == 0) {
      memcpy(copy, buf, count * sizeof *buf);
      return iface->zv_transmit_raw(copy, count, ik, repeat);
    }
    LOGI("removing trailing space");
    --count;
  }
  if (buf[0] == 0) {
    LOGE("Invalid ir signal");
    return -1;
  }
  // The upload form starts with a 0 and ends with a mark.
  memcpy(copy + 1, buf, count * sizeof *buf);
  return iface->zv_transmit_raw(copy, static_cast<uint16_t>(count + 1), ik, repeat);
}

int zivra_send_pronto(uint16_t *buf, uint32_t length, uint8_t rep) {
  if (buf == nullptr || length < 4) {
    LOGE("Pronto Hex is invalid, invalid size");
    return -1;
  }
  if (buf[0] != 0x0000 && buf[0] != 0x0100) return -1;
  // Every duration is a multiple of the carrier period: without one there is
  // nothing to send, and no carrier to compute.
  if (buf[1] == 0) {
    LOGE("Pronto Hex is invalid, frequency code is 0");
    return -1;
  }
  // Only logged: the dongle modulates with its own carrier.
  int khz = buf[0] == 0x0000 ? toFrequencyKHz(buf[1]) : 0;
  uint32_t intros = 2u * buf[2], repeats = 2u * buf[3];
  LOGD("sendPronto intros: %d", static_cast<int>(intros));
  LOGD("repeats= %d", static_cast<int>(repeats));
  LOGD("khz= %d", khz);
  if (length != intros + repeats + 4) {
    LOGE("Pronto Hex is invalid, invalid size");
    return -1;
  }
  if (intros > kSequenceMax + 1u || repeats > kSequenceMax + 1u) {
    LOGE("Pronto sequence too long: %d durations > %d",
         static_cast<int>((intros > repeats ? intros : repeats) - 1), kSequenceMax);
    return -1;
  }
  uint32_t timebase = static_cast<uint32_t>((1000000ull * buf[1] + kProntoHz / 2) / kProntoHz);
  uint16_t d[2 * (kSequenceMax + 1)];
  for (uint32_t i = 0; i < intros + repeats; ++i) {
    uint32_t v = timebase * buf[4 + i];
    // The last entry of each sequence is its trailing pause, kept in ms.
    if (i == intros - 1 || i == intros + repeats - 1) v /= 1000;
    d[i] = static_cast<uint16_t>(v);
  }
  int result = 0;
  auto note = [&result](int rc) {
    if (rc < 0 && result == 0) result = rc;
  };
  if (intros > 0) note(send_sequence(d, static_cast<int>(intros)));
  for (int r = 0; r < rep; ++r) {
    if (repeats > 0)
      note(send_sequence(d + intros, static_cast<int>(repeats)));
    else if (intros > 0)
      note(send_sequence(d, static_cast<int>(intros)));
  }
  return result;
}

int zv_transmit_kill(void) {
  if (iface == nullptr) {
    LOGD("pointer to handle is invalid");
    return -19;
  }
  if (iface->zv_transmit_kill == nullptr) {
    LOGD("invalid operation for this device or version");
    return -12;
  }
  return iface->zv_transmit_kill();
}

int zv_ir_transmit_kill(void) {
  if (iface == nullptr) {
    LOGD("pointer to handle is invalid");
    return -19;
  }
  if (iface->zv_transmit_kill == nullptr) {
    LOGD("invalid operation for this device or version");
    return -12;
  }
  return iface->zv_transmit_kill();
}

}  // extern "C"
// ==== end of IR transmission ====

namespace {

// The release selection between the open dongle's firmware and `comp`. Sets *rc
// to the failure code of the printing call when it returns null for a failure.
struct list_head *ver_hist(const char *comp, int *rc) {
  if (iface == nullptr) {
    LOGE("pointer to handle is invalid");
    *rc = -ZV_ERROR_T_COUNT;
    return nullptr;
  }
  *rc = -1;
  semver_t want{};
  if (comp == nullptr || semver_parse(comp, &want) != 0) {
    LOGE("semver parse failed");
    semver_free(&want);
    return nullptr;
  }
  semver_t have{};
  have.major = zv_major_version();
  have.minor = have.major < 0 ? -1 : zv_minor_version();
  have.patch = have.minor < 0 ? -1 : zv_patch_version();
  if (have.major < 0 || have.minor < 0 || have.patch < 0) {
    semver_free(&want);
    return nullptr;
  }
  // HID dongles run the 4.x firmware line, bulk-USB ones the 3.x line.
  bool hid = _zv_major_version == zivra::transport_major_version;
  struct list_head *list = zivra::ver_hist_select(have, want, hid);
  semver_free(&want);
  *rc = 0;
  return list;
}

}  // namespace

extern "C" {

struct list_head *zv_get_ver_hist(const char *comp) {
  int rc;
  return ver_hist(comp, &rc);
}

int zv_print_ver_diff(const char *comp) {
  int rc;
  struct list_head *list = ver_hist(comp, &rc);
  if (rc < 0) return rc;
  zivra::print_ver_hist(list);
  return 0;
}

}  // extern "C"

// ==== waiting for the dongle and upgrading its firmware ====
// The dongle re-enumerates twice during an upgrade (application -> bootloader ->
// new application); each wait re-opens it. Status lines go to standard output for
// the person watching, whatever the log level.

namespace {

constexpr useconds_t kRetryUs = 1000000;
constexpr useconds_t kSettleUs = 500000;

void device_line(const char *text) {
  printf("[DEVICE]        %s\n", text);
  fflush(stdout);
}

// Closing after a step of the upgrade: the dongle gets time to restart first.
void settle_and_close() {
  usleep(kSettleUs);
  zv_close_device();
}

}  // namespace

extern "C" {

int zv_device_set_dfu(void) {
  if (iface == nullptr) {
    LOGD("pointer to handle is invalid");
    return -ZV_ERROR_T_COUNT;
  }
  if (zv_fw_state() == 1) {
    LOGI("device already in bootloader");
    return 1;
  }
  if (iface->zv_device_set_dfu == nullptr) {
    LOGD("invalid operation for this device or version");
    return -ZV_EWRONGDEV;
  }
  if (iface->zv_device_set_dfu() < 0) {
    LOGE("unable to set DFU");
    return -1;
  }
  // The dongle is restarting: closing must not talk to it any more.
  iface->dev = nullptr;
  return 0;
}

}  // extern "C"

ZV_FORWARD(int, zv_last_upgrade_attempt, (void), ())
ZV_FORWARD(int, zv_set_boot_flag, (void), ())

extern "C" {

int zv_wait_for_device_timeout(unsigned int VID, const char *mfg, int timeout) {
  fputs("[DEVICE]        Waiting", stdout);
  fflush(stdout);
  struct timeval start;
  gettimeofday(&start, nullptr);
  // Whole seconds as microseconds: wide enough for any int time-out.
  uint64_t limit = timeout >= 0 ? static_cast<uint64_t>(timeout) * 1000000u : 0;
  int r = zv_open_device(VID, mfg);
  while (r < 0) {
    if (timeout >= 0 && time_has_elapsed_us(&start, limit)) {
      _log(1, "[E] %s %s(%d): \n[DEVICE] Wait timed out\n", kLogModule, __func__, __LINE__);
      return -ZV_ETIMEOUT;
    }
    fputs(".", stdout);
    fflush(stdout);
    usleep(kRetryUs);
    r = zv_open_device(VID, mfg);
  }
  fputs("\n", stdout);
  if (r == 1) device_line("Bootloader Detected");
  if (r == 2) device_line("FW Detected");
  fflush(stdout);
  return r;
}

int zv_wait_for_device(unsigned int VID, const char *mfg) { return zv_wait_for_device_timeout(VID, mfg, -1); }

int zv_upgrade_fw_ext_timeout(unsigned char *buf, size_t len, int VID, const char *mfg, void *priv,
                              zv_progress_t p_bar, int timeout) {
  unsigned int vid = static_cast<unsigned int>(VID);
  if (iface == nullptr) {
    if (zv_wait_for_device_timeout(vid, mfg, timeout) == -ZV_ETIMEOUT) return -ZV_EUPGRADE_FAILED;
    int r = zv_upgrade_fw_ext_timeout(buf, len, VID, mfg, priv, p_bar, timeout);
    if (r < 0) {
      settle_and_close();
      return -ZV_EUPGRADE_FAILED;
    }
    return r;
  }
  if (zv_fw_state() == 1) {
    LOGI("bootloader open");
    device_line("Uploading");
  } else {
    device_line("Setting DFU");
    zv_device_set_dfu();
    zv_close_device();
    usleep(kSettleUs);
    LOGI("waiting for bootloader");
    if (zv_wait_for_device_timeout(vid, ZV_MFR_APP, timeout) == -ZV_ETIMEOUT) return -ZV_EUPGRADE_FAILED;
  }
  // A dongle that came back running its application has nothing to upload with.
  if (iface == nullptr || iface->zv_upload_fw == nullptr) {
    LOGE("upload firmware failed");
    settle_and_close();
    return -ZV_EUPGRADE_FAILED;
  }
  int r = iface->zv_upload_fw(buf, len, priv, p_bar);
  if (r < 0) {
    LOGE("upload firmware failed");
    settle_and_close();
    return r;
  }
  settle_and_close();
  if (zv_wait_for_device_timeout(vid, ZV_MFR_APP, timeout) == 2) {
    zv_set_boot_flag();
    device_line("EOK");
    return 0;
  }
  device_line("Failed");
  return -ZV_EUPGRADE_FAILED;
}

int zv_upgrade_fw_ext(unsigned char *buf, size_t len, int VID, const char *mfg, void *priv, zv_progress_t p_bar) {
  return zv_upgrade_fw_ext_timeout(buf, len, VID, mfg, priv, p_bar, -1);
}

int zv_upgrade_fw_timeout(const char *user_file, unsigned int VID, const char *mfg, void *priv,
                          zv_progress_t p_bar, int timeout) {
  unsigned char *buf = nullptr;
  ssize_t len = file_to_buf(user_file, &buf, "rb");
  if (len < 0) {
    LOGE("could not open file");
    return -9;
  }
  int r = zv_upgrade_fw_ext_timeout(buf, static_cast<size_t>(len), static_cast<int>(VID), mfg, priv, p_bar,
                                    timeout);
  free(buf);
  return r;
}

int zv_upgrade_fw(const char *user_file, unsigned int VID, const char *mfg, void *priv, zv_progress_t p_bar) {
  return zv_upgrade_fw_timeout(user_file, VID, mfg, priv, p_bar, -1);
}

}  // extern "C"
// ==== end of waiting and upgrading ====
