// A generation-4 dongle of any revision 4.0 .. 4.10, as a command processor:
// command packets in, reply packets and IR capture reports out. Knows nothing
// of the bus that carries them.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace gen4t {

struct Exchange;

class Gen4Model {
 public:
  explicit Gen4Model(int minor);

  // One command packet (32 or 64 bytes: word, status, payload); returns the
  // reply packet of the same size.
  std::vector<uint8_t> command(const uint8_t *pkt, unsigned size);

  // A remote button press: raw edges as the receiver sees them.
  void receive(const std::vector<uint16_t> &edges, uint16_t elapsed_ms);

  int minor;
  int state = 0;
  std::vector<uint8_t> image;
  bool size_override = false;
  uint32_t reported_size = 0;
  uint32_t last_hash = 0xFFFFFFFF;
  bool loopback = false;
  std::function<std::vector<uint16_t>(std::vector<uint16_t>)> loopback_filter;
  bool transmitting = false;
  std::vector<std::vector<uint16_t>> transmitted;
  struct Setting {
    int16_t len;
    uint16_t ik;
    uint8_t repeat;
  };
  std::vector<Setting> settings;
  std::vector<uint16_t> wake;
  uint32_t wake_en = 0;
  uint8_t high_add = 0, low_add = 0;
  int kills = 0;
  std::deque<std::vector<uint8_t>> reports;  // IR capture reports (id 7, 65 bytes)
  std::vector<Exchange> *trace = nullptr;
  // (command, nth from now) pairs answering status 0xFF.
  std::vector<std::pair<std::string, int>> failures;

 private:
  bool answers(const std::string &cmd) const;
  void stream(const std::vector<uint16_t> &edges, uint16_t elapsed_ms);
  void seal();
  uint8_t pending_[3] = {1, 0, 0};
  bool pending_lp_ = false;
  std::vector<uint8_t> upload_;
  size_t upload_want_ = 0;
  std::vector<uint8_t> wake_upload_;
  size_t wake_want_ = 0;
};

}  // namespace gen4t
