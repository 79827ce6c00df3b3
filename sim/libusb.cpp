// libusb-1.0 over the virtual bus: device lists, descriptors, open/claim, control and
// interrupt transfers answered by the device models.
#include <libusb.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "sim/internal.h"

using zivra_sim::Device;
using zivra_sim::Fault;
using zivra_sim::TraceEntry;
using zivra_sim::detail::Guard;
using zivra_sim::detail::state;

struct libusb_device {
  int id;
  int refs;
};

struct libusb_device_handle {
  std::shared_ptr<Device> dev;
  libusb_device *udev;
};

namespace {

int g_context_tag;

void unref(libusb_device *d) {
  if (d != nullptr && --d->refs == 0) delete d;
}

std::shared_ptr<Device> shared_device(int id) {
  for (auto &p : state().all)
    if (p->id() == id) return p;
  return nullptr;
}

// How long a transfer waits before it gives up; 0 means no limit.
uint64_t wait_us(unsigned int timeout) { return (timeout == 0 ? 5000u : timeout) * 1000ull; }

// What the fault rules do to one transfer before the model sees it.
struct Plan {
  int result = 0;
  bool call_model = true, lost = false, failed = false;
  uint64_t delay = 0;
};

Plan plan_transfer(const std::vector<Fault *> &faults, Device &d) {
  Plan p;
  for (Fault *f : faults) {
    switch (f->kind) {
      case Fault::Fail: p.result = f->usb_error; p.failed = true; p.call_model = false; break;
      case Fault::Unplug: d.unplug(); p.result = LIBUSB_ERROR_NO_DEVICE; p.failed = true; p.call_model = false; break;
      case Fault::Drop: p.call_model = false; p.lost = true; break;
      case Fault::Timeout: p.lost = true; break;
      case Fault::Delay: p.delay += f->delay_us; break;
      default: break;
    }
  }
  return p;
}

// After the model ran (and the transfer did not fail outright): moves the clock
// on by the delay or the time-out; true when the transfer timed out.
bool timed_out(const Plan &p, int &result, unsigned int timeout) {
  if (p.lost || p.delay > wait_us(timeout)) {
    zivra_sim::advance_us(wait_us(timeout));
    result = LIBUSB_ERROR_TIMEOUT;
    return true;
  }
  if (p.delay > 0) zivra_sim::advance_us(p.delay);
  if (result == LIBUSB_ERROR_TIMEOUT) zivra_sim::advance_us(wait_us(timeout));
  return false;
}

}  // namespace

