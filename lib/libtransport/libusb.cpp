// Bulk-USB backend: older dongles are driven by vendor control transfers (and, for
// the first generation, an interrupt transfer) that callers describe as records.
//
// libzivra does not record libusb-1.0 as a needed library: its libusb references
// are weak and resolve from the loading process. A process without libusb loaded
// gets a clean "cannot initialise" failure instead of an unresolved call.
// libusb.h declares zero-length trailing arrays.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#include <libusb.h>
#pragma GCC diagnostic pop

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "liblog/log.h"
#include "zivra/transport.h"

#pragma weak libusb_init
#pragma weak libusb_exit
#pragma weak libusb_get_version
#pragma weak libusb_get_device_list
#pragma weak libusb_free_device_list
#pragma weak libusb_get_device_descriptor
#pragma weak libusb_open
#pragma weak libusb_close
#pragma weak libusb_claim_interface
#pragma weak libusb_release_interface
#pragma weak libusb_get_string_descriptor_ascii
#pragma weak libusb_control_transfer
#pragma weak libusb_interrupt_transfer
#pragma weak libusb_reset_device

LOG_MODULE("lib/libtransport/libusb");

namespace zivra {
namespace {

constexpr int kNoHandle = -19;
constexpr int kStringBuf = 256;

// The one open bulk-USB device.
libusb_device_handle *handle = nullptr;

libusb_device_handle *handle_of(dev_t *dev) { return static_cast<libusb_device_handle *>(dev->handle); }

bool libusb_present() { return &libusb_init != nullptr && &libusb_get_device_list != nullptr; }

}  // namespace
}  // namespace zivra

extern "C" {

const char *libusb_error_text(int code) {
  switch (code) {
    case 0: return "Success";
    case -1: return "Input/output error";
    case -2: return "Invalid parameter";
    case -3: return "Access denied (insufficient permissions)";
    case -4: return "No such device (it may have been disconnected)";
    case -5: return "Entity not found";
    case -6: return "Resource busy";
    case -7: return "Operation timed out";
    case -8: return "Overflow";
    case -9: return "Pipe error";
    case -10: return "System call interrupted (perhaps due to signal)";
    case -11: return "Insufficient memory";
    case -12: return "Operation not supported or unimplemented on this platform";
    case -99: return "Other error";
    default: return "Unknown error";
  }
}

int libusb_dev_open(dev_t *dev, void *p) {
  if (dev == nullptr || p == nullptr) {
    LOGE("invalid device handle");
    return -1;
  }
  const libusb_priv *want = static_cast<const libusb_priv *>(p);
  int r = zivra::libusb_present() ? libusb_init(nullptr) : LIBUSB_ERROR_NOT_SUPPORTED;
  if (r < 0) {
    LOGE("can not initialize libusb");
    return r;
  }
  libusb_device **list = nullptr;
  ssize_t cnt = libusb_get_device_list(nullptr, &list);
  if (cnt < 0) {
    LOGE("libusb cnt < 0");
    libusb_exit(nullptr);
    return static_cast<int>(cnt);
  }
  const libusb_version *v = libusb_get_version();
  if (v != nullptr)
    LOGD("Libusb Version: %d.%d.%d.%d %s", v->major, v->minor, v->micro, v->nano, v->rc);
  else
    LOGW("could not get version information?");

  // The wanted manufacturer string, terminated even if the caller filled all 45.
  char mfr[LIBUSB_MFR_SIZE + 1];
  memcpy(mfr, want->mfr, LIBUSB_MFR_SIZE);
  mfr[LIBUSB_MFR_SIZE] = '\0';

  int result = -1;
  for (ssize_t i = 0; i < cnt; ++i) {
    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(list[i], &desc) < 0) {
      LOGE("failed to get device descriptor");
      break;
    }
    if (desc.idVendor != want->VID || desc.idProduct != want->PID) continue;
    LOGI("Matched VID:0x%04X PID: 0x%04X", desc.idVendor, desc.idProduct);
    LOGI("opening device");
    libusb_device_handle *h = nullptr;
    r = libusb_open(list[i], &h);
    if (r < 0) {
      LOGW("Error, can't open device: %s", libusb_error_text(r));
      continue;
    }
    LOGI("device opened");
    LOGD("claiming interface: %d", want->interface);
    // Some dongles refuse the claim yet answer control transfers all the same.
    if (libusb_claim_interface(h, want->interface) < 0) LOGD("can not claim interface: %d", want->interface);

    unsigned char got[zivra::kStringBuf];
    memset(got, 0, sizeof got);
    if (libusb_get_string_descriptor_ascii(h, desc.iManufacturer, got, sizeof got) < 0) {
      LOGE("Cannot query device, is the GUI open?");
      libusb_close(h);
      continue;
    }
    got[sizeof got - 1] = '\0';
    if (strcmp(reinterpret_cast<const char *>(got), mfr) != 0) {
      LOGE("manufacturer string mismatch");
      libusb_close(h);
      continue;
    }
    LOGD("Match: VID: 0x%4X, PID: 0x%04X, MFR: %s", desc.idVendor, desc.idProduct, got);
    libusb_priv *copy = static_cast<libusb_priv *>(calloc(1, sizeof *copy));
    if (copy == nullptr) {
      LOGE("can't allocate memory");
      libusb_close(h);
      break;
    }
    copy->VID = want->VID;
    copy->PID = want->PID;
    copy->interface = want->interface;
    memcpy(copy->mfr, want->mfr, LIBUSB_MFR_SIZE);
    copy->debug = want->debug;

    dev->handle = h;
    zivra::handle = h;
    dev->send_pkv = libusb_send_packet;
    dev->recv_pkv = libusb_recv_packet;
    dev->flush = libusb_flush;
    dev->read = nullptr;
    dev->write = nullptr;
    dev->close = libusb_dev_close;
    dev->priv = copy;
    result = 0;
    break;
  }
  libusb_free_device_list(list, 1);
  // A failed open leaves libusb as it found it.
  if (result != 0) libusb_exit(nullptr);
  return result;
}

