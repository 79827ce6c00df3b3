// The fixture over the sim: a generation-4 model of the chosen revision plugged
// on the virtual bus and opened through the library.
#include "dongle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "zivra/crc.h"
#include "zivra/zivra.h"

namespace gen4t {

namespace zs = zivra_sim;

uint64_t sim_now_us() { return zs::now_us(); }

Dongle::Dongle(int minor) : model_(std::make_shared<zs::Gen4Model>()) {
  zs::reset();
  model_->set_version(4, static_cast<uint16_t>(minor), 0);
  model_->set_capacity(200);
  model_->set_record_te(300);
  model_->push_log("sim: log of a simulated dongle, long enough to be cut");
  dev_ = &zs::plug(zs::gen4_app_identity(), model_);
  int rc = zv_open_device(0x20A0, nullptr);
  if (rc != 2) fprintf(stderr, "simulated dongle 4.%d did not open: %d\n", minor, rc);
  mark_ = model_->commands().size();
}

Dongle::~Dongle() {
  zv_close_device();
  zs::reset();
}

std::vector<Exchange> Dongle::trace() const {
  std::vector<Exchange> v;
  const auto &all = model_->commands();
  for (size_t i = mark_; i < all.size(); ++i)
    v.push_back(Exchange{all[i].word, static_cast<unsigned>(all[i].size),
                         std::vector<uint8_t>(all[i].payload(), all[i].payload() + all[i].payload_size())});
  return v;
}

std::vector<Exchange> Dongle::trace(const std::string &cmd) const {
  std::vector<Exchange> v;
  for (auto &e : trace())
    if (e.cmd == cmd) v.push_back(e);
  return v;
}

void Dongle::clear_trace() { mark_ = model_->commands().size(); }
std::vector<uint8_t> Dongle::image() const { return model_->image(); }
void Dongle::set_image(const std::vector<uint8_t> &img) { model_->set_image(img); }
void Dongle::set_reported_size(uint32_t size) { model_->set_reported_size(size); }
void Dongle::fail(const std::string &cmd, int nth) { model_->refuse(cmd, nth); }
std::vector<std::vector<uint16_t>> Dongle::transmitted() const { return model_->transmitted(); }
std::vector<Dongle::TransmitSetting> Dongle::transmit_settings() const { return model_->transmit_settings(); }
void Dongle::set_loopback(bool on, std::function<std::vector<uint16_t>(std::vector<uint16_t>)> filter) {
  model_->set_loopback(on, std::move(filter));
}
void Dongle::set_transmitting(bool busy) { model_->set_transmitting(busy); }
std::vector<uint16_t> Dongle::wake_signal() const { return model_->wake_signal(); }
void Dongle::press(const std::vector<uint16_t> &edges, uint16_t elapsed_ms) { model_->press_edges(edges, elapsed_ms); }
void Dongle::queue_report(const std::vector<uint8_t> &report) { dev_->queue_input(report); }
void Dongle::unplug() { dev_->unplug(); }

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
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) perror("mkdir");
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
