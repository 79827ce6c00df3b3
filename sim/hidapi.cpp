// hidapi, as the hidraw flavour behaves, over the virtual bus.
#include <hidapi/hidapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "sim/internal.h"

using zivra_sim::Device;
using zivra_sim::Fault;
using zivra_sim::TraceEntry;
using zivra_sim::detail::Guard;
using zivra_sim::detail::state;

struct hid_device_ {
  std::shared_ptr<Device> dev;
  std::wstring error;
  bool nonblocking = false;
  hid_device_info *info = nullptr;
};

namespace {

std::wstring g_error;  // hid_error(NULL)

wchar_t *wdup(const std::string &s) {
  std::wstring w = zivra_sim::detail::widen(s);
  auto *p = static_cast<wchar_t *>(malloc((w.size() + 1) * sizeof(wchar_t)));
  wmemcpy(p, w.c_str(), w.size() + 1);
  return p;
}

hid_device_info *make_info(const Device &d) {
  const zivra_sim::Identity &id = d.identity();
  auto *e = static_cast<hid_device_info *>(calloc(1, sizeof(hid_device_info)));
  e->path = strdup(id.path.c_str());
  e->vendor_id = id.vid;
  e->product_id = id.pid;
  e->serial_number = wdup(id.serial);
  e->release_number = id.release;
  e->manufacturer_string = wdup(id.manufacturer);
  e->product_string = wdup(id.product);
  e->usage_page = id.usage_page;
  e->usage = id.usage;
  e->interface_number = id.interface;
  e->bus_type = HID_API_BUS_USB;
  return e;
}

// The key a fault rule names this output report by.
std::string report_key(const uint8_t *data, size_t len) {
  if (len == 0) return "";
  if ((data[0] == 2 || data[0] == 6) && len > 1) {
    const char *w = reinterpret_cast<const char *>(data + 1);
    return std::string(w, strnlen(w, std::min<size_t>(11, len - 1)));
  }
  if (data[0] == 4) return zivra_sim::kDataKey;
  return "#report:" + std::to_string(data[0]);
}

int get_string(hid_device *h, const std::string &s, wchar_t *out, size_t maxlen) {
  if (h == nullptr || out == nullptr || maxlen == 0) return -1;
  if (!h->dev->plugged()) {
    h->error = L"No such device";
    return -1;
  }
  if (!h->dev->identity().strings_readable) {
    h->error = L"Failed to read string: Broken pipe";
    return -1;
  }
  std::wstring w = zivra_sim::detail::widen(s);
  size_t n = std::min(w.size(), maxlen - 1);
  wmemcpy(out, w.c_str(), n);
  out[n] = L'\0';
  h->error.clear();
  return 0;
}

}  // namespace

extern "C" {

int hid_init(void) {
  Guard g;
  ++state().counters.hid_init;
  return 0;
}

int hid_exit(void) {
  Guard g;
  ++state().counters.hid_exit;
  g_error.clear();
  return 0;
}

struct hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
  Guard g;
  ++state().counters.hid_enumerate;
  hid_device_info *head = nullptr;
  hid_device_info **tail = &head;
  for (auto &d : state().bus) {
    const zivra_sim::Identity &id = d->identity();
    if (id.transport != zivra_sim::Transport::Hid) continue;
    if (vendor_id != 0 && id.vid != vendor_id) continue;
    if (product_id != 0 && id.pid != product_id) continue;
    *tail = make_info(*d);
    tail = &(*tail)->next;
  }
  if (head == nullptr)
    g_error = (vendor_id == 0 && product_id == 0) ? L"No HID devices found in the system."
                                                 : L"No HID devices with requested VID/PID found in the system.";
  else
    g_error.clear();
  return head;
}

void hid_free_enumeration(struct hid_device_info *devs) {
  Guard g;
  while (devs != nullptr) {
    hid_device_info *next = devs->next;
    free(devs->path);
    free(devs->serial_number);
    free(devs->manufacturer_string);
    free(devs->product_string);
    free(devs);
    devs = next;
  }
}

