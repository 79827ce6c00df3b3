// A simulated generation-4 dongle of a chosen revision on the sim's bus, opened
// through the library, with its command trace and state at hand.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/model_gen4.h"

namespace gen4t {

// One command exchange as the dongle received it.
struct Exchange {
  std::string cmd;
  unsigned size;                 // 32 or 64
  std::vector<uint8_t> payload;  // size - 12 request bytes
  uint32_t u32(size_t off) const {
    return payload[off] | payload[off + 1] << 8 | payload[off + 2] << 16 | static_cast<uint32_t>(payload[off + 3]) << 24;
  }
  uint16_t u16(size_t off) const { return static_cast<uint16_t>(payload[off] | payload[off + 1] << 8); }
};

// Plugs a dongle running firmware 4.<minor> and opens it; unplugs and closes
// on destruction.
class Dongle {
 public:
  explicit Dongle(int minor);
  ~Dongle();
  Dongle(const Dongle &) = delete;
  Dongle &operator=(const Dongle &) = delete;

  std::vector<Exchange> trace() const;  // command exchanges since the last clear
  std::vector<Exchange> trace(const std::string &cmd) const;
  void clear_trace();

  std::vector<uint8_t> image() const;
  void set_image(const std::vector<uint8_t> &img);
  void set_reported_size(uint32_t size);  // "cfg1_size" answers this instead

  // The nth (1-based) exchange of `cmd` from now on is refused (status 0xFF).
  void fail(const std::string &cmd, int nth);

  // Transmitted signals (arrays as uploaded); loopback feeds each one to the
  // dongle's own receiver, optionally through `filter`.
  std::vector<std::vector<uint16_t>> transmitted() const;
  using TransmitSetting = zivra_sim::Gen4Model::TransmitSetting;
  std::vector<TransmitSetting> transmit_settings() const;
  void set_loopback(bool on, std::function<std::vector<uint16_t>(std::vector<uint16_t>)> filter = {});
  void set_transmitting(bool busy);  // 4.10 answers 0 to "irtranset" while busy

  std::vector<uint16_t> wake_signal() const;

  // A remote button press the dongle sees: raw edges (mark first).
  void press(const std::vector<uint16_t> &edges, uint16_t elapsed_ms = 0);
  // One raw input report 7 (65 bytes) queued for the host.
  void queue_report(const std::vector<uint8_t> &report);
  void unplug();

  zivra_sim::Gen4Model &model() { return *model_; }

 private:
  std::shared_ptr<zivra_sim::Gen4Model> model_;
  zivra_sim::Device *dev_;
  size_t mark_ = 0;  // commands before this index are not in the trace
};

// The sim's clock.
uint64_t sim_now_us();

// A current image with the given per-record te values (hash k+1, key 4 + k).
std::vector<uint8_t> make_image(const std::vector<uint32_t> &te);
// Fixes the CRC of an image in place.
void seal(std::vector<uint8_t> &img);

std::string temp_path(const std::string &name);
std::vector<uint8_t> read_file(const std::string &path);
void write_file(const std::string &path, const std::vector<uint8_t> &data);

}  // namespace gen4t
