// Generation-4 dongle model: the named-command application firmware of any
// revision 4.0 .. 4.10 (only the commands that revision knows are answered,
// the rest get status 0xFE) and a generation-4 HID bootloader identity.
// "reset" re-enumerates: as the generation-3 bootloader (Bl3Model) when the
// last boot-flag command was "bflag_stay", else as the same application. Create
// the model with std::make_shared: the bootloader carries it, so the recorded
// buttons survive an upgrade.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/model_bl3.h"
#include "sim/zivra_sim.h"

namespace zivra_sim {

class Gen4Model : public CommandModel, public std::enable_shared_from_this<Gen4Model> {
 public:
  Gen4Model();

  // ---- configuration of the simulated dongle ----
  // The reported version; major 4 with minor 0 .. 10 also picks the command set.
  void set_version(uint16_t major, uint16_t minor, uint16_t patch, uint32_t scm_hash = 0x1234ABCD,
                   const std::string &type = "release");
  int revision() const { return revision_; }
  // Application image header read by "h_peek": header version 1 or 2 and the name.
  void set_app_header(uint32_t header_version, const std::string &name);
  std::vector<uint8_t> &app_header() { return app_header_; }
  // The raw 256-byte header (shorter input is padded with 0xFF).
  void set_app_header_bytes(std::vector<uint8_t> header);
  // The whole firmware image it runs: the header and what follows, which a
  // bootloader it resets into finds in its flash.
  void set_firmware(const std::vector<uint8_t> &image);
  std::vector<uint8_t> firmware() const;

  // ---- re-enumeration ----
  // The bootloader "reset" leads to when the boot flag says stay (default 3.3).
  void set_bootloader(int minor, FlashLayout layout = {}) {
    bl_minor_ = minor;
    bl_layout_ = layout;
  }
  // Virtual time between dropping off the bus and the next identity appearing.
  void set_reenumerate_us(uint64_t us) { reenumerate_us_ = us; }
  // The bootloader this application resets into, as "reset" would plug it.
  std::shared_ptr<Bl3Model> make_bootloader();
  // Buttons the dongle records at most, and the bytes of configuration memory
  // that "cfg1_poke" / "cfg1_write" may fill.
  void set_capacity(size_t n) { capacity_ = n; }
  void set_memory(size_t bytes) { memory_ = bytes; }
  // The te value a newly recorded button gets (the timing the receiver measured).
  void set_record_te(uint32_t te) { record_te_ = te; }
  // Text "dmesg_pkv" returns (one piece per call, then empty).
  void push_log(const std::string &text) { log_.push_back(text); }
  // Replaces the configuration image (any bytes, even a broken header).
  void set_image(std::vector<uint8_t> img) { image_ = std::move(img); }
  // "cfg1_size" answers `size` instead of the image length.
  void set_reported_size(uint32_t size) {
    size_override_ = true;
    reported_size_ = size;
  }
  // The nth (1-based) "word" from now on is refused with status 0xFF before the
  // dongle acts on it, as firmware refuses an address it can not write.
  void refuse(const std::string &word, int nth = 1) { refusals_.push_back({word, nth}); }

  // ---- IR transmitter ----
  // Loopback: every signal the dongle transmits reaches its own receiver (through
  // `filter` when given) and is hashed and recorded like a button press. Its own
  // transmissions are not streamed to the host.
  using Filter = std::function<std::vector<uint16_t>(std::vector<uint16_t>)>;
  void set_loopback(bool on, Filter filter = {}) {
    loopback_ = on;
    loopback_filter_ = std::move(filter);
  }
  // A transmission still running: revision 4.10 answers 0 to "irtranset".
  void set_transmitting(bool busy) { transmitting_ = busy; }
  struct TransmitSetting {
    int16_t len;
    uint16_t ik;      // 0 before 4.7 (not in that request)
    uint8_t repeat;   // 0 before 4.7
  };
  // Every signal transmitted (the array as uploaded) and every "irtranset".
  const std::vector<std::vector<uint16_t>> &transmitted() const { return transmitted_; }
  const std::vector<TransmitSetting> &transmit_settings() const { return settings_; }
  int kills() const { return kills_; }
  // Wake signal and settings as stored by "rbsetlen"/"rbwakesig" and "rbset".
  const std::vector<uint16_t> &wake_signal() const { return wake_; }
  uint32_t wake_enable() const { return wake_en_; }
  uint8_t wake_high() const { return high_add_; }
  uint8_t wake_low() const { return low_add_; }