hid_device *hid_open_path(const char *path) {
  Guard g;
  if (path == nullptr) {
    g_error = L"Invalid path";
    return nullptr;
  }
  for (auto &d : state().bus) {
    if (d->identity().transport != zivra_sim::Transport::Hid || d->identity().path != path) continue;
    if (!d->identity().openable) {
      g_error = L"Failed to open a device with path '" + zivra_sim::detail::widen(path) + L"': Permission denied";
      return nullptr;
    }
    auto *h = new hid_device_();
    h->dev = d;
    ++d->open_count_;
    ++state().counters.hid_open;
    g_error.clear();
    d->model().on_open(*d);
    return h;
  }
  g_error = L"Failed to open a device with path '" + zivra_sim::detail::widen(path) + L"': No such file or directory";
  return nullptr;
}

hid_device *hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t *serial_number) {
  Guard g;
  for (auto &d : state().bus) {
    const zivra_sim::Identity &id = d->identity();
    if (id.transport != zivra_sim::Transport::Hid || id.vid != vendor_id || id.pid != product_id) continue;
    if (serial_number != nullptr && zivra_sim::detail::widen(id.serial) != serial_number) continue;
    return hid_open_path(id.path.c_str());
  }
  g_error = L"Device with requested VID/PID/(SerialNumber) not found";
  return nullptr;
}

void hid_close(hid_device *h) {
  Guard g;
  if (h == nullptr) return;
  ++state().counters.hid_close;
  --h->dev->open_count_;
  h->dev->model().on_close(*h->dev);
  if (h->info != nullptr) hid_free_enumeration(h->info);
  delete h;
}

int hid_write(hid_device *h, const unsigned char *data, size_t length) {
  Guard g;
  if (h == nullptr) return -1;
  std::shared_ptr<Device> d = h->dev;
  TraceEntry e{};
  e.kind = TraceEntry::HidWrite;
  e.time_us = zivra_sim::now_us();
  e.device = d->id();
  if (data != nullptr) e.data.assign(data, data + length);
  int result = static_cast<int>(length);
  if (data == nullptr || length == 0) {
    h->error = L"Invalid argument";
    result = -1;
  } else if (!d->plugged()) {
    h->error = L"Failed to write: No such device";
    result = -1;
  } else {
    std::vector<Fault *> faults = zivra_sim::detail::match_faults(report_key(data, length), d->id());
    bool call_model = true;
    for (Fault *f : faults) {
      if (f->kind == Fault::Fail) {
        h->error = L"Failed to write: Input/output error";
        result = -1;
        call_model = false;
      } else if (f->kind == Fault::Unplug) {
        d->unplug();
        h->error = L"Failed to write: No such device";
        result = -1;
        call_model = false;
      } else if (f->kind == Fault::Drop) {
        call_model = false;
      }
    }
    if (call_model) {
      if (state().report_us > 0) zivra_sim::detail::wait_until(zivra_sim::now_us() + state().report_us);
      uint64_t first_seq = state().seq;
      d->model().on_output_report(*d, data, length);
      for (auto it = d->input_.begin(); it != d->input_.end();) {
        if (it->seq < first_seq) {
          ++it;
          continue;
        }
        bool keep = true;
        for (Fault *f : faults) {
          switch (f->kind) {
            case Fault::Timeout: keep = false; break;
            case Fault::Delay: it->ready_us += f->delay_us; break;
            case Fault::EchoWord:
              if (it->bytes.size() >= 12) {
                std::fill(it->bytes.begin() + 1, it->bytes.begin() + 12, 0);
                memcpy(it->bytes.data() + 1, f->echo.data(), std::min<size_t>(11, f->echo.size()));
              }
              break;
            case Fault::WrongReportId:
              if (!it->bytes.empty()) it->bytes[0] = f->report_id;
              break;
            case Fault::WrongLength: it->bytes.resize(f->length, 0); break;
            case Fault::Status:
              if (it->bytes.size() > 12)
                it->bytes[12] = f->status;
              else if (it->bytes.size() == 2 && it->bytes[0] == 3)
                it->bytes[1] = f->status;  // a data block's acknowledgement
              break;
            default: break;
          }
        }
        it = keep ? it + 1 : d->input_.erase(it);
      }
      // Delays may have reordered the queue.
      std::stable_sort(d->input_.begin(), d->input_.end(),
                       [](const Device::Input &a, const Device::Input &b) { return a.ready_us < b.ready_us; });
    }
    if (result >= 0) h->error.clear();
  }
  e.result = result;
  zivra_sim::detail::record(std::move(e));
  return result;
}

