// Generation-4 dongle model: the named-command application firmware (revision
// 4.0 command set) and a generation-4 HID bootloader identity.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/zivra_sim.h"

namespace zivra_sim {

class Gen4Model : public CommandModel {
 public:
  Gen4Model();

  // ---- configuration of the simulated dongle ----
  void set_version(uint16_t major, uint16_t minor, uint16_t patch, uint32_t scm_hash = 0x1234ABCD,
                   const std::string &type = "release");
  // Application image header read by "h_peek": header version 1 or 2 and the name.
  void set_app_header(uint32_t header_version, const std::string &name);
  std::vector<uint8_t> &app_header() { return app_header_; }
  // Buttons the configuration image has room for.
  void set_capacity(size_t n) { capacity_ = n; }
  // Text "dmesg_pkv" returns (one piece per call, then empty).
  void push_log(const std::string &text) { log_.push_back(text); }

  // ---- user actions ----
  // Presses a remote button given as edge durations (hashed with the IR library's
  // hash, max edge 2400) or as a ready hash.
  void press_edges(std::vector<uint16_t> edges);
  void press_hash(uint32_t hash);
  // Presses `hash` when the host has polled "ir_state" `polls` more times, as a
  // user would while the host waits.
  void press_after_polls(int polls, uint32_t hash) {
    press_polls_ = polls;
    press_hash_ = hash;
  }
  // Forces the record/delete state byte.
  void set_state(uint8_t s) { state_ = s; }

  // ---- what the dongle holds ----
  uint8_t state() const { return state_; }
  const std::vector<uint8_t> &image() const { return image_; }
  std::vector<uint8_t> &image() { return image_; }
  // Recorded buttons from the image: count and record k's fields.
  size_t buttons() const;
  uint32_t button_hash(size_t k) const;
  // CRC of the image as "updatecrc" computes it, and whether the header carries it.
  uint32_t image_crc() const;
  bool crc_valid() const;
  // Every command word received, in order, and the debug pipes enabled.
  const std::vector<Command> &commands() const { return commands_; }
  size_t count(const std::string &word) const;
  uint64_t pipes() const { return pipes_; }
  bool boot_flag() const { return boot_flag_; }
  bool usb_if() const { return usb_if_; }

  void on_command(Device &dev, const Command &cmd) override;

 private:
  void set_size(uint32_t n);
  void record_button(uint32_t hash);
  void delete_button(uint32_t hash);
  int find(uint32_t hash) const;

  std::vector<uint8_t> version_;
  std::vector<uint8_t> app_header_;
  std::vector<uint8_t> image_;
  std::vector<std::string> log_;
  std::vector<Command> commands_;
  uint8_t pending_[3] = {};
  uint8_t state_ = 0;
  int press_polls_ = -1;
  uint32_t press_hash_ = 0;
  size_t capacity_ = 64;
  uint64_t pipes_ = 0;
  bool boot_flag_ = false;
  bool usb_if_ = false;
};

// A generation-4 HID bootloader (0x20A0:0x0005) answering "getversion".
class Gen4BootloaderModel : public CommandModel {
 public:
  explicit Gen4BootloaderModel(uint16_t major = 3, uint16_t minor = 3);
  void on_command(Device &dev, const Command &cmd) override;
  size_t count(const std::string &word) const;

 private:
  uint16_t major_, minor_;
  std::vector<std::string> words_;
};

// Identities of the two.
Identity gen4_app_identity(int interface = 0);
Identity gen4_bootloader_identity();

}  // namespace zivra_sim