  // ---- user actions ----
  // Presses a remote button given as edge durations (mark first). From 4.9 the
  // edges are streamed to the host in input reports 7 with `elapsed_ms`; the
  // hash (the IR library's, max edge 2400) drives recording and deleting.
  void press_edges(std::vector<uint16_t> edges, uint16_t elapsed_ms = 0);
  void press_hash(uint32_t hash);
  // Presses `hash` when the host has polled "ir_state" `polls` more times, as a
  // user would while the host waits.
  void press_after_polls(int polls, uint32_t hash) {
    press_polls_ = polls;
    press_hash_ = hash;
  }
  // Like press_after_polls with a real signal: streamed (4.9+) and hashed.
  void press_edges_after_polls(int polls, std::vector<uint16_t> edges) {
    edge_polls_ = polls;
    edge_press_ = std::move(edges);
  }
  // A receiver that never rests (a held button, a noisy room): every read of the
  // input queue finds a report 7 of an NEC frame ready, on any revision.
  void set_stream_forever(bool on) { stream_forever_ = on; }
  // Captures received while the dongle handles a command are queued ahead of
  // that command's reply, as a 4.9+ dongle's input queue holds them.
  void set_stream_ahead(bool on) { stream_ahead_ = on; }
  // Forces the record/delete state byte.
  void set_state(uint8_t s) { state_ = s; }

  // ---- what the dongle holds ----
  uint8_t state() const { return state_; }
  const std::vector<uint8_t> &image() const { return image_; }
  std::vector<uint8_t> &image() { return image_; }
  // Recorded buttons from the image (only whole records): count and record k's hash.
  size_t buttons() const;
  uint32_t button_hash(size_t k) const;
  // CRC of the image as "updatecrc" computes it, and whether the header carries it.
  uint32_t image_crc() const;
  bool crc_valid() const;
  // Hash of the last IR signal seen ("irhist"); 0xFFFFFFFF before any.
  uint32_t last_hash() const { return last_hash_; }
  // Every command word received, in order, and the debug pipes enabled.
  const std::vector<Command> &commands() const { return commands_; }
  // Forgets the commands received (a long run keeps its own memory flat).
  void clear_commands() { commands_.clear(); }
  size_t count(const std::string &word) const;
  uint64_t pipes() const { return pipes_; }
  bool boot_flag() const { return boot_flag_; }
  // The last boot-flag command was "bflag_stay": "reset" enters the bootloader.
  bool dfu_stay() const { return dfu_stay_; }
  bool usb_if() const { return usb_if_; }

  void on_command(Device &dev, const Command &cmd) override;
  void on_poll(Device &dev) override;

 private:
  bool knows(const std::string &word) const;
  bool refused(const std::string &word);
  void seal();
  void set_size(uint32_t n);
  bool store(uint32_t addr, const uint8_t *bytes, size_t n);
  void receive(std::vector<uint16_t> edges);
  void stream(const std::vector<uint16_t> &edges, uint16_t elapsed_ms);
  void record_button(uint32_t hash);
  void delete_button(uint32_t hash);
  int find(uint32_t hash) const;
  void transmit_command(Device &dev, const Command &c);
  void handle(Device &dev, const Command &c);
  void reenumerate(Device &dev);
  void flush_stream(Device &dev);

  std::vector<uint8_t> version_;
  int revision_ = 0;
  std::vector<uint8_t> app_header_;
  std::vector<uint8_t> image_;
  std::vector<std::string> log_;
  std::vector<Command> commands_;
  std::vector<std::pair<std::string, int>> refusals_;
  uint8_t pending_[3] = {};
  bool pending_lp_ = false;
  uint8_t state_ = 0;
  int press_polls_ = -1;
  uint32_t press_hash_ = 0;
  size_t capacity_ = 64;
  size_t memory_ = 65536;
  uint32_t record_te_ = 130;
  bool size_override_ = false;
  uint32_t reported_size_ = 0;
  uint32_t last_hash_ = 0xFFFFFFFF;
  uint64_t pipes_ = 0;
  bool boot_flag_ = false;
  bool usb_if_ = false;

  bool loopback_ = false;
  Filter loopback_filter_;
  bool transmitting_ = false;
  std::vector<std::vector<uint16_t>> transmitted_;
  std::vector<TransmitSetting> settings_;
  std::vector<uint8_t> upload_;
  size_t upload_want_ = 0;
  int kills_ = 0;
  std::vector<uint16_t> wake_;
  std::vector<uint8_t> wake_upload_;
  size_t wake_want_ = 0;
  uint32_t wake_en_ = 0;
  uint8_t high_add_ = 0, low_add_ = 0;
  std::vector<std::vector<uint8_t>> outbox_;  // report-7 payloads not yet on the bus

  std::vector<uint8_t> app_body_;  // firmware bytes after the header block
  bool dfu_stay_ = false;
  int bl_minor_ = 3;
  FlashLayout bl_layout_;
  uint64_t reenumerate_us_ = 300000;
  int edge_polls_ = -1;
  std::vector<uint16_t> edge_press_;
  bool stream_forever_ = false;
  bool stream_ahead_ = false;
  Device *handling_ = nullptr;  // the device whose command is being handled
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
