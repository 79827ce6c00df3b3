// Bulk-USB dongles of the first hardware: application firmware of generations 1
// to 3 driven by vendor control requests over a 1024-byte configuration memory
// (2-byte big-endian used size, settings in bytes 2 and 3, 6-byte records from
// byte 5), and the generation-1 and -2 bootloaders that program its flash in
// 128-byte pages. Both sides share one LegacyDongle, so the recorded buttons and
// settings survive a trip through the bootloader, and the application that
// comes back runs what was programmed.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/zivra_sim.h"

namespace zivra_sim {

// What survives a restart: the configuration memory and the flash.
struct LegacyDongle {
  static constexpr size_t kMemory = 1024;
  std::vector<uint8_t> memory = std::vector<uint8_t>(kMemory, 0xFF);
  std::vector<uint8_t> flash;
  uint8_t app_major = 2, app_minor = 1;
  // Virtual time between dropping off the bus and the other identity appearing.
  uint64_t reenumerate_us = 2000000;
  LegacyDongle();
  // Used bytes as bytes 0-1 hold them.
  size_t used() const { return static_cast<size_t>(memory[0]) << 8 | memory[1]; }
  void set_used(size_t n);
  // An empty memory with the default settings (delay 6, sensitivity 3, the
  // standard product variant).
  void format();
};

Identity legacy_app_identity(bool orbis = false);
Identity legacy_bootloader_identity(int generation);

class LegacyBootloaderModel;

class LegacyAppModel : public Model, public std::enable_shared_from_this<LegacyAppModel> {
 public:
  explicit LegacyAppModel(uint8_t major = 2, uint8_t minor = 1,
                          std::shared_ptr<LegacyDongle> dongle = std::make_shared<LegacyDongle>());
  int generation() const { return generation_; }
  LegacyDongle &dongle() { return *dongle_; }
  std::shared_ptr<LegacyDongle> shared_dongle() { return dongle_; }

  // ---- configuration ----
  void set_scm_hash(uint32_t h) { scm_hash_ = h; }
  void set_edition(uint8_t e) { edition_ = e; }  // 3.9's edition reply
  // Appends a record {hash, modifier, key} as the dongle would store it.
  void add_record(uint32_t hash, uint8_t modifier, uint8_t key);
  // The bootloader generation 0xC2/5 restarts into (2 by default; 1 for gen 1).
  void set_bootloader_generation(int g) { bl_generation_ = g; }

  // ---- user actions ----
  // A remote button: recorded or deleted when the dongle waits for one.
  void press_hash(uint32_t hash);
  // Presses `hash` when the host has read the state `polls` more times.
  void press_after_polls(int polls, uint32_t hash) {
    press_polls_ = polls;
    press_hash_ = hash;
  }
  // Presses `hash` at virtual time `at_us`; a generation-1 interrupt read waits
  // for it however long that is.
  void press_at(uint64_t at_us, uint32_t hash) { timed_.emplace(at_us, hash); }

  // ---- what the dongle holds ----
  uint8_t state() const { return state_; }
  size_t records() const;
  uint32_t record_hash(size_t j) const;
  uint8_t record_modifier(size_t j) const;
  uint8_t record_key(size_t j) const;
  int reloads() const { return reloads_; }
  int reboots() const { return reboots_; }
  // The last record request as sent: usage and modifier.
  uint16_t pending_key() const { return pending_key_; }
  uint16_t pending_modifier() const { return pending_mod_; }

  int on_control(Device &dev, const ControlSetup &s, uint8_t *data) override;
  int on_interrupt(Device &dev, uint8_t endpoint, uint8_t *data, int length, int *transferred,
                   unsigned int timeout) override;

 private:
  int find(uint32_t hash) const;
  void remove(size_t j);
  void finish(uint8_t state);
  void restart_into_bootloader(Device &dev);

  std::shared_ptr<LegacyDongle> dongle_;
  int generation_;
  uint32_t scm_hash_ = 0x00C0FFEE;
  uint8_t edition_ = 1;
  int bl_generation_;
  uint8_t state_ = 0;
  uint16_t pending_key_ = 0, pending_mod_ = 0;
  int press_polls_ = -1;
  uint32_t press_hash_ = 0;
  std::multimap<uint64_t, uint32_t> timed_;
  std::vector<uint8_t> interrupt_results_;  // generation 1: result bytes not yet read
  int reloads_ = 0, reboots_ = 0;
};

class LegacyBootloaderModel : public Model, public std::enable_shared_from_this<LegacyBootloaderModel> {
 public:
  LegacyBootloaderModel(int generation, std::shared_ptr<LegacyDongle> dongle = std::make_shared<LegacyDongle>(),
                        uint32_t flash_size = 16384, uint16_t page_size = 128);
  int generation() const { return generation_; }
  LegacyDongle &dongle() { return *dongle_; }
  void set_version(uint8_t major, uint8_t minor) {
    major_ = major;
    minor_ = minor;
  }
  void set_flash(uint32_t flash_size, uint16_t page_size) {
    flash_size_ = flash_size;
    page_size_ = page_size;
  }
  // Faults: page `page` reports a CRC error on its first `attempts` sends
  // (-1: on every send).
  void crc_error_on(uint16_t page, int attempts) { crc_faults_[page] = attempts; }
  // After leaving, the application that enumerates (default: generation of the
  // dongle's app version).
  bool left() const { return left_; }

  // ---- what the host did ----
  std::vector<uint32_t> dummies;    // generation 1: the dummy word of each page packet
  std::vector<uint16_t> sent_pages; // generation 2: page_index of each packet, retries included
  size_t pages_written() const { return written_; }

  int on_control(Device &dev, const ControlSetup &s, uint8_t *data) override;

 private:
  void leave(Device &dev);

  std::shared_ptr<LegacyDongle> dongle_;
  int generation_;
  uint8_t major_, minor_ = 0;
  uint32_t flash_size_;
  uint16_t page_size_;
  size_t next_page_ = 0;  // generation 1 writes in order
  size_t written_ = 0;
  std::map<uint16_t, int> crc_faults_;
  std::map<uint16_t, int> attempts_;
  uint32_t status_page_ = 0;
  uint8_t status_err_ = 0;
  bool left_ = false;
};

}  // namespace zivra_sim