int libusb_dev_close(dev_t *dev) {
  if (dev == nullptr || dev->handle == nullptr) {
    LOGE("device is null");
    return -1;
  }
  libusb_device_handle *h = zivra::handle_of(dev);
  const libusb_priv *p = static_cast<const libusb_priv *>(dev->priv);
  libusb_reset_device(h);
  if (p != nullptr) libusb_release_interface(h, p->interface);
  libusb_close(h);
  libusb_exit(nullptr);
  free(dev->priv);
  dev->priv = nullptr;
  dev->handle = nullptr;
  zivra::handle = nullptr;
  return 0;
}

int libusb_dev_send_cmd(dev_t *dev, const char *cmd, uint8_t *data, uint32_t len) {
  if (dev == nullptr || dev->handle == nullptr) {
    LOGD("pointer to handle is invalid");
    return zivra::kNoHandle;
  }
  if (data == nullptr) {
    LOGE("data pointer invlaid");
    return -1;
  }
  libusb_device_handle *h = zivra::handle_of(dev);
  bool interrupt = cmd != nullptr && strcmp(cmd, "libusb_interrupt") == 0;
  // The record is read whole (and a control answer written back into it): a
  // caller's buffer shorter than the record would be read and written past.
  size_t need = interrupt ? sizeof(libusb_interrupt) : sizeof(libusb_msg);
  if (len < need) {
    LOGE("transfer record of %u bytes is shorter than the %zu it needs", len, need);
    return -1;
  }
  int r;
  if (interrupt) {
    libusb_interrupt req;
    memcpy(&req, data, sizeof req);
    r = libusb_interrupt_transfer(h, req.endpoint, req.buf, req.length, req.transferred, req.timeout);
  } else {
    // The caller's record may sit at any address: read its fields by copy, and let
    // the device's answer land in the record's own buf.
    libusb_msg req;
    memcpy(&req, data, sizeof req);
    // The answer lands in the record's buf: a longer transfer would run past it.
    if (req.wLength > sizeof req.buf) {
      LOGE("control transfer of %u bytes does not fit the %zu-byte buffer", req.wLength, sizeof req.buf);
      return -1;
    }
    r = libusb_control_transfer(h, req.bmRequestType, req.bRequest, req.wValue, req.wIndex,
                                data + offsetof(libusb_msg, buf), req.wLength, req.timeout);
  }
  if (r < 0) LOGD("%s", libusb_error_text(r));
  return r;
}

int libusb_send_packet(dev_t *, uint8_t, uint8_t *, uint32_t) { return 0; }
int libusb_recv_packet(dev_t *, uint8_t, uint8_t *, uint32_t) { return 0; }
int libusb_flush(dev_t *) { return 0; }
}