int hid_read_timeout(hid_device *h, unsigned char *data, size_t length, int milliseconds) {
  Guard g;
  if (h == nullptr) return -1;
  std::shared_ptr<Device> d = h->dev;
  TraceEntry e{};
  e.kind = TraceEntry::HidRead;
  e.time_us = zivra_sim::now_us();
  e.device = d->id();
  e.request_id = (data != nullptr && length > 0) ? data[0] : 0;
  e.timeout_ms = milliseconds;
  int result = 0;
  if (data == nullptr || length == 0) {
    h->error = L"Invalid argument";
    result = -1;
  } else if (!d->plugged()) {
    h->error = L"Failed to read: No such device";
    result = -1;
  } else {
    h->error.clear();
    d->model().on_poll(*d);
    uint64_t now = zivra_sim::now_us();
    bool have = !d->input_.empty();
    uint64_t ready = have ? d->input_.front().ready_us : 0;
    bool deliver = false;
    if (have && ready <= now) {
      deliver = true;
    } else if (milliseconds < 0) {
      if (have) {
        zivra_sim::detail::wait_until(ready);
        deliver = true;
      } else {
        // Nothing will ever arrive: a blocking read would hang the test.
        h->error = L"Blocking read with nothing queued (simulated)";
        result = -1;
      }
    } else {
      uint64_t until = now + static_cast<uint64_t>(milliseconds) * 1000ull;
      if (have && ready <= until) {
        zivra_sim::detail::wait_until(ready);
        deliver = true;
      } else {
        zivra_sim::detail::wait_until(until);
      }
    }
    if (deliver) {
      if (state().report_us > 0) zivra_sim::detail::wait_until(zivra_sim::now_us() + state().report_us);
      std::vector<uint8_t> bytes = std::move(d->input_.front().bytes);
      d->input_.erase(d->input_.begin());
      size_t n = std::min(length, bytes.size());
      memcpy(data, bytes.data(), n);
      e.data.assign(bytes.begin(), bytes.begin() + static_cast<long>(n));
      result = static_cast<int>(n);
    }
  }
  e.result = result;
  zivra_sim::detail::record(std::move(e));
  return result;
}

int hid_read(hid_device *h, unsigned char *data, size_t length) {
  return hid_read_timeout(h, data, length, (h != nullptr && h->nonblocking) ? 0 : -1);
}

int hid_set_nonblocking(hid_device *h, int nonblock) {
  if (h == nullptr) return -1;
  h->nonblocking = nonblock != 0;
  return 0;
}

int hid_send_feature_report(hid_device *h, const unsigned char *, size_t) {
  if (h != nullptr) h->error = L"Feature reports are not simulated";
  return -1;
}

int hid_get_feature_report(hid_device *h, unsigned char *, size_t) {
  if (h != nullptr) h->error = L"Feature reports are not simulated";
  return -1;
}

int hid_get_input_report(hid_device *h, unsigned char *, size_t) {
  if (h != nullptr) h->error = L"Input reports on demand are not simulated";
  return -1;
}

int hid_get_manufacturer_string(hid_device *h, wchar_t *string, size_t maxlen) {
  Guard g;
  return h == nullptr ? -1 : get_string(h, h->dev->identity().manufacturer, string, maxlen);
}

int hid_get_product_string(hid_device *h, wchar_t *string, size_t maxlen) {
  Guard g;
  return h == nullptr ? -1 : get_string(h, h->dev->identity().product, string, maxlen);
}

int hid_get_serial_number_string(hid_device *h, wchar_t *string, size_t maxlen) {
  Guard g;
  return h == nullptr ? -1 : get_string(h, h->dev->identity().serial, string, maxlen);
}

int hid_get_indexed_string(hid_device *h, int, wchar_t *, size_t) {
  if (h != nullptr) h->error = L"Indexed strings are not simulated";
  return -1;
}

struct hid_device_info *hid_get_device_info(hid_device *h) {
  Guard g;
  if (h == nullptr) return nullptr;
  if (h->info == nullptr) h->info = make_info(*h->dev);
  return h->info;
}

const wchar_t *hid_error(hid_device *h) {
  const std::wstring &e = h != nullptr ? h->error : g_error;
  return e.empty() ? L"Success" : e.c_str();
}

const struct hid_api_version *hid_version(void) {
  static const hid_api_version v = {HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH};
  return &v;
}

const char *hid_version_str(void) { return HID_API_VERSION_STR; }
}