extern "C" {

int libusb_init(libusb_context **ctx) {
  Guard g;
  ++state().counters.usb_init;
  if (state().usb_init_result != 0) return state().usb_init_result;
  if (ctx != nullptr) *ctx = reinterpret_cast<libusb_context *>(&g_context_tag);
  return 0;
}

void libusb_exit(libusb_context *) {
  Guard g;
  ++state().counters.usb_exit;
}

const struct libusb_version *libusb_get_version(void) {
  static const libusb_version v = {1, 0, 26, 11724, "", "zivra_sim"};
  return &v;
}

void libusb_set_debug(libusb_context *, int) {}

int libusb_set_option(libusb_context *, enum libusb_option, ...) { return 0; }

ssize_t libusb_get_device_list(libusb_context *, libusb_device ***list) {
  Guard g;
  if (list == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
  std::vector<Device *> usb;
  for (auto &d : state().bus)
    if (d->identity().transport == zivra_sim::Transport::Usb) usb.push_back(d.get());
  auto **out = static_cast<libusb_device **>(calloc(usb.size() + 1, sizeof(libusb_device *)));
  if (out == nullptr) return LIBUSB_ERROR_NO_MEM;
  for (size_t i = 0; i < usb.size(); ++i) out[i] = new libusb_device{usb[i]->id(), 1};
  *list = out;
  return static_cast<ssize_t>(usb.size());
}

void libusb_free_device_list(libusb_device **list, int unref_devices) {
  Guard g;
  if (list == nullptr) return;
  if (unref_devices != 0)
    for (libusb_device **p = list; *p != nullptr; ++p) unref(*p);
  free(list);
}

libusb_device *libusb_ref_device(libusb_device *dev) {
  if (dev != nullptr) ++dev->refs;
  return dev;
}

void libusb_unref_device(libusb_device *dev) { unref(dev); }

uint8_t libusb_get_bus_number(libusb_device *) { return 1; }

uint8_t libusb_get_device_address(libusb_device *dev) { return dev != nullptr ? static_cast<uint8_t>(dev->id) : 0; }

int libusb_get_device_descriptor(libusb_device *dev, struct libusb_device_descriptor *desc) {
  Guard g;
  Device *d = dev != nullptr ? zivra_sim::detail::find_device(dev->id) : nullptr;
  if (d == nullptr || desc == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
  memset(desc, 0, sizeof *desc);
  desc->bLength = LIBUSB_DT_DEVICE_SIZE;
  desc->bDescriptorType = LIBUSB_DT_DEVICE;
  desc->bcdUSB = 0x0110;
  desc->bDeviceClass = LIBUSB_CLASS_VENDOR_SPEC;
  desc->bMaxPacketSize0 = 8;
  desc->idVendor = d->identity().vid;
  desc->idProduct = d->identity().pid;
  desc->bcdDevice = d->identity().release;
  desc->iManufacturer = 1;
  desc->iProduct = 2;
  desc->iSerialNumber = 3;
  desc->bNumConfigurations = 1;
  return 0;
}

int libusb_open(libusb_device *dev, libusb_device_handle **handle) {
  Guard g;
  if (dev == nullptr || handle == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
  std::shared_ptr<Device> d = shared_device(dev->id);
  if (d == nullptr || !d->plugged()) return LIBUSB_ERROR_NO_DEVICE;
  if (!d->identity().openable) return LIBUSB_ERROR_ACCESS;
  *handle = new libusb_device_handle{d, libusb_ref_device(dev)};
  ++d->open_count_;
  ++state().counters.usb_open;
  d->model().on_open(*d);
  return 0;
}

libusb_device_handle *libusb_open_device_with_vid_pid(libusb_context *, uint16_t vendor_id, uint16_t product_id) {
  Guard g;
  for (auto &d : state().bus) {
    const zivra_sim::Identity &id = d->identity();
    if (id.transport != zivra_sim::Transport::Usb || id.vid != vendor_id || id.pid != product_id) continue;
    libusb_device tmp{d->id(), 1};
    libusb_device_handle *h = nullptr;
    libusb_device *owned = new libusb_device(tmp);
    int r = libusb_open(owned, &h);
    unref(owned);
    return r == 0 ? h : nullptr;
  }
  return nullptr;
}

libusb_device *libusb_get_device(libusb_device_handle *h) { return h != nullptr ? h->udev : nullptr; }

void libusb_close(libusb_device_handle *h) {
  Guard g;
  if (h == nullptr) return;
  ++state().counters.usb_close;
  // Closing gives up a claim, as the kernel does when the file goes.
  if (h->dev->claimed_ >= 0) h->dev->claimed_ = -1;
  --h->dev->open_count_;
  h->dev->model().on_close(*h->dev);
  unref(h->udev);
  delete h;
}

int libusb_claim_interface(libusb_device_handle *h, int interface_number) {
  Guard g;
  if (h == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
  ++state().counters.usb_claim;
  if (!h->dev->plugged()) return LIBUSB_ERROR_NO_DEVICE;
  if (interface_number != h->dev->identity().interface) return LIBUSB_ERROR_NOT_FOUND;
  if (!h->dev->identity().claimable) return LIBUSB_ERROR_BUSY;
  h->dev->claimed_ = interface_number;
  return 0;
}

int libusb_release_interface(libusb_device_handle *h, int interface_number) {
  Guard g;
  if (h == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
  ++state().counters.usb_release;
  if (!h->dev->plugged()) return LIBUSB_ERROR_NO_DEVICE;
  if (h->dev->claimed_ != interface_number) return LIBUSB_ERROR_NOT_FOUND;
  h->dev->claimed_ = -1;
  return 0;
}

int libusb_kernel_driver_active(libusb_device_handle *, int) { return 0; }
int libusb_detach_kernel_driver(libusb_device_handle *, int) { return 0; }
int libusb_attach_kernel_driver(libusb_device_handle *, int) { return 0; }
int libusb_set_auto_detach_kernel_driver(libusb_device_handle *, int) { return 0; }

int libusb_reset_device(libusb_device_handle *h) {
  Guard g;
  if (h == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
  ++state().counters.usb_reset;
  if (!h->dev->plugged()) return LIBUSB_ERROR_NOT_FOUND;
  h->dev->model().on_reset(*h->dev);
  return 0;
}

int libusb_get_string_descriptor_ascii(libusb_device_handle *h, uint8_t desc_index, unsigned char *data,
                                       int length) {
  Guard g;
  if (h == nullptr || data == nullptr || length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
  if (!h->dev->plugged()) return LIBUSB_ERROR_NO_DEVICE;
  if (!h->dev->identity().strings_readable) return LIBUSB_ERROR_PIPE;
  const zivra_sim::Identity &id = h->dev->identity();
  const std::string *s = desc_index == 1 ? &id.manufacturer
                         : desc_index == 2 ? &id.product
                         : desc_index == 3 ? &id.serial
                                           : nullptr;
  if (s == nullptr) return desc_index == 0 ? LIBUSB_ERROR_INVALID_PARAM : LIBUSB_ERROR_PIPE;
  int n = std::min(static_cast<int>(s->size()), length - 1);
  memcpy(data, s->data(), static_cast<size_t>(n));
  data[n] = '\0';
  return n;
}

int libusb_control_transfer(libusb_device_handle *h, uint8_t request_type, uint8_t bRequest, uint16_t wValue,
                            uint16_t wIndex, unsigned char *data, uint16_t wLength, unsigned int timeout) {
  Guard g;
  if (h == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
  std::shared_ptr<Device> d = h->dev;
  zivra_sim::ControlSetup setup{request_type, bRequest, wValue, wIndex, wLength, timeout};
  TraceEntry e{};
  e.kind = TraceEntry::Control;
  e.time_us = zivra_sim::now_us();
  e.device = d->id();
  e.timeout_ms = static_cast<int>(timeout);
  e.setup = setup;
  if (!setup.in() && data != nullptr) e.data.assign(data, data + wLength);
  int result;
  if (!d->plugged()) {
    result = LIBUSB_ERROR_NO_DEVICE;
  } else if (data == nullptr && wLength > 0) {
    result = LIBUSB_ERROR_INVALID_PARAM;
  } else {
    std::vector<Fault *> faults = zivra_sim::detail::match_faults(zivra_sim::control_key(bRequest), d->id());
    Plan p = plan_transfer(faults, *d);
    result = p.result;
    unsigned char scratch[1];
    if (p.call_model) result = d->model().on_control(*d, setup, data != nullptr ? data : scratch);
    if (!p.failed && !timed_out(p, result, timeout)) {
      for (Fault *f : faults)
        if (f->kind == Fault::WrongLength && result >= 0) result = static_cast<int>(std::min<size_t>(f->length, wLength));
    }
    if (setup.in() && result > 0) e.data.assign(data, data + result);
  }
  e.result = result;
  zivra_sim::detail::record(std::move(e));
  return result;
}

int libusb_interrupt_transfer(libusb_device_handle *h, unsigned char endpoint, unsigned char *data, int length,
                              int *transferred, unsigned int timeout) {
  Guard g;
  if (h == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
  std::shared_ptr<Device> d = h->dev;
  TraceEntry e{};
  e.kind = TraceEntry::Interrupt;
  e.time_us = zivra_sim::now_us();
  e.device = d->id();
  e.timeout_ms = static_cast<int>(timeout);
  e.endpoint = endpoint;
  bool in = (endpoint & LIBUSB_ENDPOINT_IN) != 0;
  if (!in && data != nullptr && length > 0) e.data.assign(data, data + length);
  int moved = 0;
  int result;
  if (!d->plugged()) {
    result = LIBUSB_ERROR_NO_DEVICE;
  } else if (data == nullptr && length > 0) {
    result = LIBUSB_ERROR_INVALID_PARAM;
  } else {
    std::vector<Fault *> faults = zivra_sim::detail::match_faults(zivra_sim::interrupt_key(endpoint), d->id());
    Plan p = plan_transfer(faults, *d);
    result = p.result;
    if (p.call_model) result = d->model().on_interrupt(*d, endpoint, data, length, &moved, timeout);
    if (p.failed || timed_out(p, result, timeout)) {
      moved = 0;
    } else {
      for (Fault *f : faults)
        if (f->kind == Fault::WrongLength) moved = static_cast<int>(std::min<size_t>(f->length, static_cast<size_t>(std::max(length, 0))));
    }
    if (in && moved > 0) e.data.assign(data, data + moved);
  }
  if (transferred != nullptr) *transferred = moved;
  e.result = result;
  zivra_sim::detail::record(std::move(e));
  return result;
}

int libusb_bulk_transfer(libusb_device_handle *h, unsigned char endpoint, unsigned char *data, int length,
                         int *transferred, unsigned int timeout) {
  // The dongles have no bulk endpoints of their own; models see these as interrupt transfers.
  return libusb_interrupt_transfer(h, endpoint, data, length, transferred, timeout);
}

const char *libusb_error_name(int code) {
  switch (code) {
    case LIBUSB_SUCCESS: return "LIBUSB_SUCCESS";
    case LIBUSB_ERROR_IO: return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM: return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS: return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE: return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND: return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY: return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT: return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW: return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE: return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED: return "LIBUSB_ERROR_INTERRUPTED";
    case LIBUSB_ERROR_NO_MEM: return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED: return "LIBUSB_ERROR_NOT_SUPPORTED";
    case LIBUSB_ERROR_OTHER: return "LIBUSB_ERROR_OTHER";
    default: return "**UNKNOWN**";
  }
}

const char *libusb_strerror(int code) {
  switch (code) {
    case LIBUSB_SUCCESS: return "Success";
    case LIBUSB_ERROR_IO: return "Input/Output Error";
    case LIBUSB_ERROR_INVALID_PARAM: return "Invalid parameter";
    case LIBUSB_ERROR_ACCESS: return "Access denied (insufficient permissions)";
    case LIBUSB_ERROR_NO_DEVICE: return "No such device (it may have been disconnected)";
    case LIBUSB_ERROR_NOT_FOUND: return "Entity not found";
    case LIBUSB_ERROR_BUSY: return "Resource busy";
    case LIBUSB_ERROR_TIMEOUT: return "Operation timed out";
    case LIBUSB_ERROR_OVERFLOW: return "Overflow";
    case LIBUSB_ERROR_PIPE: return "Pipe error";
    case LIBUSB_ERROR_INTERRUPTED: return "System call interrupted (perhaps due to signal)";
    case LIBUSB_ERROR_NO_MEM: return "Insufficient memory";
    case LIBUSB_ERROR_NOT_SUPPORTED: return "Operation not supported or unimplemented on this platform";
    case LIBUSB_ERROR_OTHER: return "Other error";
    default: return "Unknown error";
  }
}
}
