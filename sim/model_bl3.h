// Generation-3 HID bootloader model (0x20A0:0x0005), revisions 3.0 .. 3.3, with
// its flash: the bootloader, the application area and the configuration storage.
//
// FLASH
//   [0, bootloader_kb KiB)             the bootloader itself
//   [app_base(), flash end - 8 KiB)    the application area ("erasesec", "program")
//   [flash end - 8 KiB, flash end)     configuration storage, never erased
//   Revision 3.2 is the stage-2 bootloader: it sits at bootloader_kb KiB and its
//   application starts 0x2C00 further on. Erased bytes read 0xFF.
//
// FIRMWARE IMAGE
//   A flat image beginning with its header (app_info_v1_t / app_info_v2_t of
//   zivra/app_info.h). app_crc covers neither the header nor anything else the
//   host may rewrite before programming: it is fw_image_crc(image, app_size), the
//   kit's crc32_slow seeded with 0xFFFFFFFF over bytes [256, app_size) - every byte
//   after a 256-byte header block. An image of 256 bytes or less has an empty
//   range, whose CRC is the seed.
//   "checkapp" passes when the header at app_base() carries the signature, header
//   version 1 or 2, an app_size inside the area and the matching app_crc, and (3.1
//   and later) a version-2 image was programmed in the mode its `encrypted` byte
//   asks for: plain ("uncrypt" before "program") exactly when `encrypted` is 0.
//   Encrypted images are stored as they come, not scrambled.
//
// RE-ENUMERATION
//   "enterapp" with a valid application: the dongle resets (drops off the bus
//   without answering) and after reenumerate_us comes back as the generation-4
//   application whose version and image header are the programmed ones - the
//   Gen4Model it came from when there is one (set_app_model), so its recorded
//   buttons survive, else a fresh one. A 3.1 that has just been given the image
//   named "Stage2 1.0 [null]" comes back as the stage-2 bootloader, a Bl3Model(2)
//   over the same flash. With an invalid application "enterapp" answers 0 and the
//   dongle stays.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/zivra_sim.h"

namespace zivra_sim {

class Gen4Model;

// The edition name of the stage-2 bootloader image that revision 3.1 installs.
inline constexpr const char *kStage2Name = "Stage2 1.0 [null]";
inline constexpr uint32_t kStage2Size = 0x2B00;
inline constexpr uint32_t kStage2Span = 0x2C00;    // flash the stage-2 bootloader occupies
inline constexpr uint32_t kConfigStorage = 0x2000; // at the end of flash
inline constexpr size_t kImageHeaderBlock = 256;   // header bytes the CRC leaves out

struct FlashLayout {
  uint32_t flash_kb = 64;
  uint32_t bootloader_kb = 16;
  uint32_t page_size = 64;
};

// CRC of an image as the bootloader checks it: bytes [256, len) of `image`.
uint32_t fw_image_crc(const uint8_t *image, size_t len);

struct ImageFields {
  uint32_t header_version = 2;  // 1 or 2 (any other value is written as given, v2 layout)
  std::string name = "ZIVRA-STD";
  uint16_t major = 4, minor = 10, patch = 0;
  uint32_t scm_hash = 0xC0FFEE;
  size_t size = 0;        // image bytes; 0: 448 (a 256-byte header block and three 64-byte pages)
  uint32_t app_size = 0;  // header's app_size; 0: size
  uint8_t encrypted = 1;
  uint8_t boot_flag = 0x55;
  uint8_t tested = 0xFF;
  uint32_t build_timestamp = 1767225600;
  std::string type = "release", machine = "ci", arch = "arm", branch = "main";
};
inline constexpr size_t kDefaultImageSize = 448;

// A valid image: the header, then a deterministic pattern, app_crc set. A size
// below the header block cuts the image (and its header) at that size.
std::vector<uint8_t> make_fw_image(const ImageFields &fields);
// The stage-2 bootloader image: named kStage2Name, kStage2Size bytes.
std::vector<uint8_t> stage2_image();

class Bl3Model : public CommandModel {
 public:
  explicit Bl3Model(int minor, FlashLayout layout = {});

  // ---- configuration ----
  int minor() const { return minor_; }
  const FlashLayout &layout() const { return layout_; }
  std::vector<uint8_t> &flash() { return flash_; }
  const std::vector<uint8_t> &flash() const { return flash_; }
  uint32_t app_base() const;
  uint32_t area_end() const;  // first byte of the configuration storage
  // Writes an image at app_base() as if programmed (mode matching its header).
  void install_app(const std::vector<uint8_t> &image);
  // Writes the stage-2 bootloader image at bootloader_kb KiB (revision 3.2).
  void install_stage2(const std::vector<uint8_t> &image);
  void set_scm_hash(uint32_t hash) { scm_hash_ = hash; }
  void set_log(std::string text) { log_ = std::move(text); }
  // "flash_info" reports these instead of the real layout (which stays).
  void set_flash_desc(uint32_t bl_kb, uint32_t flash_kb, uint32_t page);
  // Virtual time between dropping off the bus and the next identity appearing.
  void set_reenumerate_us(uint64_t us) { reenumerate_us_ = us; }
  // The application this dongle runs when it leaves the bootloader.
  void set_app_model(std::shared_ptr<Gen4Model> app) { app_model_ = std::move(app); }
  std::shared_ptr<Gen4Model> app_model() const { return app_model_; }

  // ---- faults ----
  // The k-th data packet (0-based) of the next programming run is acked 1, not written.
  void refuse_page(int k) { refuse_page_ = k; }
  void fail_checkapp(bool on) { fail_checkapp_ = on; }
  // "enterapp" drops the dongle off the bus for good.
  void stay_gone_after_enterapp(bool on) { stay_gone_ = on; }

  // ---- observation ----
  const std::vector<Command> &commands() const { return commands_; }
  size_t count(const std::string &word) const;
  const std::vector<uint32_t> &erased() const { return erased_; }
  size_t pages_programmed() const { return pages_programmed_; }
  // Data packets refused because their page was not erased.
  size_t unerased_writes() const { return unerased_writes_; }
  bool uncrypt_seen() const { return uncrypt_seen_; }
  bool app_valid() const;
  std::vector<uint8_t> app_header() const;  // 256 bytes at app_base()

  void on_command(Device &dev, const Command &cmd) override;
  void on_data(Device &dev, const uint8_t *block, size_t len) override;

 private:
  uint32_t program_page() const { return minor_ == 0 ? 64 : layout_.page_size; }
  bool image_valid_at(uint32_t base, bool plain) const;
  void write(uint32_t addr, const std::vector<uint8_t> &bytes);
  void enter_app(Device &dev, const Command &cmd);

  int minor_;
  FlashLayout layout_;
  FlashLayout reported_;
  std::vector<uint8_t> flash_;
  uint32_t scm_hash_ = 0xB0071000;
  std::string log_;
  uint64_t reenumerate_us_ = 300000;
  std::shared_ptr<Gen4Model> app_model_;

  bool uncrypt_pending_ = false;  // "uncrypt" since the last "program"
  bool plain_ = true;             // mode the application was programmed in
  bool run_active_ = false;
  uint32_t run_pages_ = 0, run_done_ = 0, run_packets_ = 0;

  int refuse_page_ = -1;
  bool fail_checkapp_ = false;
  bool stay_gone_ = false;

  std::vector<Command> commands_;
  std::vector<uint32_t> erased_;
  size_t pages_programmed_ = 0;
  size_t unerased_writes_ = 0;
  bool uncrypt_seen_ = false;
};

}  // namespace zivra_sim
