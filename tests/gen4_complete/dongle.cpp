// The bus under the model: hidapi and the wall clock, interposed by this test
// executable (the library's references resolve here first), plus the fixture.
#include "dongle.h"

#include <hidapi/hidapi.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <memory>

#include "gen4_model.h"
#include "zivra/crc.h"
#include "zivra/zivra.h"

namespace gen4t {
namespace {

// Simulated time: reads that find nothing and sleeps advance it instead of
// waiting; each report costs kReportUs each way; every clock reading ticks.
constexpr uint64_t kReportUs = 1000;
uint64_t now_us = 1'700'000'000ull * 1000000;

struct Bus {
  std::unique_ptr<Gen4Model> model;
  bool plugged = false;
  bool open = false;
  std::deque<std::vector<uint8_t>> replies;
  std::vector<Exchange> trace;
} bus;

char path[] = "sim-hidraw0";
wchar_t mfr[] = L"Zivra Systems", prod[] = L"Zivra IR", serial[] = L"SIM0001";
int handle_token;

}  // namespace

uint64_t sim_now_us() { return now_us; }

struct Dongle::Impl {};

Dongle::Dongle(int minor) : impl_(nullptr) {
  bus.model = std::make_unique<Gen4Model>(minor);
  bus.model->trace = &bus.trace;
  bus.plugged = true;
  bus.replies.clear();
  int rc = zv_open_device(0x20A0, nullptr);
  if (rc != 2) fprintf(stderr, "simulated dongle 4.%d did not open: %d\n", minor, rc);
  bus.trace.clear();
}

Dongle::~Dongle() {
  zv_close_device();
  bus.plugged = false;
  bus.model.reset();
}

std::vector<Exchange> Dongle::trace() const { return bus.trace; }
std::vector<Exchange> Dongle::trace(const std::string &cmd) const {
  std::vector<Exchange> v;
  for (auto &e : bus.trace)
    if (e.cmd == cmd) v.push_back(e);
  return v;
}
void Dongle::clear_trace() { bus.trace.clear(); }
std::vector<uint8_t> Dongle::image() const { return bus.model->image; }
void Dongle::set_image(const std::vector<uint8_t> &img) { bus.model->image = img; }
void Dongle::set_reported_size(uint32_t size) {
  bus.model->size_override = true;
  bus.model->reported_size = size;
}
void Dongle::fail(const std::string &cmd, int nth) { bus.model->failures.emplace_back(cmd, nth); }
std::vector<std::vector<uint16_t>> Dongle::transmitted() const { return bus.model->transmitted; }
std::vector<Dongle::TransmitSetting> Dongle::transmit_settings() const {
  std::vector<TransmitSetting> v;
  for (auto &s : bus.model->settings) v.push_back({s.len, s.ik, s.repeat});
  return v;
}
void Dongle::set_loopback(bool on, std::function<std::vector<uint16_t>(std::vector<uint16_t>)> filter) {
  bus.model->loopback = on;
  bus.model->loopback_filter = std::move(filter);
}
void Dongle::set_transmitting(bool busy) { bus.model->transmitting = busy; }
std::vector<uint16_t> Dongle::wake_signal() const { return bus.model->wake; }
void Dongle::press(const std::vector<uint16_t> &edges, uint16_t elapsed_ms) { bus.model->receive(edges, elapsed_ms); }
void Dongle::queue_report(const std::vector<uint8_t> &report) { bus.model->reports.push_back(report); }
void Dongle::unplug() { bus.plugged = false; }

std::vector<uint8_t> make_image(const std::vector<uint32_t> &te) {
  std::vector<uint8_t> img(28 + 16 * te.size(), 0xFF);
  auto w32 = [&](size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) img[off + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  w32(0, 0xDEADBEEF);
  img[4] = 1, img[5] = 0, img[6] = 0, img[7] = 0;
  w32(8, static_cast<uint32_t>(te.size()));
  w32(16, 0x3F);
  w32(20, 15);
  w32(24, 0);
  for (size_t k = 0; k < te.size(); ++k) {
    size_t r = 28 + 16 * k;
    w32(r, static_cast<uint32_t>(0x1000 + k));
    w32(r + 4, te[k]);
    img[r + 13] = 1;
    img[r + 14] = 0;
    img[r + 15] = static_cast<uint8_t>(4 + k);
  }
  seal(img);
  return img;
}

void seal(std::vector<uint8_t> &img) {
  uint32_t crc = crc32_slow(img.data() + 16, static_cast<uint32_t>(img.size() - 16), 0xFFFFFFFF);
  memcpy(img.data() + 12, &crc, 4);
}

std::string temp_path(const std::string &name) {
  const char *t = getenv("TMPDIR");
  std::string dir = std::string(t != nullptr ? t : "/tmp") + "/zv_gen4c_" + std::to_string(getpid()) + "/";
  std::string mk = "mkdir -p '" + dir + "'";
  if (system(mk.c_str()) != 0) perror("mkdir");
  return dir + name;
}

std::vector<uint8_t> read_file(const std::string &p) {
  std::ifstream f(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void write_file(const std::string &p, const std::vector<uint8_t> &data) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

}  // namespace gen4t

using gen4t::bus;

extern "C" {

int gettimeofday(struct timeval *tv, void *) noexcept {
  gen4t::now_us += 1;
  tv->tv_sec = static_cast<time_t>(gen4t::now_us / 1000000);
  tv->tv_usec = static_cast<suseconds_t>(gen4t::now_us % 1000000);
  return 0;
}

int usleep(useconds_t us) {
  gen4t::now_us += us;
  return 0;
}

int hid_init(void) { return 0; }
int hid_exit(void) { return 0; }

struct hid_device_info *hid_enumerate(unsigned short, unsigned short) {
  if (!bus.plugged) return nullptr;
  auto *e = static_cast<hid_device_info *>(calloc(1, sizeof(hid_device_info)));
  e->path = gen4t::path;
  e->vendor_id = 0x20A0;
  e->product_id = 0x0006;
  e->serial_number = gen4t::serial;
  e->manufacturer_string = gen4t::mfr;
  e->product_string = gen4t::prod;
  e->interface_number = 0;
  return e;
}

void hid_free_enumeration(struct hid_device_info *devs) {
  while (devs != nullptr) {
    hid_device_info *n = devs->next;
    free(devs);
    devs = n;
  }
}

hid_device *hid_open_path(const char *) {
  if (!bus.plugged) return nullptr;
  bus.open = true;
  return reinterpret_cast<hid_device *>(&gen4t::handle_token);
}

void hid_close(hid_device *) { bus.open = false; }

int hid_write(hid_device *, const unsigned char *data, size_t length) {
  if (!bus.plugged || !bus.model) return -1;
  gen4t::now_us += gen4t::kReportUs;
  unsigned size = data[0] == 2 ? 32 : data[0] == 6 ? 64 : 0;
  if (size == 0 || length != size + 1) return static_cast<int>(length);
  auto reply = bus.model->command(data + 1, size);
  reply.insert(reply.begin(), static_cast<uint8_t>(size == 32 ? 1 : 5));
  bus.replies.push_back(reply);
  return static_cast<int>(length);
}

int hid_read_timeout(hid_device *, unsigned char *data, size_t length, int milliseconds) {
  if (!bus.plugged || !bus.model) return -1;
  std::deque<std::vector<uint8_t>> *q = !bus.replies.empty() ? &bus.replies : &bus.model->reports;
  if (q->empty()) {
    gen4t::now_us += static_cast<uint64_t>(milliseconds > 0 ? milliseconds : 0) * 1000;
    return 0;
  }
  gen4t::now_us += gen4t::kReportUs;
  auto r = q->front();
  q->pop_front();
  size_t n = r.size() < length ? r.size() : length;
  memcpy(data, r.data(), n);
  return static_cast<int>(n);
}

int hid_read(hid_device *dev, unsigned char *data, size_t length) { return hid_read_timeout(dev, data, length, 0); }

const wchar_t *hid_error(hid_device *) { return L"simulated"; }

int hid_get_manufacturer_string(hid_device *, wchar_t *s, size_t n) {
  wcsncpy(s, gen4t::mfr, n);
  return 0;
}
int hid_get_product_string(hid_device *, wchar_t *s, size_t n) {
  wcsncpy(s, gen4t::prod, n);
  return 0;
}
int hid_get_serial_number_string(hid_device *, wchar_t *s, size_t n) {
  wcsncpy(s, gen4t::serial, n);
  return 0;
}

}  // extern "C"
